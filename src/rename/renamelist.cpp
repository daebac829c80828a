#include "renamelist.h"

#include "existence.h"
#include "newname.h"
#include "taginfo.h"
#include "vbmp3.h"


#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace renaming {

namespace {

// Paths taken by one thread at a time: small enough to spread a short list
// over the cores, large enough to keep the shared counter out of the way.
constexpr qsizetype kChunk = 8;

} // namespace

QString proposedNameFor(const QByteArray &path)
{
    if (!tags::fileExists(path))
        return kFileNotFound;
    tags::TagInfo tag;
    mp3lib::TagInfoWire wire = tag.toWire();
    if (vbmp3_getFileTagInfo(path.constData(), wire) == 0)
        return kTagInfoError;
    tag.fromWire(wire);
    return ComposeNewName(tag);
}

QStringList makeRenameNames(const QList<QByteArray> &paths, NameProgress *progress)
{
    const qsizetype count = paths.size();
    QStringList names(count);
    const QByteArray *in = paths.constData();
    QString *out = names.data();   // detached here, before any thread writes

    // Chunks are taken in list order and a cancel stops the taking, not a
    // chunk: what is done when all threads have stopped is a whole prefix
    // of the list.
    std::atomic<qsizetype> next{0};
    std::atomic<qsizetype> taken{0};
    auto work = [&] {
        for (;;) {
            if (progress && progress->cancel.load(std::memory_order_relaxed))
                return;
            const qsizetype begin = next.fetch_add(kChunk);
            if (begin >= count)
                return;
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
        }
    };

    const qsizetype chunks = (count + kChunk - 1) / kChunk;
    const qsizetype cores = std::max(1u, std::thread::hardware_concurrency());
    const qsizetype helpers = std::min(cores, chunks) - 1;
    std::vector<std::jthread> pool;
    for (qsizetype t = 0; t < helpers; ++t) {
        try {
            pool.emplace_back(work);
        } catch (const std::system_error &) {
            break;   // fewer threads: the others and this one share the rest
        }
    }
    work();
    pool.clear();   // joins
    if (taken.load() < count)
        names.resize(taken.load());
    return names;
}

} // namespace renaming
