// The six fields of a tag write, put into TagLib's tags of a file, and the
// check that reads them back.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

#include "vbmp3.h"

namespace TagLib {
class String;
namespace MPEG { class File; }
namespace ID3v2 { class Tag; }
namespace APE { class Tag; }
} // namespace TagLib

namespace mp3lib::detail {

// What a tag write puts into every tag of the file, taken from the record.
struct TagFields {
    QString title;
    QString artist;
    QString album;
    QString year;       // as typed; need not be a number
    QString comment;
    QString genre;      // the genre's name; empty when the number has none
    int genreByte = 255;  // the ID3v1 genre byte: the number, or 255

    static TagFields fromWire(const TagInfoWire &wire);
};

// Puts the fields into the file's ID3v2 tag (made when missing) and into its
// APE tag when it has one, replacing only the frames and items of the six
// fields. `v4` says whether the tag is rendered as ID3v2.4 (else 2.3).
void applyFields(TagLib::MPEG::File &file, const TagFields &fields, bool v4);

// The 128-byte ID3v1 tag: text in the legacy 8-bit form, each field cut at a
// character boundary, the year as typed. A `track` of 1..255 is kept as the
// ID3v1.1 track byte (the comment then has 28 bytes).
QByteArray renderId3v1(const TagFields &fields, int track);

// Whether the tags TagLib read from a written file hold exactly the fields:
// the ID3v2 frames (none where a field is empty; the tag may be missing when
// every field is), and the APE items when `ape` is given.
bool id3v2Holds(const TagLib::ID3v2::Tag *tag, const TagFields &fields);
bool apeHolds(const TagLib::APE::Tag &ape, const TagFields &fields);

} // namespace mp3lib::detail
