// The one existence test that tag display, tag update, proposed names and
// the player share.
#pragma once

#include <QByteArray>

namespace tags {

// True when `path` (the exact bytes of a path) is not empty and names a
// regular file (symbolic links followed) whose own name does not begin with
// "." (a hidden file). The path is taken literally: "*" and "?" are ordinary
// characters. Only the file's status is looked at; nothing is opened, so a
// FIFO or a device never blocks.
bool fileExists(const QByteArray &path);

// The half of that test that needs no look at the disk: whether the path
// can name such a file (not empty, not a hidden name, no NUL). The caller
// then asks the file system itself.
bool namesVisibleFile(const QByteArray &path);

} // namespace tags
