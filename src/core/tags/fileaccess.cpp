// Descriptors and the read cache: opening a file so that nothing blocks,
// exact reads, and FileReader, the blocks of a file that the audio search,
// the ID3v2 guard and the tag stream share.

#include "core/tags/fileaccess.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mp3lib::detail {

bool readExactly(int fd, std::int64_t offset, char *data, std::int64_t size)
{
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, static_cast<size_t>(size), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        offset += n;
        size -= n;
    }
    return true;
}

Fd::~Fd()
{
    if (fd_ >= 0)
        ::close(fd_);
}

Fd &Fd::operator=(Fd &&other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

Fd openRegularFile(const char *path, int flags, struct stat *status, bool *exists)
{
    if (exists)
        *exists = false;
    if (!path || !*path)
        return {};
    struct stat st;
    const bool readOnly = (flags & O_ACCMODE) == O_RDONLY;
    // Before opening for writing, a first look at the path spares devices
    // the open itself (a tape drive rewinds on close, a terminal may become
    // ours). A read-only open without blocking and without a controlling
    // terminal harms none, and the check on the descriptor below is the one
    // that counts anyway: no later swap of the path can fool it.
    if (!readOnly && (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)))
        return {};
    int fd;
    do {
        fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // A file there that cannot be opened (no permission) still exists.
        if (exists)
            *exists = ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
        return {};
    }
    Fd file(fd);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    if (exists)
        *exists = true;
    // Reads of a regular file never block, O_NONBLOCK or not; a file
    // opened for writing gets its ordinary behaviour back.
    if (!readOnly) {
        const int fl = ::fcntl(fd, F_GETFL);
        if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0)
            return {};
    }
    if (status)
        *status = st;
    return file;
}

const char *fdPath(int fd, char (&buffer)[64])
{
    std::snprintf(buffer, sizeof buffer, "/proc/self/fd/%d", fd);
    return buffer;
}

// ---------------------------------------------------------------------------
// FileReader

FileReader::FileReader(int fd, i64 size) : fd_(fd), size_(size)
{
    if (size_ < 0) {
        struct stat st;
        size_ = (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) ? st.st_size : -1;
    }
    if (size_ > 0 && !load())
        size_ = -1;
}

bool FileReader::readExact(i64 offset, u8 *to, i64 n)
{
    return readExactly(fd_, offset, reinterpret_cast<char *>(to), n);
}

bool FileReader::load()
{
    // The head is read into a buffer of the thread's own, large enough for
    // any head, and handed out as a view of it: no byte is read twice nor
    // copied. The buffer is the thread's again once the reader and what
    // TagLib made of it are gone; were a view of it still alive, writing to
    // it would give the thread a buffer of its own first (QByteArray copies
    // on write).
    thread_local QByteArray buffer;
    if (buffer.size() != kMaxHead + kRest)
        buffer = QByteArray(qsizetype(kMaxHead + kRest), Qt::Uninitialized);
    u8 *const bytes = reinterpret_cast<u8 *>(buffer.data());
    i64 have = size_ <= kHead + kRest ? size_ : kHead;
    if (!readExact(0, bytes, have))
        return false;

    // Makes [0, end) available: 1 done, 0 too large (left to on-demand
    // reads), -1 a read failed. Little left after it: the rest too.
    auto extend = [&](i64 end) {
        end = std::min(end, size_);
        if (end <= have)
            return 1;
        if (end > kMaxHead)
            return 0;
        if (size_ - end <= kRest)
            end = size_;
        if (!readExact(have, bytes + have, end - have))
            return -1;
        have = end;
        return 1;
    };

    // The head reaches to the end of the tags at the start (stacked ones
    // included) and a few frames beyond, so that neither the guard nor
    // TagLib reads the tag again.
    i64 pos = 0;
    for (int i = 0; i < kMaxStackedTags && pos + Id3Header::kSize <= size_; ++i) {
        if (pos + Id3Header::kSize > have) {
            const int r = extend(pos + Id3Header::kSize + kAfterTag);
            if (r < 0)
                return false;
            if (r == 0)
                break;
        }
        const Id3Header t = parseId3Header(bytes + pos);
        if (!t.present)
            break;
        pos += t.complete;
    }
    if (extend(std::max(pos + Id3Header::kSize + kAfterTag, size_ - have <= kRest ? size_ : 0)) < 0)
        return false;
    head_.bytes = buffer;
    head_.length = have;
    return true;
}

const FileReader::Block *FileReader::blockHolding(i64 offset, i64 n) const
{
    if (head_.holds(offset, n))
        return &head_;
    for (auto b = blocks_.rbegin(); b != blocks_.rend(); ++b) {
        if (b->holds(offset, n))
            return &*b;
    }
    return nullptr;
}

const FileReader::u8 *FileReader::at(i64 offset, i64 n)
{
    if (offset < 0 || n < 0 || offset > size_ || n > size_ - offset)
        return nullptr;
    if (const Block *b = blockHolding(offset, n))
        return b->data() + (offset - b->offset);
    i64 len = std::min(std::max(n, kBlock), size_ - offset);
    if (size_ - (offset + len) <= kRest)
        len = size_ - offset;   // the end of the file too: ID3v1, APE footer
    Block block;
    block.offset = offset;
    block.bytes = QByteArray(qsizetype(len), Qt::Uninitialized);
    block.length = len;
    if (!readExact(offset, reinterpret_cast<u8 *>(block.bytes.data()), len))
        return nullptr;
    if (blocks_.size() == kMaxBlocks)
        blocks_.erase(blocks_.begin());
    blocks_.push_back(std::move(block));
    return blocks_.back().data();
}

bool FileReader::copy(i64 offset, i64 n, std::vector<u8> &out)
{
    if (offset < 0 || n < 0 || offset > size_ || n > size_ - offset)
        return false;
    out.resize(size_t(n));
    if (const Block *b = blockHolding(offset, n)) {
        std::memcpy(out.data(), b->data() + (offset - b->offset), size_t(n));
        return true;
    }
    return readExact(offset, out.data(), n);
}

void FileReader::skip(i64 from, i64 to)
{
    if (from < to)
        skipped_.emplace_back(from, to);
}

FileReader::Piece FileReader::pieceAt(i64 offset, i64 limit) const
{
    Piece piece;
    i64 end = offset + limit;
    if (head_.holds(offset, 1))
        return {&head_, false, std::min(end, head_.end()) - offset};
    for (const Block &b : blocks_) {
        if (b.holds(offset, 1))
            return {&b, false, std::min(end, b.end()) - offset};
        if (b.offset > offset)
            end = std::min(end, b.offset);
    }
    for (const auto &[from, to] : skipped_) {
        if (from <= offset && offset < to)
            piece.skipped = true, end = std::min(end, to);
        else if (from > offset)
            end = std::min(end, from);
    }
    piece.len = end - offset;
    return piece;
}

} // namespace mp3lib::detail
