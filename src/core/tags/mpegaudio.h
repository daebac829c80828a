// MPEG audio: frame headers, where the audio of a file begins and ends (the
// library never writes or plays a file without it), and the frame test
// TagLib 1.13 applies while it looks for an ID3v2 tag.
#pragma once

#include "core/tags/fileaccess.h"

#include <cstdint>

namespace mp3lib::detail {

// Where the MPEG audio of a file lies, and whether it has any: the first of
// several consecutive valid MPEG audio frame headers after the ID3v2 tag(s).
struct AudioSpan {
    bool found = false;
    std::int64_t begin = 0;    // offset of the first frame
    std::int64_t end = 0;      // offset just past the audio (before ID3v1/APE)
};
AudioSpan findMpegAudio(int fd);
AudioSpan locateAudio(FileReader &reader);

// The frame test TagLib 1.13 uses while looking for an ID3v2 tag: a frame
// sync (second byte not FF), a valid header, and the next frame's header
// agreeing in version, layer and sample rate.
bool taglibSeesFrame(FileReader &reader, std::int64_t pos);

} // namespace mp3lib::detail
