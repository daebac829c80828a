// Writes one tag with vbmp3_setTagInfo in a process of its own, for the
// tests that kill the write, run it as an unprivileged user or limit the
// size of the files it may write.
//
//   tagwrite_helper PATH TITLE [--as-nobody] [--file-size-limit BYTES]
//
// Exit status: 0 written, 1 refused, 2 set-up failed.

#include "taginfo.h"
#include "vbmp3.h"

#include <csignal>
#include <cstring>
#include <grp.h>
#include <sys/resource.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--as-nobody") == 0 && geteuid() == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                return 2;
        } else if (std::strcmp(argv[i], "--file-size-limit") == 0 && i + 1 < argc) {
            const rlim_t limit = std::strtoull(argv[++i], nullptr, 10);
            const rlimit r{limit, limit};
            std::signal(SIGXFSZ, SIG_IGN);   // writes past the limit fail with EFBIG instead
            if (setrlimit(RLIMIT_FSIZE, &r) != 0)
                return 2;
        }
    }
    tags::TagInfo tag;   // the fields of helperV1 in tests/data/tagwrite.txt
    tag.TrackName = tags::fitFieldWithNul(QString::fromUtf8(argv[2]), tags::kTextWidth);
    tag.ArtistName = tags::fitFieldWithNul("Helper", tags::kTextWidth);
    tag.AlbumName = tags::fitFieldWithNul("Album", tags::kTextWidth);
    tag.Year = tags::fitFieldWithNul("2024", tags::kYearWidth);
    tag.Comment = tags::fitFieldWithNul({}, tags::kTextWidth);
    tag.GenreNo = 17;
    mp3lib::TagInfoWire wire = tag.toWire();
    return vbmp3_setTagInfo(argv[1], wire, 0, 1) ? 0 : 1;
}
