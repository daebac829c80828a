// The journal of one batch of tag writes, one action of the history, so
// that the batch can be undone byte for byte after a restart or a crash.
//
// A tag write changes only the bytes around the audio: the ID3v2 tag(s) at
// the head with their padding, the APE and ID3v1 tags at the tail. Before
// the first file is written, the journal holds for each file its state
// (device, inode, size, modification time), where its MPEG audio lies, a
// fingerprint of that audio, and every byte before and after the audio;
// it is written under a temporary name, flushed, and renamed into place.
// After each file is written its new state is noted. Undo puts the saved
// bytes back around the file's audio through a hidden copy renamed over the
// file (as the writer does), so the audio is never rewritten in place and a
// kill leaves the file whole, before or after.
//
// The file: a first line "Dorvasu tag journal 1", the label
// (percent-encoded), then per file a line "F <device> <inode> <size>
// <modified> <audio begin> <audio end> <fingerprint> <path> <head size>
// <tail size>" followed by those bytes and a line end; then "S" once every
// file is in. Notes follow: "W <number> <state>" a file written, "A
// <number> <state>" its state since a later action was undone, "E" the
// batch over (without it, a crash cut the batch short).
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <optional>

#include "core/rename/renamejournal.h"

struct stat;

namespace history {

// What tells whether a file changed since it was noted: a rename keeps it,
// any write or replacement changes it.
struct FileState {
    quint64 device = 0, inode = 0, size = 0;
    qint64 modified = 0;   // nanoseconds since 1970
    bool operator==(const FileState &) const = default;
    static FileState of(const struct stat &st);
    QByteArray text() const;
};

struct TagJournalEntry {
    QByteArray path;   // the file written (links resolved), absolute
    FileState before;
    qint64 audioBegin = 0, audioEnd = 0;
    QByteArray fingerprint;
    qint64 headAt = 0, headSize = 0, tailAt = 0, tailSize = 0;   // where the saved bytes lie in the journal
    std::optional<FileState> after;   // noted once written
};

class TagJournal {
public:
    explicit TagJournal(QString path);
    ~TagJournal();
    TagJournal(const TagJournal &) = delete;
    TagJournal &operator=(const TagJournal &) = delete;

    const QString &path() const { return path_; }

    // Starts writing the journal under a temporary name; false (with
    // `reason`) when it cannot be made.
    bool open(const QString &label, QString *reason);
    // Saves the file `path` (its target, for a link); false (with
    // `reason`) when the file cannot be read or holds no MPEG audio, which
    // the writer refuses too. Gives the entry's number (a file saved
    // already keeps its entry).
    bool add(const QByteArray &path, int *number, QString *reason);
    // Whether writing the journal failed (the batch must not start).
    bool broken() const { return broken_; }
    // Flushes the journal and puts it in place: the batch may start.
    bool commit(QString *reason);
    // Whether the file of entry `number` is still as it was saved.
    bool unchangedSinceAdded(int number) const;
    // Notes that entry `number` was written, with the file's state now.
    void noteWritten(int number);
    // Notes that the batch is over, and flushes.
    void finish();

    enum class Load { Nothing, Loaded, Damaged };
    Load load(QList<TagJournalEntry> &entries, bool *over, QString *label = nullptr) const;

    // Notes the new state of the files whose noted state after the batch
    // was `from`, so that an undo that rewrote them does not count as a
    // change since this batch.
    void rebase(const QList<std::pair<FileState, FileState>> &moves);

private:
    bool appendNote(const QByteArray &line, bool flush);

    QString path_;
    QByteArray written_;   // the temporary name while the journal is written
    int fd_ = -1;
    QList<TagJournalEntry> added_;
    QHash<QByteArray, int> numbers_;   // entry numbers by path
    bool broken_ = false;
};

// The reason given for a file that changed after the batch wrote it.
extern const QString kChangedSince;

// What undoing a tag batch did for one file.
struct TagUndoFile {
    QByteArray path;
    QString error;   // empty when the file's old tags are back
};

// Puts back the saved tags of every file of the journal at `path` that the
// batch wrote (or, for a batch a crash cut short, whose audio is still the
// saved one), last first. A file that changed since (its state differs
// from the one noted) is refused with the reason. `moves` receives each
// file's state before the batch and now, for the older actions' notes.
// With `progress`, it reports as it goes and stops between files when asked
// to; `notTried` then says how many files were left, and the journal
// serves the next Undo, which puts back the rest.
QList<TagUndoFile> undoTagJournal(const QString &path, QList<std::pair<FileState, FileState>> *moves,
                                  bool *damaged, renaming::UndoProgress *progress = nullptr,
                                  int *notTried = nullptr);

} // namespace history
