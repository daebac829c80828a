// The stream TagLib reads a file through: the blocks the checks have read
// already (FileReader's), so that TagLib reads no byte of the tag twice from
// the file,
// zeros for the bytes the checks skipped as giving no field (picture
// bodies), and anything else straight from the descriptor. Optionally the
// file's first bytes are replaced by others held in memory, an equivalent
// tag where TagLib would misread the file's own.
#pragma once

#include "core/tags/fileaccess.h"

#include <taglib/tiostream.h>

namespace mp3lib::detail {

class BlockStream : public TagLib::IOStream {
public:
    // `head`, when not empty, stands for the file's first head.size()
    // bytes. The reader (and its descriptor) must outlive the stream.
    explicit BlockStream(FileReader &reader, TagLib::ByteVector head = {});

    // Whether a read of the file failed or came short (the file shrank, or
    // the disk said no): what TagLib parsed from it is then not the file.
    bool failed() const { return failed_; }

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
    FileReader &reader_;
    TagLib::ByteVector replaced_;
    long length_ = -1;
    long position_ = 0;
    bool failed_ = false;
};

} // namespace mp3lib::detail
