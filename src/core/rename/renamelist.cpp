#include "core/rename/renamelist.h"

#include "core/tags/existence.h"
#include "core/rename/newname.h"
#include "core/tags/tagedit.h"
#include "core/tags/taginfo.h"
#include "core/tags/vbmp3.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/resource.h>

namespace renaming {

namespace {

// Paths taken by one thread at a time: small enough to spread a short list
// over the threads, large enough to keep the shared counter out of the way.
constexpr qsizetype kChunk = 8;

// How often the calling thread has waited (gave up its core before its
// time was up): a read of a file that is not in the page cache waits for
// the disk; a thread that other work on the machine pushes aside does not
// count.
long waitsSoFar()
{
    rusage use;
    return ::getrusage(RUSAGE_THREAD, &use) == 0 ? use.ru_nvcsw : 0;
}

} // namespace

QString proposedNameFor(const QByteArray &path)
{
    // The existence test's look at the disk is the one the read makes.
    if (!tags::namesVisibleFile(path))
        return kFileNotFound;
    mp3lib::TagInfoWire wire{};
    switch (mp3lib::readFileTag(path.constData(), wire)) {
    case mp3lib::TagRead::NotFound:
        return kFileNotFound;
    case mp3lib::TagRead::Failed:
        return kTagInfoError;
    case mp3lib::TagRead::Read:
        break;
    }
    return ComposeNewName(wire);
}

QString markerReason(const QByteArray &path, const QString &marker)
{
    if (marker == kFileNotFound)
        return tags::missingReason(path);
    if (marker == kTagInfoError)
        return QStringLiteral("the tag cannot be read");
    return QStringLiteral("the singer or title holds a character a file name may not hold");
}

QStringList makeRenameNames(const QList<QByteArray> &paths, NameProgress *progress)
{
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    return makeRenameNames(paths, std::max(cores, kReadsInFlight), progress);
}

QStringList makeRenameNames(const QList<QByteArray> &paths, int threads, NameProgress *progress,
                            const NameChunk &chunk)
{
    const qsizetype count = paths.size();
    QStringList names(count);
    const QByteArray *in = paths.constData();
    QString *out = names.data();   // detached here, before any thread writes

    // One thread per core to begin with; another one, up to `threads`,
    // whenever a thread waited for most files of a chunk: they were not in
    // the page cache, and one more read in flight keeps the disk busier.
    // With a warm cache no thread waits, and no more threads than cores
    // compete for them.
    const qsizetype chunks = (count + kChunk - 1) / kChunk;
    const qsizetype most = std::min<qsizetype>(std::max(1, threads), chunks);
    const qsizetype cores = std::max(1u, std::thread::hardware_concurrency());
    // Chunks are taken in list order and a cancel stops the taking, not a
    // chunk: what is done when all threads have stopped is a whole prefix
    // of the list.
    std::atomic<qsizetype> next{0};
    std::atomic<qsizetype> taken{0};
    std::mutex poolMutex;
    std::vector<std::jthread> pool;
    bool closed = false;
    std::function<void()> work;
    auto grow = [&] {
        const std::lock_guard lock(poolMutex);
        if (closed || qsizetype(pool.size()) + 1 >= most)
            return false;
        try {
            pool.emplace_back(work);
        } catch (const std::system_error &) {
            return false;   // fewer threads: the others share the rest
        }
        return true;
    };
    work = [&] {
        for (;;) {
            if (progress && progress->cancel.load(std::memory_order_relaxed))
                return;
            const qsizetype begin = next.fetch_add(kChunk);
            if (begin >= count)
                return;
            const long waits = waitsSoFar();
            const qsizetype end = std::min(count, begin + kChunk);
            qsizetype seen = taken.load();
            while (seen < end && !taken.compare_exchange_weak(seen, end)) {
            }
            for (qsizetype i = begin; i < end; ++i) {
                out[i] = proposedNameFor(in[i]);
                if (progress) {
                    progress->done.fetch_add(1, std::memory_order_relaxed);
                    if (i == begin)
                        progress->current.set(in[i]);
                }
            }
            if (chunk)
                chunk(begin, QStringList(out + begin, out + end));
            if (2 * (waitsSoFar() - waits) > end - begin)
                grow();
        }
    };

    for (qsizetype t = 1; t < std::min(cores, most); ++t) {
        if (!grow())
            break;
    }
    work();
    std::vector<std::jthread> done;
    {
        const std::lock_guard lock(poolMutex);
        closed = true;
        done.swap(pool);
    }
    done.clear();   // joins
    if (taken.load() < count)
        names.resize(taken.load());
    return names;
}

} // namespace renaming
