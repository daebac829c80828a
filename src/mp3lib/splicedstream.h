// A read-only TagLib stream over an open file whose first bytes are
// replaced by others held in memory: TagLib reads an equivalent tag where
// it would misread the file's own, and the rest of the file as it is.
#pragma once

#include <QByteArray>

#include <taglib/tiostream.h>

namespace mp3lib::detail {

class SplicedStream : public TagLib::IOStream {
public:
    // `head` stands for the file's first head.size() bytes. The descriptor
    // stays the caller's and must outlive the stream.
    SplicedStream(int fd, QByteArray head);

    TagLib::FileName name() const override;
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector &) override {}
    void insert(const TagLib::ByteVector &, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return length_ >= 0; }
    void seek(long offset, Position p = Beginning) override;
    long tell() const override { return position_; }
    long length() override { return length_; }
    void truncate(long) override {}

private:
    int fd_;
    QByteArray head_;
    long length_ = -1;
    long position_ = 0;
};

} // namespace mp3lib::detail
