// Building the rename list: makeRenameNames (all cores) against a loop that
// reads the same files one after the other on one thread, over N tagged
// files (default 10,000) with a warm page cache.
//
// Usage: bench_renamelist [N]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>
#include <thread>

#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include "newname.h"
#include "renamelist.h"
#include "taginfo.h"
#include "vbmp3.h"

namespace {

// CPU time of the whole process (all threads), in nanoseconds.
qint64 cpuNow()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

QStringList oneThread(const QList<QByteArray> &paths)
{
    QStringList names;
    names.reserve(paths.size());
    for (const QByteArray &path : paths)
        names << renaming::proposedNameFor(path);
    return names;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 10000;
    if (vbmp3_init() == 0) {
        std::fprintf(stderr, "vbmp3_init failed\n");
        return 1;
    }
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    // Ten tagged originals, copied round-robin.
    constexpr int kTemplates = 10;
    QStringList templates;
    for (int t = 0; t < kTemplates; ++t) {
        const QString path = dir.filePath(QStringLiteral("template-%1.mp3").arg(t));
        if (!QFile::copy(QStringLiteral(DORVASU_SAMPLE), path))
            return 1;
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        TagLib::MPEG::File file(QFile::encodeName(path).constData());
        TagLib::ID3v2::Tag *tag = file.ID3v2Tag(true);
        tag->setArtist(TagLib::String(QStringLiteral("Singer %1 歌手").arg(t).toStdString(),
                                      TagLib::String::UTF8));
        tag->setTitle(TagLib::String(QStringLiteral("Title %1").arg(t).toStdString(),
                                     TagLib::String::UTF8));
        tag->setAlbum("Album");
        file.save(TagLib::MPEG::File::ID3v2);
        templates << path;
    }
    QList<QByteArray> paths;
    for (int i = 0; i < count; ++i) {
        const QString path = dir.filePath(QStringLiteral("%1.mp3").arg(i, 5, 10, QChar(u'0')));
        if (!QFile::copy(templates[i % kTemplates], path)) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(path));
            return 1;
        }
        paths << QFile::encodeName(path);
    }

    // Warm the page cache and check both ways agree.
    const QStringList reference = oneThread(paths);
    if (renaming::makeRenameNames(paths) != reference
        || reference.count(renaming::kTagInfoError) != 0) {
        std::fprintf(stderr, "the two ways disagree, or a tag was not read\n");
        return 1;
    }

    constexpr int kRounds = 3;
    qint64 bestOne = std::numeric_limits<qint64>::max();
    qint64 bestAll = std::numeric_limits<qint64>::max();
    qint64 cpuOne = 0, cpuAll = 0;
    for (int round = 0; round < kRounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        qint64 cpu = cpuNow();
        const QStringList a = oneThread(paths);
        bestOne = std::min(bestOne, timer.nsecsElapsed());
        cpuOne += cpuNow() - cpu;
        timer.restart();
        cpu = cpuNow();
        const QStringList b = renaming::makeRenameNames(paths);
        bestAll = std::min(bestAll, timer.nsecsElapsed());
        cpuAll += cpuNow() - cpu;
    }
    const double one = count / (bestOne / 1e9), all = count / (bestAll / 1e9);
    std::printf("rename list over %d tagged files, warm cache, best of %d rounds\n", count, kRounds);
    std::printf("  one thread:       %9.0f files/s  (%.1f ms)\n", one, bestOne / 1e6);
    std::printf("  makeRenameNames:  %9.0f files/s  (%.1f ms, %u hardware threads)\n", all,
                bestAll / 1e6, std::thread::hardware_concurrency());
    std::printf("  ratio:            %9.2fx\n", all / one);
    // Equal CPU per file in both ways means the threads do not get in each
    // other's way; a low ratio then comes from cores busy with other work.
    std::printf("  CPU per file:     %9.1f us one thread, %.1f us all cores\n",
                cpuOne / 1e3 / kRounds / count, cpuAll / 1e3 / kRounds / count);
    vbmp3_free();
    return 0;
}
