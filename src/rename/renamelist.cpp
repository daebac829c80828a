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
// over the threads, large enough to keep the shared counter out of the way.
constexpr qsizetype kChunk = 8;

} // namespace

QString proposedNameFor(const QString &path)
{
    // The existence test's look at the disk is the one the read makes.
    const QByteArray native = tags::existencePath(path);
    if (native.isNull())
        return kFileNotFound;
    mp3lib::TagInfoWire wire{};
    switch (mp3lib::readFileTag(native.constData(), wire)) {
    case mp3lib::TagRead::NotFound:
        return kFileNotFound;
    case mp3lib::TagRead::Failed:
        return kTagInfoError;
    case mp3lib::TagRead::Read:
        break;
    }
    return ComposeNewName(wire);
}

QStringList makeRenameNames(const QStringList &paths)
{
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    return makeRenameNames(paths, std::max(cores, kReadsInFlight));
}

QStringList makeRenameNames(const QStringList &paths, int threads)
{
    const qsizetype count = paths.size();
    QStringList names(count);
    const QString *in = paths.constData();
    QString *out = names.data();   // detached here, before any thread writes

    std::atomic<qsizetype> next{0};
    auto work = [&] {
        for (;;) {
            const qsizetype begin = next.fetch_add(kChunk);
            if (begin >= count)
                return;
            const qsizetype end = std::min(count, begin + kChunk);
            for (qsizetype i = begin; i < end; ++i)
                out[i] = proposedNameFor(in[i]);
        }
    };

    const qsizetype chunks = (count + kChunk - 1) / kChunk;
    const qsizetype helpers = std::min<qsizetype>(std::max(1, threads), chunks) - 1;
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
    return names;
}

} // namespace renaming
