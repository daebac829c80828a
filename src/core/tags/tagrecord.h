// The tag reader on a file the caller holds open, for the writer, which
// compares what the user sent with what the file holds now.
#pragma once

#include "core/tags/vbmp3.h"

namespace mp3lib::detail {

// What vbmp3_getFileTagInfo gives for the file open as `fd`; false where
// it gives nothing (no audio, no tag, a tag refused by the guard).
bool readTagRecord(int fd, TagInfoWire &tag);

// The same, with the file's size as an fstat of `fd` has just given it.
bool readTagRecord(int fd, std::int64_t size, TagInfoWire &tag);

} // namespace mp3lib::detail
