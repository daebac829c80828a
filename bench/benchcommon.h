// What the benchmarks share: the wall time and the process's CPU time (all
// threads, user and system) of a piece of work, where CPU time per file
// that grows while the work stays the same shows a machine busy with other
// work; and a cold page cache for a set of files.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

#include <ctime>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace bench {

struct Times {
    qint64 wall = 0;   // ns
    qint64 cpu = 0;    // ns

    Times &operator+=(const Times &other)
    {
        wall += other.wall;
        cpu += other.cpu;
        return *this;
    }
};

inline qint64 cpuNow()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

template <typename F>
Times timed(F run)
{
    QElapsedTimer timer;
    const qint64 cpu = cpuNow();
    timer.start();
    run();
    return {timer.nsecsElapsed(), cpuNow() - cpu};
}

inline double perSecond(qint64 count, qint64 ns)
{
    return ns > 0 ? double(count) * 1e9 / double(ns) : 0;
}

// Drops every file's pages from the page cache (after writing out whatever
// is still dirty), so that the next read of them goes to the disk.
inline void evict(const std::vector<QByteArray> &paths)
{
    ::sync();
    for (const QByteArray &p : paths) {
        const int fd = ::open(p.constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
    }
}

// `count` files 00000.mp3, 00001.mp3, ... in `dir`, each the bytes of
// `audio` and then given its tags by `tag(path, i)`; their paths, or none
// (after saying which) when one cannot be made.
template <typename Tag>
std::vector<QByteArray> makeFiles(const QDir &dir, int count, const QByteArray &audio, Tag tag)
{
    std::printf("making %d files in %s ...\n", count, qPrintable(dir.path()));
    std::vector<QByteArray> paths;
    paths.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        const QString p = dir.filePath(QStringLiteral("%1.mp3").arg(i, 5, 10, QLatin1Char('0')));
        QFile out(p);
        const bool written = out.open(QIODevice::WriteOnly) && out.write(audio) == audio.size();
        out.close();
        if (!written || !tag(p, i)) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(p));
            return {};
        }
        paths.push_back(QFile::encodeName(p));
    }
    return paths;
}

} // namespace bench
