#include "splicedstream.h"

#include "fileaccess.h"

#include <algorithm>
#include <sys/stat.h>

namespace mp3lib::detail {

SplicedStream::SplicedStream(int fd, QByteArray head) : fd_(fd), head_(std::move(head))
{
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_size >= head_.size())
        length_ = static_cast<long>(st.st_size);
}

TagLib::FileName SplicedStream::name() const
{
    return "";
}

TagLib::ByteVector SplicedStream::readBlock(unsigned long length)
{
    if (length_ < 0 || position_ >= length_)
        return {};
    const long n = static_cast<long>(std::min<unsigned long>(length, static_cast<unsigned long>(length_ - position_)));
    TagLib::ByteVector block(static_cast<unsigned int>(n), '\0');
    long done = 0;
    if (position_ < head_.size()) {
        done = std::min<long>(n, static_cast<long>(head_.size()) - position_);
        std::copy_n(head_.constData() + position_, done, block.data());
    }
    if (done < n && !readExactly(fd_, position_ + done, block.data() + done, n - done))
        return {};
    position_ += n;
    return block;
}

void SplicedStream::seek(long offset, Position p)
{
    const long base = p == Beginning ? 0 : p == Current ? position_ : length_;
    position_ = std::max(0L, base + offset);
}

} // namespace mp3lib::detail
