// The stream TagLib reads a file through: the blocks the checks have read
// already (FileReader's), so that TagLib reads no byte of the tag twice from
// the file,
// zeros for the bytes the checks skipped as giving no field (picture
// bodies), and anything else straight from the descriptor. Optionally the
// file's first bytes are replaced by others held in memory, an equivalent
// tag where TagLib would misread the file's own. The TagLib adapter wraps
// it in TagLib's IOStream.
#pragma once

#include "core/tags/fileaccess.h"

#include <QByteArray>

namespace mp3lib::detail {

class BlockStream {
public:
    enum Position { Beginning, Current, End };

    // `head`, when not empty, stands for the file's first head.size()
    // bytes. The reader (and its descriptor) must outlive the stream.
    explicit BlockStream(FileReader &reader, QByteArray head = {});

    // Whether a read of the file failed or came short (the file shrank, or
    // the disk said no): what TagLib parsed from it is then not the file.
    bool failed() const { return failed_; }

    bool isOpen() const { return length_ >= 0; }
    void seek(long offset, Position p = Beginning);
    long tell() const { return position_; }
    long length() const { return length_; }

    // How many of `length` bytes a read at the position gives (0 at the end).
    long available(unsigned long length) const;
    // The next `n` (<= available()) bytes where they lie in memory in one
    // piece (the replaced head or one block), the position moved past them;
    // nullptr otherwise, the position left alone.
    const char *contiguous(long n);
    // Copies the next `n` (<= available()) bytes into `out`, pieced together
    // from the replaced head, blocks, zeros for skipped bytes and reads of
    // the file; the count copied, short when a read of the file failed.
    long readInto(char *out, long n);

private:
    FileReader &reader_;
    QByteArray replaced_;
    long length_ = -1;
    long position_ = 0;
    bool failed_ = false;
};

} // namespace mp3lib::detail
