// The ID3v2 guard: a cheap walk over the ID3v2 tag(s) at the start of a
// file that refuses what TagLib 1.13 handles badly, before TagLib sees it.
#pragma once

#include "core/tags/fileaccess.h"
#include "core/tags/mpegaudio.h"

#include <QByteArray>

namespace mp3lib::detail {

// True when TagLib may parse the file's ID3v2 tag(s) (sizes inside the
// file, sane frame count, compressed frames within bound), or when there is
// no ID3v2 tag. False too when the tag's place cannot be settled cheaply:
// no ID3v2 tag at the start and no MPEG audio frame in the first 256 KB, so
// that TagLib would scan on through the file looking for one.
bool id3v2IsSafe(int fd);
bool id3v2IsSafe(FileReader &reader);

// The guard over a tag held in memory (header included, nothing after it).
bool id3v2TagIsSafe(const QByteArray &tag);

// Both checks over one set of reads, for a caller that needs both (the tag
// reader). id3v2Safe is only worked out when audio was found.
struct FileCheck {
    AudioSpan audio;
    bool id3v2Safe = false;
};
FileCheck checkFile(int fd);
FileCheck checkFile(FileReader &reader);

} // namespace mp3lib::detail
