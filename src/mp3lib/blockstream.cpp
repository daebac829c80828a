#include "blockstream.h"

#include <algorithm>
#include <cstring>

namespace mp3lib::detail {

BlockStream::BlockStream(FileReader &reader, TagLib::ByteVector head) : reader_(reader)
{
    replaced_.bytes = std::move(head);
    if (reader.ok() && reader.size() >= long(replaced_.bytes.size()))
        length_ = static_cast<long>(reader.size());
}

TagLib::FileName BlockStream::name() const
{
    return "";
}

const FileReader::Block *BlockStream::blockAt(long from) const
{
    // The replaced head hides the file's own bytes beneath it.
    const long replaced = long(replaced_.bytes.size());
    if (from < replaced)
        return &replaced_;
    for (const FileReader::Block *b : {&reader_.head(), &reader_.tail()}) {
        if (b->holds(from, 1))
            return b;
    }
    return nullptr;
}

TagLib::ByteVector BlockStream::readBlock(unsigned long length)
{
    if (length_ < 0 || position_ >= length_)
        return {};
    const long n = long(std::min<unsigned long>(length, static_cast<unsigned long>(length_ - position_)));
    // Within one block, TagLib gets a view of it, not a copy.
    if (const FileReader::Block *b = blockAt(position_); b && b->holds(position_, n)) {
        const long at = position_ - long(b->offset);
        position_ += n;
        return TagLib::ByteVector(b->bytes, unsigned(at), unsigned(n));
    }
    // Across blocks, or beyond them: pieced together, the gaps read from
    // the file.
    TagLib::ByteVector out(unsigned(n), '\0');
    long done = 0;
    while (done < n) {
        const long at = position_ + done;
        long take;
        if (const FileReader::Block *b = blockAt(at)) {
            const long end = std::min<long>(position_ + n, long(b->offset) + long(b->bytes.size()));
            take = end - at;
            std::memcpy(out.data() + done, b->bytes.data() + (at - b->offset), size_t(take));
        } else {
            // Up to the next block that holds bytes, or the end of the read.
            long stop = position_ + n;
            for (const FileReader::Block *b : {&reader_.head(), &reader_.tail()}) {
                if (!b->bytes.isEmpty() && b->offset > at)
                    stop = std::min<long>(stop, long(b->offset));
            }
            take = stop - at;
            if (!readExactly(reader_.fd(), at, out.data() + done, take)) {
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
