// Renaming a file without ever replacing another one.
#pragma once

#include <QByteArray>
#include <QHash>

#include <functional>

namespace renaming {

struct RenameStatus {
    int error = 0;   // 0 when done, else an errno value saying why not
    QByteArray path; // where the file is now
    bool ok() const { return error == 0; }
};

// What tells one file from another: device and inode, and, since the number
// of a deleted file's inode is soon given to a new file, the birth time where
// the file system keeps one, else the size and the modification time. (The
// change time cannot serve: every rename and link changes it.) A symbolic
// link is identified as itself, not as the file it leads to.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    quint64 size = 0;
    qint64 modified = 0;   // nanoseconds since 1970
    qint64 born = 0;       // nanoseconds since 1970; 0 where not kept
    bool link = false;
    bool regular = false;
    // Same device and inode, and same birth time (or, without one, same
    // size and modification time).
    bool sameFileAs(const FileIdentity &other) const;
};

// The identity of the entry `name` of the folder open as `dirFd`, links not
// followed; false when there is no such entry.
bool identifyAt(int dirFd, const QByteArray &name, FileIdentity *id);

// Folders opened once each for a batch, by exact path ("" is the current
// folder), closed with the object. Every rename of the batch is made
// relative to them, so a folder moved or swapped for a link meanwhile does
// not send the batch elsewhere.
class OpenFolders {
public:
    OpenFolders() = default;
    ~OpenFolders();
    OpenFolders(const OpenFolders &) = delete;
    OpenFolders &operator=(const OpenFolders &) = delete;

    // The folder's descriptor, or -1 when it cannot be opened.
    int at(const QByteArray &folder);
    // Whether `folder` still names the folder that was opened.
    bool stillAt(const QByteArray &folder) const;

private:
    QHash<QByteArray, int> fds_;
};

// The three ways of renaming without replacing, the first a file system
// allows: the kernel's RENAME_NOREPLACE; a hard link to the new name, then
// the old name removed (FUSE mounts such as ntfs-3g, NFS); an empty file
// made exclusively under the new name, then renamed over while it is still
// that file (exFAT through FUSE, without hard links either).
enum class Route { Native, Link, Reservation };

// Makes every rename take `route` or a later one, as on a file system
// lacking the earlier ones.
void forceRouteForTesting(Route route);

// Renames `fromName` to `toName` in the folder `dirFd`; fails (EEXIST) when
// something exists under `toName`, and then leaves both untouched.
// - `beforeReserving`, when given, runs just before an empty file is made
//   under `toName` (the journal notes it, so that the file can be removed
//   after a crash); when it returns false, nothing is done (EIO).
// - A change of letter case only, on a file system that ignores case (the
//   new name "exists" and is the file itself), goes through
//   caseTemporaryName(toName); if the last step fails, the file is moved
//   back, and should even that fail, `path` is the temporary name.
// `path` of the result is the file's name in the folder.
RenameStatus renameAt(int dirFd, const QByteArray &fromName, const QByteArray &toName,
                      const std::function<bool()> &beforeReserving = {});

// The hidden name a change of letter case to `toName` passes through: this
// program's own, and the same in every run, so that it is found after a crash.
QByteArray caseTemporaryName(const QByteArray &toName);

// Two names equal but for letter case: compared as text where both are
// UTF-8, else ASCII letters only.
bool equalIgnoringCase(const QByteArray &a, const QByteArray &b);

// True when the folder holds an entry named exactly `name`, byte for byte
// (on a file system that ignores case, a look-up finds other spellings).
bool holdsExactly(int dirFd, const QByteArray &name);

// renameAt by path, for a single file: `from` and `to` in one folder.
// `to` equal to `from` succeeds with nothing done, as long as the file is
// there; `from` must not be a folder (EISDIR).
RenameStatus renameNoReplace(const QByteArray &from, const QByteArray &to);

} // namespace renaming
