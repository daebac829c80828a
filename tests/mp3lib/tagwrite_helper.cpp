// Writes one tag with vbmp3_setTagInfo in a process of its own, for the
// tests that kill the write, run it as an unprivileged user or limit the
// size of the files it may write.
//
//   tagwrite_helper PATH TITLE [--as-nobody] [--file-size-limit BYTES]
//
// Prints "go" just before the write and the write's duration in
// microseconds after it. Exit status: 0 written, 1 refused, 2 set-up failed.

#include "taginfo.h"
#include "vbmp3.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <csignal>
#include <cstdio>
#include <cstdlib>
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
            // Writes past the limit fail with EFBIG instead of killing us.
            std::signal(SIGXFSZ, SIG_IGN);
            if (setrlimit(RLIMIT_FSIZE, &r) != 0)
                return 2;
        }
    }

    tags::TagInfo tag;
    tag.TrackName = tags::fitFieldWithNul(QString::fromUtf8(argv[2]), tags::kTextWidth);
    tag.ArtistName = tags::fitFieldWithNul(QStringLiteral("Helper"), tags::kTextWidth);
    tag.AlbumName = tags::fitFieldWithNul(QStringLiteral("Album"), tags::kTextWidth);
    tag.Year = tags::fitFieldWithNul(QStringLiteral("2024"), tags::kYearWidth);
    tag.Comment = tags::fitFieldWithNul(QString(), tags::kTextWidth);
    tag.GenreNo = 17;
    mp3lib::TagInfoWire wire = tag.toWire();

    std::printf("go\n");
    std::fflush(stdout);
    QElapsedTimer timer;
    timer.start();
    const int written = vbmp3_setTagInfo(argv[1], wire, 0, 1);
    std::printf("%lld\n", static_cast<long long>(timer.nsecsElapsed() / 1000));
    std::fflush(stdout);
    // No exit handlers: in a coverage build they would write its data files
    // under the same kills and size limit as the tag, and leave them torn.
    std::_Exit(written ? 0 : 1);
}
