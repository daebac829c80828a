// The journal of the last rename batch, kept in the user's configuration
// folder so that the batch can be undone after a restart or a crash.
//
// Before the first file is renamed the whole batch is written and flushed:
// each file's old and new path and the identity (device and inode) of the
// file itself. Each rename that succeeds is then appended as done. Undo
// renames back what is under each new path noted as done, and, for the
// renames a crash kept from being noted, the file under the new path when
// it is still the very file that was renamed.
//
// The file is text: a first line "Dorvasu rename journal 1", then one line
// per file, "F <device> <inode> <old path> <new path>", the paths' bytes
// percent-encoded, one line "D <number>" per file renamed, and "E" once the
// batch is over (a batch without it was cut short by a crash).
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace renaming {

struct JournalEntry {
    QByteArray from;    // the path before the rename
    QByteArray to;      // the path after it
    quint64 device = 0;
    quint64 inode = 0;
    bool done = false;  // noted as renamed
    bool batchOver = false;   // the batch ended: entries not done failed
};

class RenameJournal {
public:
    // The journal in the user's configuration folder.
    static QString defaultPath();

    explicit RenameJournal(QString path = defaultPath());

    // Writes the batch (replacing the last one) with each file's identity
    // and flushes it to disk. False when a file cannot be identified or the
    // journal cannot be written: the batch then has no Undo.
    bool begin(const QList<JournalEntry> &batch);

    // Notes that entry `number` of the batch has been renamed.
    void markDone(int number);

    // Notes that the batch is over and flushes the notes.
    void finish();

    enum class Load { Nothing, Loaded, Damaged };
    Load load(QList<JournalEntry> &batch) const;

    // Forgets the batch (after it has been undone).
    void clear();

private:
    QString path_;
    int fd_ = -1;
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
};

// Renames every file of `batch` that is still where the batch put it back to
// its old path, last first, never replacing a file: a file whose old name
// was taken meanwhile fails. Of a batch that ended, only the renames noted
// as done are undone; of one a crash cut short, also those whose file is
// under its new path, though not noted.
UndoResult undoBatch(const QList<JournalEntry> &batch);

} // namespace renaming
