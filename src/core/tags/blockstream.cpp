#include "core/tags/blockstream.h"

#include <algorithm>
#include <cstring>

namespace mp3lib::detail {

BlockStream::BlockStream(FileReader &reader, TagLib::ByteVector head) : reader_(reader)
{
    replaced_ = std::move(head);
    if (reader.ok() && reader.size() >= long(replaced_.size()))
        length_ = static_cast<long>(reader.size());
}

TagLib::FileName BlockStream::name() const
{
    return "";
}

TagLib::ByteVector BlockStream::readBlock(unsigned long length)
{
    if (length_ < 0 || position_ >= length_)
        return {};
    const long n = long(std::min<unsigned long>(length, static_cast<unsigned long>(length_ - position_)));
    const long replaced = long(replaced_.size());
    // Within the replaced head, TagLib gets a view of it, not a copy.
    if (position_ + n <= replaced) {
        const long at = position_;
        position_ += n;
        return TagLib::ByteVector(replaced_, unsigned(at), unsigned(n));
    }
    if (position_ >= replaced) {
        const FileReader::Piece p = reader_.pieceAt(position_, n);
        if (p.block && p.len == n) {
            const long at = position_ - long(p.block->offset);
            position_ += n;
            return TagLib::ByteVector(reinterpret_cast<const char *>(p.block->data()) + at, unsigned(n));
        }
    }
    // Otherwise pieced together: the replaced head, blocks, zeros for
    // skipped bytes, and reads of the file for the rest.
    TagLib::ByteVector out(unsigned(n), '\0');
    long done = 0;
    while (done < n) {
        const long at = position_ + done;
        long take;
        if (at < replaced) {
            take = std::min(n - done, replaced - at);
            std::memcpy(out.data() + done, replaced_.data() + at, size_t(take));
        } else {
            const FileReader::Piece p = reader_.pieceAt(at, n - done);
            take = long(p.len);
            if (p.block) {
                std::memcpy(out.data() + done, p.block->data() + (at - p.block->offset), size_t(take));
            } else if (!p.skipped && !readExactly(reader_.fd(), at, out.data() + done, take)) {
                failed_ = true;
                out.resize(unsigned(done));
                position_ += done;
                return out;
            }
        }
        done += take;
    }
    position_ += n;
    return out;
}

void BlockStream::seek(long offset, Position p)
{
    const long base = p == Beginning ? 0 : p == Current ? position_ : length_;
    position_ = std::max(0L, base + offset);
}

} // namespace mp3lib::detail
