// File operations of a crash-safe tag write: exact reads and writes at an
// offset, the hidden copy that replaces a file in one rename, and the
// removal of copies a killed write left behind.
#pragma once

#include <QByteArray>
#include <cstdint>
#include <sys/stat.h>

#include "core/tags/fileaccess.h"

namespace mp3lib::detail {

// pread/pwrite until done; empty or false on any error or early end of file.
QByteArray readAt(int fd, std::int64_t offset, std::int64_t size);  // empty on failure
bool writeAt(int fd, std::int64_t offset, const QByteArray &data);

// Copies `size` bytes at `fromOffset` of `from` to `toOffset` of `to`.
bool copyRange(int from, std::int64_t fromOffset, int to, std::int64_t toOffset, std::int64_t size);

// Whether `size` bytes at `offsetA` of `a` equal those at `offsetB` of `b`.
bool sameBytes(int a, std::int64_t offsetA, int b, std::int64_t offsetB, std::int64_t size);

// The name prefix of the hidden copies of file `base`: "." base
// ".dorvasu-", with `base` shortened (at a character boundary) where the
// copy's name would be too long for the file system. Four random letters
// and four letters of a mark made from the rest of the name follow it.
QByteArray copyNamePrefix(const QByteArray &base);

// A new name for a hidden copy of `base`, mark included.
QByteArray newCopyName(const QByteArray &base);

// Run just before a copy replaces its file, when set: tests move a file in
// under the name at that moment.
extern void (*beforeReplacing)();

// A hidden copy of a file, made next to it, that either replaces the file
// in one rename or is removed. The copy is locked (flock) from before it
// has a name until it is closed, so that a copy whose lock is free was left
// by a write that no longer runs. Where the file system allows, the copy
// has no name at all until just before the rename (O_TMPFILE), and a kill
// before that leaves nothing.
class ReplacementCopy {
public:
    ReplacementCopy() = default;
    ~ReplacementCopy();
    ReplacementCopy(const ReplacementCopy &) = delete;
    ReplacementCopy &operator=(const ReplacementCopy &) = delete;

    // Creates an empty copy file (mode 0600) in the folder.
    bool create(int dirFd, const QByteArray &base);
    int fd() const { return fd_.get(); }

    // Puts the copy in the place of `base` in the same folder, as long as
    // `base` is still `original` (device and inode), then flushes the
    // folder. After a successful replace the copy is the file.
    bool replace(const QByteArray &base, const struct stat &original);

private:
    bool nameCopy(const QByteArray &base);

    int dirFd_ = -1;
    QByteArray name_;   // empty while the copy has no name
    Fd fd_;
    bool done_ = false;
};

// Opens the folder holding `realPath` and gives its name within it.
Fd openParentFolder(const QByteArray &realPath, QByteArray *base);

} // namespace mp3lib::detail
