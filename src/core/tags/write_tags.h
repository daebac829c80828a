// What a tag write changes: the fields of the record that differ from what
// the file holds now, put into the file's ID3v2 frames, ID3v1 bytes and APE
// items, with everything else left as it was.
#pragma once

#include <QByteArray>
#include <QString>
#include <array>

#include "core/tags/vbmp3.h"

namespace mp3lib::detail {

struct RawTags;

enum Field { Title, Artist, Album, Year, Comment, Genre, kFieldCount };

// The six fields of a record.
struct TagFields {
    std::array<QString, Genre> text;   // title, artist, album, year, comment
    int genreNo = 255;
    QString genre;      // the genre's name; empty when the number has none

    static TagFields fromWire(const TagInfoWire &wire);
};

// Which fields of `wanted` differ from `current` (what the file holds
// now). A text counts as the same when it is exactly what an Update sends
// for the stored text when its box is left alone (fieldtext.h), so that an
// Update without edits changes nothing, not even a title cut after a blank
// by its box or a full date behind the four-character year.
std::array<bool, kFieldCount> changedFields(const TagFields &wanted, const TagFields &current);

// Puts the changed fields into the frames of `tags`: the frames of a
// changed field are replaced by one new frame at the place of the first,
// or removed for an empty value; the comment is the first comment frame
// without a description, whose language the new one keeps. Every other
// frame stays as it is.
void setFrames(RawTags &tags, const TagFields &f, const std::array<bool, kFieldCount> &changed);

// The 128-byte ID3v1 tag after the write: `old` (empty for a file without
// one) with the changed fields replaced, or made anew from `f`. Text in one
// legacy code page for the whole tag (textcodec.h), each field cut at a
// character boundary, the year as typed; an ID3v1.1 track byte is kept (the
// comment then has 28 bytes).
QByteArray id3v1With(const QByteArray &old, const TagFields &f,
                     const std::array<bool, kFieldCount> &changed);

// The APE tag `old` (its bytes from header or first item to footer) with
// the changed fields' items replaced and every other item byte for byte,
// flags included; empty when `old` is not an APE tag read whole.
QByteArray apeWith(const QByteArray &old, const TagFields &f, const std::array<bool, kFieldCount> &changed);

// A track number frame (TRCK) appended to `tags`, for a tag made anew from
// an ID3v1.1 tag's track number.
void addTrackFrame(RawTags &tags, int track);

// Whether the record read back after the write holds the written fields.
bool holdsChangedFields(const TagFields &readBack, const TagFields &f,
                        const std::array<bool, kFieldCount> &changed);

} // namespace mp3lib::detail
