// Descriptors and the read cache: safe access to files the library is
// handed (never block on a FIFO or a device), and the few blocks of a file
// that the checks and the tag reader share, read once each.
#pragma once

#include "core/id3v2/id3v2layer.h"

#include <QByteArray>

#include <cstdint>
#include <utility>
#include <vector>

struct stat;

namespace mp3lib::detail {

// A file descriptor that closes itself.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd();
    Fd(Fd &&other) noexcept : fd_(other.release()) {}
    Fd &operator=(Fd &&other) noexcept;
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { int fd = fd_; fd_ = -1; return fd; }

private:
    int fd_ = -1;
};

// Reads `size` bytes at `offset` (pread, retried after signals); false on
// any error or an early end of file.
bool readExactly(int fd, std::int64_t offset, char *data, std::int64_t size);

// Opens `path` without blocking (O_NONBLOCK, O_CLOEXEC) with `flags`
// (O_RDONLY or O_RDWR) and returns the descriptor only when it names a
// regular file (links followed), checked on the open descriptor. An
// invalid Fd otherwise. `st`, when given, receives the descriptor's status.
// `exists`, when given, says whether the path names a regular file (false:
// missing, a folder, a device), also when it cannot be opened, so that a
// caller learns from this one call what an existence test would say.
Fd openRegularFile(const char *path, int flags, struct stat *st = nullptr, bool *exists = nullptr);

// A path through which TagLib, which only takes paths, opens exactly the
// file behind `fd` ("/proc/self/fd/N"), whatever happened to the original
// path since it was opened.
const char *fdPath(int fd, char (&buffer)[64]);

// The bytes of one open file that the audio search, the ID3v2 guard and
// TagLib need, in as few reads as the file allows: a head block from the
// start that covers the ID3v2 tag (stacked tags included) and the first
// audio frames after it, and one at the end for an ID3v1 tag and an APE
// footer (or the rest of the file, where little is left). A tag too large for the head (one with a cover
// picture) is read where it is walked: frame headers, and the frames that
// give fields; the bodies of frames that give none (pictures, objects) are
// noted as skipped and never read. Other bytes come in blocks read on
// demand. The size is the one the file had when the reader was made; later
// reads of bytes past a shrunken end fail.
class FileReader {
public:
    using u8 = std::uint8_t;
    using i64 = std::int64_t;

    static constexpr i64 kHead = 16 * 1024;       // most tags and a few frames
    static constexpr i64 kAfterTag = 8 * 1024;    // frames after a larger tag
    static constexpr i64 kMaxHead = 64 * 1024;    // beyond: walked, not read whole
    static constexpr i64 kRest = 16 * 1024;       // read with the head when no more is left
    static constexpr i64 kBlock = 8 * 1024;       // on-demand reads
    static constexpr size_t kMaxBlocks = 8;       // on-demand blocks kept

    // `size`: the file's size when known (from an fstat just made), else -1.
    explicit FileReader(int fd, i64 size = -1);

    bool ok() const { return size_ >= 0; }
    i64 size() const { return size_; }
    int fd() const { return fd_; }

    // `n` bytes at `offset`, or nullptr when they are not all in the file
    // or cannot be read. Valid until the next call of at() or copy().
    const u8 *at(i64 offset, i64 n);

    // Copies [offset, offset + n) into `out`; false when the file is
    // shorter or a read fails.
    bool copy(i64 offset, i64 n, std::vector<u8> &out);

    // Notes [from, to) as bytes no field is read from (the body of a
    // picture frame): a reader of the tag may take zeros for them.
    void skip(i64 from, i64 to);

    // Bytes [offset, offset + size) of the file, held in memory.
    struct Block {
        i64 offset = 0;
        QByteArray bytes;   // the first `length` bytes are the file's
        i64 length = 0;
        i64 end() const { return offset + length; }
        bool holds(i64 from, i64 n) const { return from >= offset && n >= 0 && from + n <= end(); }
        const u8 *data() const { return reinterpret_cast<const u8 *>(bytes.constData()); }
    };

    // What stands at `offset`, for at most `limit` bytes: a block holding
    // them, a skipped stretch (zeros will do), or neither (`len` bytes
    // to read from the file).
    struct Piece {
        const Block *block = nullptr;
        bool skipped = false;
        i64 len = 0;
    };
    Piece pieceAt(i64 offset, i64 limit) const;

private:
    bool load();
    bool readExact(i64 offset, u8 *to, i64 n);
    const Block *blockHolding(i64 offset, i64 n) const;

    int fd_;
    i64 size_ = -1;
    Block head_;
    std::vector<Block> blocks_;                    // read on demand, oldest first
    std::vector<std::pair<i64, i64>> skipped_;
};

} // namespace mp3lib::detail
