// The rename command: renaming the selected files of the list to their
// proposed names, each in its own folder.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

namespace renaming {

class RenameJournal;
struct UndoResult;

// Shared with the thread that shows progress: files done, the one being
// renamed, and a request to stop before the next file.
struct RenameProgress {
    std::atomic<int> done{0};
    std::atomic<int> current{-1};   // index into the jobs
    std::atomic<bool> cancel{false};
    // Run on the renaming thread before each job is looked at, when set:
    // tests act as another program at a chosen step.
    std::function<void(int)> beforeFile = {};
};

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
    // Which job each of them was, in the same order, and the error of its
    // rename: an errno value, or 0 when no rename was tried (a name of no
    // file, no such file). failureReason puts it in words, only when asked:
    // the windows' report needs none.
    struct Failure {
        int job;
        int error;
        bool operator==(const Failure &) const = default;
    };
    QList<Failure> failures;
    // Jobs not tried because the batch was cancelled.
    int notTried = 0;
    // The journal could not be written: nothing was renamed.
    bool journalFailed = false;
};

// Renames each job's file to its folder's exact bytes followed by newName
// in UTF-8, one after the other in the order given, each relative to its
// folder opened once for the batch. A name that is a marker, holds a
// rejected character, or is "." or ".." fails without touching the file; so
// does a path that names no regular file, and a file that is no longer the
// one found at the start (its identity), or whose folder path no longer
// leads to the folder opened. A link to a file is renamed itself. Nothing is
// ever replaced (see renameAt); a name equal to the current one succeeds.
// With a journal, the batch is written to it before the first rename and
// each rename is noted as it succeeds (see RenameJournal); a journal that
// cannot be written stops the batch before its first rename. With
// `progress`, the batch reports as it goes and stops between files when
// asked to.
RenameResult renameFiles(const QList<RenameJob> &jobs, RenameJournal *journal = nullptr,
                         RenameProgress *progress = nullptr);

// Why `job` failed with `error` (a RenameResult::Failure's), in the
// system's words.
QString failureReason(const RenameJob &job, int error);

// What renameFiles would do with `jobs`, renaming nothing and writing no
// journal: for each job, why it would fail (as failureReason says it), or
// an empty text for a file that would be renamed or keep its name.
// A name that an earlier job of the batch would take counts as taken.
QStringList renameCheck(const QList<RenameJob> &jobs);

// The report of failed files: the sentence, an empty line, then each path
// followed by CR LF; then, after a cancelled batch, how many files were not
// tried. Empty when nothing failed and nothing was left.
QString renameFailureMessage(const QStringList &failedPaths, int notTried = 0);

// The report of a batch whose journal could not be written at `journalPath`.
QString journalFailureMessage(const QString &journalPath);

// The report of an Undo: the files that could not go back (shown decoded),
// then how many were no longer where the batch put them, then how many were
// left when it was stopped. Empty when all went back.
QString undoFailureMessage(const UndoResult &result);

// The sentence of an Undo stopped with `notTried` files left (none when
// none was left), to follow the report `before`.
QString undoStoppedMessage(const QString &before, int notTried);

} // namespace renaming
