// Proposed names for the entries added to the file list.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace renaming {

// The proposed name for one file: kFileNotFound when the existence test
// fails, kTagInfoError when its tag cannot be read, else ComposeNewName of
// the tag read.
QString proposedNameFor(const QByteArray &path);

// One proposed name or marker per path (exact bytes), in the order of `paths`. The tags
// are read on all cores at once; each file is read into a fresh record, so
// the result does not depend on which thread read what, nor on the order.
QStringList makeRenameNames(const QList<QByteArray> &paths);

} // namespace renaming
