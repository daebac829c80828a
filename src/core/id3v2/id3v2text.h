// The text and comment frames of an ID3v2 tag, as the tag reader takes its
// fields from them. They come from TagLib's parse of the tag, or, for a
// plain tag (what nearly every tagger writes), straight from the bytes the
// checks have already read: the same frames, without TagLib's objects per
// frame and per field.
#pragma once

#include "core/tags/fileaccess.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <cstring>

namespace mp3lib::detail {

struct TextFrame {
    char id[5] = {};          // as TagLib names it: ID3v2.3's TYER is TDRC
    bool text = false;        // a text frame (T..., and four of Apple's)
    bool comment = false;     // a comment frame: `fields` holds its text alone
    bool latin1 = false;      // declares ISO-8859-1: each character is one byte
    bool described = false;   // COMM with a description
    QStringList fields;       // TCON as TagLib splits "(17)Rock"

    bool is(const char *name) const { return std::strncmp(id, name, 4) == 0; }
};
using TextFrames = QList<TextFrame>;   // in the tag's order

struct RawTags;

// The names of the ID3v1 genre table (256, empty where it has none), from
// the tag reader's side of TagLib.
const QStringList &genreNames();

enum class PlainTag {
    Read,       // `frames` holds the tag's frames
    NotPlain,   // a tag TagLib is to read (or no ID3v2 tag at the start)
    Failed,     // a read of the file failed
};

// The frames of the file's ID3v2 tag when it is plain: ID3v2.3 or 2.4 at the
// start of the file, no tag-wide flags, no frame flags, every text in a form
// whose reading through TagLib is known exactly (anything else, down to a
// byte-order mark inside a field, is left to TagLib). Frames are read where
// they lie: a cover picture is stepped over, not read. `taglibMisreads`
// says whether TagLib would read the frames wrongly (see mendForTagLib);
// true where this reader cannot tell.
PlainTag readPlainTag(FileReader &reader, TextFrames &frames, bool &taglibMisreads);

// Makes `tags` one that TagLib 1.13 reads as the plain reader reads the
// bytes, where TagLib would read them wrongly: drops the broken frames at
// which TagLib stops (no data, an ID of other characters, a data length
// without room for it), and writes UTF-16 text that TagLib would read as
// empty for want of a byte-order mark as UTF-16BE. True when it changed
// anything.
bool mendForTagLib(RawTags &tags);

} // namespace mp3lib::detail
