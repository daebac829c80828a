// Tag writes on each route: how long a write of a 10 MB file with a 200 KB
// cover takes, and what random kills of the writer leave behind (the old
// file, the new one, or anything else: "mixed").
//
//   bench_tagwrite [KILLS]     (default 1000 kills, spread over the routes)

#include "common/id3build.h"
#include "core/tags/taginfo.h"
#include "core/tags/vbmp3.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace id3build;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

int write(const QString &path, const QString &title)
{
    tags::TagInfo t;
    t.TrackName = tags::fitFieldWithNul(title, tags::kTextWidth);
    t.ArtistName = tags::fitFieldWithNul(QStringLiteral("Singer"), tags::kTextWidth);
    t.AlbumName = tags::fitFieldWithNul(QStringLiteral("Album"), tags::kTextWidth);
    t.Year = tags::fitFieldWithNul(QStringLiteral("2024"), tags::kYearWidth);
    t.Comment = tags::fitFieldWithNul(QString(), tags::kTextWidth);
    t.GenreNo = 17;
    mp3lib::TagInfoWire wire = t.toWire();
    return vbmp3_setTagInfo(QFile::encodeName(path).constData(), wire, 0, 1);
}

QByteArray v1With(const QByteArray &title) { return v1(title, "Singer", "Album", "2024", 17); }

struct Route {
    const char *name;
    QByteArray (*make)(const QByteArray &audio);
};

// The cover first and the title after it, with room: one page changes.
QByteArray inPlace(const QByteArray &audio)
{
    const QByteArray cover = frame(3, "APIC", picture(200 * 1024));
    const int filler = 4096 - (10 + cover.size()) % 4096 + 100;
    return tag(3, cover + frame(3, "PRIV", QByteArray(filler - 10, 'f')) + frame(3, "TIT2", latin1("Title A")), 1000)
           + audio + v1With("Title B");
}

// The title before the cover: the cover's bytes move.
QByteArray copyKeepingSize(const QByteArray &audio)
{
    return tag(3, frame(3, "TIT2", latin1("Title A")) + frame(3, "APIC", picture(200 * 1024)), 1000) + audio
           + v1With("Title A");
}

// No room in the tag.
QByteArray copyGrowing(const QByteArray &audio)
{
    return tag(3, frame(3, "TIT2", latin1("Title A")) + frame(3, "APIC", picture(200 * 1024)), 0) + audio
           + v1With("Title A");
}

const Route kRoutes[] = {{"in place", inPlace}, {"copy, same size", copyKeepingSize}, {"copy, tag grows", copyGrowing}};

ino_t inode(const QString &path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_ino;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int kills = argc > 1 ? std::max(1, atoi(argv[1])) : 1000;
    vbmp3_init();
    const QByteArray sample = readAll(QStringLiteral(DORVASU_TEST_DATA_DIR "/stereo-noise-3s.mp3"));
    if (sample.isEmpty())
        qFatal("cannot read the sample MP3");
    QByteArray audio10;
    while (audio10.size() < 10 * 1000 * 1000)
        audio10 += sample;
    const QByteArray audio3 = audio10.left(sample.size() * (3 * 1000 * 1000 / sample.size()));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("song.mp3"));

    std::printf("Write of a 10 MB file with a 200 KB cover (median of 15):\n");
    for (const Route &route : kRoutes) {
        std::vector<double> ms;
        bool sameInode = true;
        for (int i = 0; i < 15; ++i) {
            writeAll(file, route.make(audio10));
            ::sync();
            const ino_t before = inode(file);
            QElapsedTimer t;
            t.start();
            if (!write(file, QStringLiteral("Title B")))
                qFatal("write failed on route %s", route.name);
            ms.push_back(t.nsecsElapsed() / 1e6);
            sameInode = sameInode && inode(file) == before;
        }
        std::sort(ms.begin(), ms.end());
        std::printf("  %-16s %7.1f ms  (%s)\n", route.name, ms[ms.size() / 2],
                    sameInode ? "written in place" : "through a copy");
    }

    std::printf("\n%d random kills of a writer (3 MB files with a 200 KB cover):\n", kills);
    for (const Route &route : kRoutes) {
        const QByteArray old = route.make(audio3);
        writeAll(file, old);
        QElapsedTimer t;
        t.start();
        write(file, QStringLiteral("Title B"));
        const qint64 took = t.nsecsElapsed() / 1000;
        const QByteArray fresh = readAll(file);
        int seen[3] = {0, 0, 0};   // old, new, mixed
        const int trials = kills / int(std::size(kRoutes)) + (&route == kRoutes ? kills % int(std::size(kRoutes)) : 0);
        for (int trial = 0; trial < trials; ++trial) {
            writeAll(file, old);
            int go[2];
            if (::pipe(go) != 0)
                qFatal("pipe");
            const pid_t child = ::fork();
            if (child == 0) {
                ::close(go[0]);
                (void)!::write(go[1], "g", 1);
                _exit(write(file, QStringLiteral("Title B")) ? 0 : 1);
            }
            ::close(go[1]);
            char c;
            (void)!::read(go[0], &c, 1);
            ::close(go[0]);
            ::usleep(useconds_t(QRandomGenerator::global()->bounded(took * 6 / 5 + 1)));
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            const QByteArray now = readAll(file);
            ++seen[now == old ? 0 : now == fresh ? 1 : 2];
            mp3lib::removeLeftoverCopies(QFile::encodeName(dir.path()).constData());
        }
        std::printf("  %-16s %4d kills: %4d old, %4d new, %d mixed (one write takes %.1f ms)\n", route.name,
                    trials, seen[0], seen[1], seen[2], took / 1000.0);
    }
    return 0;
}
