// Renaming a file without ever replacing another one.
#pragma once

#include <QByteArray>

namespace renaming {

struct RenameStatus {
    int error = 0;   // 0 when done, else an errno value saying why not
    QByteArray path; // where the file is now
    bool ok() const { return error == 0; }
};

// Renames the file `from` to `to` (exact path bytes); fails (EEXIST) when something already
// exists at `to`, and then leaves both untouched.
//
// - The kernel's RENAME_NOREPLACE is used where the file system has it.
//   Where it has not (FUSE mounts such as ntfs-3g and exFAT, NFS), a hard
//   link to the new name followed by removing the old one does the same;
//   where hard links are missing too (exFAT), an empty file is first created
//   exclusively under the new name and only that reserved file is replaced.
// - `to` equal to `from` succeeds with nothing done, as long as the file is
//   there.
// - A change of letter case only, on a file system that ignores case (the
//   new name already "exists" and is the file itself), goes through a
//   temporary name in the same folder; if the last step fails, the file is
//   moved back. Should even that fail, `path` names the temporary file.
// - `from` must not be a folder (EISDIR).
RenameStatus renameNoReplace(const QByteArray &from, const QByteArray &to);

} // namespace renaming
