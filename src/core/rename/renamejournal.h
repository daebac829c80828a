// The journal of the last rename batch, kept in the user's configuration
// folder so that the batch can be undone after a restart or a crash.
//
// Before the first file is renamed the whole batch is written and flushed:
// each file's old and new path and the identity of the file itself (see
// FileIdentity; a link is identified, and renamed, as itself). A batch whose
// journal cannot be written renames nothing. Each rename that succeeds is
// then noted as done; before an empty file is made to reserve a name (on a
// file system with neither RENAME_NOREPLACE nor hard links) that is noted
// and flushed first. Whatever a crash left half done is settled from the
// journal by the next batch, by Undo and at start-up: a file under both
// names loses the new one, an empty reserved file goes, a file left under
// the temporary name of a case change goes back to its old name.
//
// The file is text: a first line "Dorvasu rename journal 2", then one line
// per file, "F <device> <inode> <size> <modified> <born> <f|l> <folder's
// inode> <old path> <new path>" (times in nanoseconds, "l" for a link; a
// folder that is no longer that inode is left alone), the paths' bytes
// percent-encoded; then notes: "D <number>" a file renamed, "R <number>"
// its new name about to be reserved, "O <number>" its old name about to be
// reserved by Undo, and "E" once the batch is over (a batch without it was
// cut short by a crash).
#pragma once

#include "core/paths/paths.h"
#include "core/rename/noreplace.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>

namespace renaming {

// Shared with the thread that shows the progress of an Undo: files looked
// at of the total, the one being put back, and a request to stop before
// the next file. An Undo stopped so keeps its action: the next Undo puts
// back the rest (files already back count as back).
struct UndoProgress {
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{0};
    std::atomic<bool> cancel{false};
    paths::SharedPath current;

    bool cancelled() const { return cancel.load(std::memory_order_relaxed); }
};

struct JournalEntry {
    QByteArray from;    // the path before the rename
    QByteArray to;      // the path after it
    FileIdentity id = {};
    quint64 folder = 0; // the folder's inode (0: not known)
    bool done = false;  // noted as renamed
    bool batchOver = false;   // the batch ended: entries not done failed
    bool reservedNew = false; // an empty file may hold `to`
    bool reservedOld = false; // an empty file may hold `from` (Undo)
};

// What tells one file of a batch from another: its folder, its name there
// and its identity. Two paths that lead to the same file under the same
// name (the same path twice, or another spelling of the folder) give equal
// keys; two hard links under different names do not. The name is a view
// into the bytes of the entry's `from`, which must outlive the key.
struct FileKey {
    quint64 device, folder, inode;
    qint64 born;
    QByteArrayView name;
    bool operator==(const FileKey &o) const
    {
        return device == o.device && folder == o.folder && inode == o.inode && born == o.born && name == o.name;
    }
};
size_t qHash(const FileKey &k, size_t seed = 0);
FileKey fileKeyOf(const JournalEntry &e);

class RenameJournal {
public:
    // The journal in the user's configuration folder.
    static QString defaultPath();

    explicit RenameJournal(QString path = defaultPath());
    ~RenameJournal();
    RenameJournal(const RenameJournal &) = delete;
    RenameJournal &operator=(const RenameJournal &) = delete;

    // Settles what the last batch left half done, then writes `batch` (with
    // each entry's identity) in its place and flushes it to disk. False when
    // it cannot be written: the batch must not start. With `stop`, the
    // writing stops once that is set, leaving no journal (false as well).
    bool begin(const QList<JournalEntry> &batch, const std::atomic<bool> *stop = nullptr);

    // Opens the journal as it is to add notes (for Undo).
    bool reopen();

    // Notes that entry `number` was renamed ('D'), or that an empty file is
    // about to reserve its new ('R') or old ('O') name; `flush` waits until
    // the note is on the disk. False when the note could not be written.
    bool note(char kind, int number, bool flush = false);
    void markDone(int number) { note('D', number); }

    // Notes that the batch is over (after begin) and flushes the notes.
    void finish();

    enum class Load { Nothing, Loaded, Damaged };
    Load load(QList<JournalEntry> &batch) const;

    // Forgets the batch (after it has been undone).
    void clear();

private:
    QString path_;
    int fd_ = -1;
    bool inBatch_ = false;   // written by begin: finish() ends the batch
};

// What undoing a batch did.
struct UndoResult {
    struct Moved {
        QByteArray from;   // where the file was (its path after the batch)
        QByteArray to;     // where it is now (its path before the batch)
    };
    QList<Moved> moved;
    QList<QByteArray> failed;   // paths (after the batch) that could not go back
    int gone = 0;               // files no longer where the batch put them
    int notTried = 0;           // files left renamed because the Undo was stopped
};

// Settling and Undo act on the first entry of each file only: a later one
// for the same file (see FileKey) never renamed it. A batch holds each
// file once; a journal written before that was so may not.
//
// Puts right what a crash left half done in `batch` (see above); touches
// only names the batch renamed or reserved, and only where the file found
// there is the batch's own.
// With `stop`, it stops between files once that is set: what is left is
// settled the next time.
void settleBatch(const QList<JournalEntry> &batch, const std::atomic<bool> *stop = nullptr);

// The same for the journal at `path`, at start-up.
void settleJournal(const QString &path, const std::atomic<bool> *stop = nullptr);

// Settles `batch`, then renames every file of it that is still where the
// batch put it back to its old path, last first, never replacing a file: a
// file whose old name was taken meanwhile fails. Of a batch that ended, only
// the renames noted as done are undone; of one a crash cut short, also those
// whose very file (its identity) is under its new path, though not noted. A
// file already under its old path (an Undo cut short before) counts as
// back. With `journal` (reopened), reservations are noted in it. With
// `progress`, it reports as it goes and stops between files when asked to.
UndoResult undoBatch(const QList<JournalEntry> &batch, RenameJournal *journal = nullptr,
                     UndoProgress *progress = nullptr);

// Undo of the last batch in the journal at `path`, as the window and the
// command line run it: nothing when there is no batch; a damaged journal
// is cleared and undoes nothing; otherwise the batch is undone (its
// reservations noted in the journal, should Undo be cut short) and then
// forgotten, since a batch is undone once; a stopped Undo keeps it.
// `loaded`, when given, is the journal as its caller just loaded it (under
// the history's lock), so that a large batch is not read twice.
struct LoadedJournal {
    RenameJournal::Load load = RenameJournal::Load::Nothing;
    QList<JournalEntry> batch;
};
struct LastUndo {
    RenameJournal::Load load = RenameJournal::Load::Nothing;
    UndoResult result;
};
LastUndo undoLastBatch(const QString &path, UndoProgress *progress = nullptr, LoadedJournal *loaded = nullptr);

} // namespace renaming
