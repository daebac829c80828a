// The library binding on arbitrary files: the bytes go into a real file,
// its tag is read, a fixed record is written, and the file read again.
//
// - A write that succeeds leaves a file whose tag reads back as written and
//   whose MPEG audio bytes are those of the original;
// - a refused write leaves the file byte for byte as it was;
// - either way nothing else is left in the folder;
// - whatever a read gives is valid UTF-8 in every text field, and the same
//   as when TagLib reads the whole file by itself.

#include "core/tags/mpegaudio.h"
#include "core/tags/taginfo.h"
#include "core/tags/vbmp3.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using mp3lib::TagInfoWire;
using mp3lib::detail::AudioSpan;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "binding invariant broken: %s\n", what);
    std::abort();
}

// A folder of our own, in memory where the system has one (the write
// flushes every copy it makes); removed at exit.
const char *folder()
{
    static char dir[64];
    if (!dir[0]) {
        const char *base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::snprintf(dir, sizeof dir, "%s/dorvasu-fuzz-XXXXXX", base);
        if (!::mkdtemp(dir))
            fail("no temporary folder");
        std::atexit([] {
            char file[80];
            std::snprintf(file, sizeof file, "%s/song.mp3", dir);
            ::unlink(file);
            ::rmdir(dir);
        });
    }
    return dir;
}

void writeFile(const std::string &path, const std::uint8_t *data, std::size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, data, size) != ssize_t(size))
        fail("cannot write the input file");
    ::close(fd);
}

QByteArray readFile(const std::string &path)
{
    QByteArray bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return bytes;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, n);
    ::close(fd);
    return bytes;
}

AudioSpan audioOf(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const AudioSpan span = fd < 0 ? AudioSpan{} : mp3lib::detail::findMpegAudio(fd);
    if (fd >= 0)
        ::close(fd);
    return span;
}

int entriesIn(const char *dir)
{
    int n = 0;
    if (DIR *d = ::opendir(dir)) {
        while (const dirent *e = ::readdir(d))
            n += std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0;
        ::closedir(d);
    }
    return n;
}

QString text(const char *field, int width)
{
    return tags::TrimTagStr(QString::fromUtf8(field, qstrnlen(field, width)));
}

void checkUtf8(const TagInfoWire &w)
{
    for (auto [field, width] : {std::pair{w.TrackName, 128}, {w.ArtistName, 128},
                                {w.AlbumName, 128}, {w.Year, 5}, {w.Comment, 128},
                                {w.GenreName, 128}}) {
        if (!QByteArrayView(field, qstrnlen(field, width)).isValidUtf8())
            fail("a field read is not valid UTF-8");
    }
}

const QString kFields[5] = {QStringLiteral("Fuzz title"), QStringLiteral("歌手の名前"),
                            QStringLiteral("Album"), QStringLiteral("2024"),
                            QStringLiteral("コメント")};

TagInfoWire record()
{
    tags::TagInfo t;
    t.TrackName = tags::fitFieldWithNul(kFields[0], tags::kTextWidth);
    t.ArtistName = tags::fitFieldWithNul(kFields[1], tags::kTextWidth);
    t.AlbumName = tags::fitFieldWithNul(kFields[2], tags::kTextWidth);
    t.Year = tags::fitFieldWithNul(kFields[3], tags::kYearWidth);
    t.Comment = tags::fitFieldWithNul(kFields[4], tags::kTextWidth);
    t.GenreNo = 17;
    return t.toWire();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (!vbmp3_init())
        fail("vbmp3_init");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string path = std::string(folder()) + "/song.mp3";
    writeFile(path, data, size);
    const QByteArray original(reinterpret_cast<const char *>(data), qsizetype(size));
    const AudioSpan audio = audioOf(path);

    TagInfoWire read;
    std::memset(&read, 0, sizeof read);
    const bool ok = vbmp3_getFileTagInfo(path.c_str(), read) != 0;
    if (ok)
        checkUtf8(read);
    TagInfoWire byTagLib;
    std::memset(&byTagLib, 0, sizeof byTagLib);
    mp3lib::setTagLibFileStreamForTesting(true);
    const bool okByTagLib = vbmp3_getFileTagInfo(path.c_str(), byTagLib) != 0;
    mp3lib::setTagLibFileStreamForTesting(false);
    if (ok != okByTagLib || std::memcmp(&read, &byTagLib, sizeof read) != 0)
        fail("the tag reads otherwise than through TagLib alone");

    TagInfoWire wire = record();
    const bool written = vbmp3_setTagInfo(path.c_str(), wire, 0, 1) != 0;
    if (entriesIn(folder()) != 1)
        fail("the write left a file beside the song");
    const QByteArray now = readFile(path);
    if (!written) {
        if (now != original)
            fail("a refused write changed the file");
        return 0;
    }

    if (!audio.found)
        fail("a file without MPEG audio was written");
    TagInfoWire back;
    std::memset(&back, 0, sizeof back);
    if (!vbmp3_getFileTagInfo(path.c_str(), back))
        fail("the written tag does not read back");
    checkUtf8(back);
    const QString got[5] = {text(back.TrackName, 128), text(back.ArtistName, 128),
                            text(back.AlbumName, 128), text(back.Year, 5),
                            text(back.Comment, 128)};
    // A field the file already held (as the tag frame shows it: trimmed,
    // cut to the box) is left as stored, so it reads back as it was.
    for (int i = 0; i < 5; ++i) {
        if (tags::TrimTagStr(got[i]).left(i == 3 ? 4 : 30) != kFields[i]) {
            std::fprintf(stderr, "field %d: \"%s\"\n", i, qPrintable(got[i]));
            fail("a field reads back otherwise than written");
        }
    }
    if (back.GenreNo != 17)
        fail("the genre reads back otherwise than written");

    const AudioSpan after = audioOf(path);
    const qint64 length = audio.end - audio.begin;
    if (!after.found || after.end - after.begin != length
        || now.mid(after.begin, length) != original.mid(audio.begin, length))
        fail("the audio changed");
    return 0;
}
