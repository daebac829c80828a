#include "core/tags/blockstream.h"

#include <algorithm>
#include <cstring>

namespace mp3lib::detail {

BlockStream::BlockStream(FileReader &reader, QByteArray head) : reader_(reader)
{
    replaced_ = std::move(head);
    if (reader.ok() && reader.size() >= replaced_.size())
        length_ = static_cast<long>(reader.size());
}

long BlockStream::available(unsigned long length) const
{
    if (length_ < 0 || position_ >= length_)
        return 0;
    return static_cast<long>(std::min<unsigned long>(length, static_cast<unsigned long>(length_ - position_)));
}

const char *BlockStream::contiguous(long n)
{
    const long replaced = static_cast<long>(replaced_.size());
    const long at = position_;
    if (at + n <= replaced) {
        position_ += n;
        return replaced_.constData() + at;
    }
    if (at >= replaced) {
        const FileReader::Piece p = reader_.pieceAt(at, n);
        if (p.block && p.len == n) {
            position_ += n;
            return reinterpret_cast<const char *>(p.block->data()) + (at - p.block->offset);
        }
    }
    return nullptr;
}

long BlockStream::readInto(char *out, long n)
{
    const long replaced = static_cast<long>(replaced_.size());
    long done = 0;
    while (done < n) {
        const long at = position_ + done;
        long take;
        if (at < replaced) {
            take = std::min(n - done, replaced - at);
            std::memcpy(out + done, replaced_.constData() + at, static_cast<size_t>(take));
        } else {
            const FileReader::Piece p = reader_.pieceAt(at, n - done);
            take = static_cast<long>(p.len);
            if (p.block) {
                std::memcpy(out + done, p.block->data() + (at - p.block->offset), static_cast<size_t>(take));
            } else if (p.skipped) {
                std::memset(out + done, 0, static_cast<size_t>(take));
            } else if (!readExactly(reader_.fd(), at, out + done, take)) {
                failed_ = true;
                position_ += done;
                return done;
            }
        }
        done += take;
    }
    position_ += n;
    return n;
}

void BlockStream::seek(long offset, Position p)
{
    const long base = p == Beginning ? 0 : p == Current ? position_ : length_;
    position_ = std::max(0L, base + offset);
}

} // namespace mp3lib::detail
