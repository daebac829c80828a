// Proposed names for the entries added to the file list.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include "paths.h"
#include <QStringList>

#include <atomic>

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

// One proposed name or marker per path (exact bytes), in the order of `paths`. The tags
// are read on all cores at once; each file is read into a fresh record, so
// the result does not depend on which thread read what, nor on the order.
// With `progress`, reading stops early when asked to: the names then cover
// only the first paths, as many as were read.
QStringList makeRenameNames(const QList<QByteArray> &paths, NameProgress *progress = nullptr);

} // namespace renaming
