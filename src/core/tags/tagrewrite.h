// Writing fields anew whose text reads the same as the file's: a
// conversion to Unicode keeps every text and changes only how it is stored.
#pragma once

#include "core/tags/vbmp3.h"

#include <array>

namespace mp3lib {

// Title, artist, album, year, comment.
using RewriteFields = std::array<bool, 5>;

// vbmp3_setTagInfo, with the fields marked in `rewrite` written even where
// the record's text equals the file's: their ID3v2 frames are made anew in
// the tag's own version (ID3v2.3 for a file without one), in UTF-16 where
// the text is not ASCII, and their ID3v1 bytes by the usual rule. Every
// other frame keeps its bytes.
std::int16_t setTagInfoRewriting(const char *path, TagInfoWire &tag, const RewriteFields &rewrite);

} // namespace mp3lib
