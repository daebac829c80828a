// Proposed names for the entries added to the file list.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include "core/paths/paths.h"
#include <QStringList>

#include <atomic>
#include <functional>

namespace renaming {

// Shared with the thread that shows progress: names made so far, a file
// being read, and a request to stop.
struct NameProgress {
    std::atomic<qsizetype> done{0};
    std::atomic<bool> cancel{false};

    paths::SharedPath current;
};

// The proposed name for one file: kFileNotFound when the existence test
// fails, kTagInfoError when its tag cannot be read, else ComposeNewName of
// the tag read.
QString proposedNameFor(const QByteArray &path);

// Why `path` has `marker` instead of a proposed name, in the system's words.
QString markerReason(const QByteArray &path, const QString &marker);

// Tag reads kept in flight at once by makeRenameNames, at least one per
// core: with a cold page cache each thread mostly waits for the disk, and
// more reads queued at once keep the disk busy. On a 2-core machine with a
// virtual disk bench_renamelist's cold rate grows steadily up to 16 reads
// in flight (3 to 4x one read at a time); 32 and 64 gave no steady gain
// beyond, from one run to the next, and cost a thread (and its stack) each.
inline constexpr int kReadsInFlight = 16;

// One proposed name or marker per path (exact bytes), in the order of
// `paths`. The tags are read on one thread per core, and on up to
// kReadsInFlight threads while the reads wait for the disk; each file is
// read into a fresh record, so the result does not depend on which thread
// read what, nor on the order. With `progress`, reading stops early when
// asked to: the names then cover only the first paths, as many as were read.
QStringList makeRenameNames(const QList<QByteArray> &paths, NameProgress *progress = nullptr);

// The same with at most `threads` threads (at least one), for measuring.
// With `chunk`, each run of names is also handed over as soon as it is
// read, on the thread that read it: the index of its first path, and the
// names.
using NameChunk = std::function<void(qsizetype first, const QStringList &names)>;
QStringList makeRenameNames(const QList<QByteArray> &paths, int threads, NameProgress *progress = nullptr,
                            const NameChunk &chunk = {});

} // namespace renaming
