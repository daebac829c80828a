// The rename command: renaming the selected files of the list to their
// proposed names, each in its own folder.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace renaming {

// One selected entry of the list.
struct RenameJob {
    int index = 0;      // row in the list
    QByteArray path;    // the file's exact path
    QString newName;    // proposed name or marker for that row
    QString shown = {}; // the text the list shows for the file (else the
                        // path's paths::display)
};

struct RenameResult {
    struct NewPath {
        int index;
        QByteArray path;
        bool operator==(const NewPath &) const = default;
    };
    // Rows whose file now lies at another path: every renamed file, in job
    // order (and, should a case-only rename fail half-way and be unable to
    // move back, the temporary name the file was left under).
    QList<NewPath> newPaths;
    // The files that could not be renamed, as the list shows them, in job
    // order.
    QStringList failed;
};

// Renames each job's file to its folder's exact bytes followed by newName
// in UTF-8, one after the other in the order given. A name that is a marker, holds a rejected
// character, or is "." or ".." fails without touching the file; so does a
// path that names no regular file. Nothing is ever replaced (see
// renameNoReplace); a name equal to the current one succeeds.
RenameResult renameFiles(const QList<RenameJob> &jobs);

// The report of failed files: the sentence, an empty line, then each path
// followed by CR LF. Empty when nothing failed.
QString renameFailureMessage(const QStringList &failedPaths);

} // namespace renaming
