// The tag record in the program's own form, and its text rules.
#pragma once

#include <QString>
#include <cstdint>

#include "core/tags/vbmp3.h"

namespace tags {

// Field widths in characters; the wire form has the same widths in bytes.
inline constexpr int kTextWidth = 128;
inline constexpr int kYearWidth = 5;

// A tag record as the program keeps it: each text field holds exactly its
// width in characters. A fresh record is all NUL characters and GenreNo 0.
// It is converted to the library's wire form right before each library call
// and back right after it (toWire / fromWire).
struct TagInfo {
    QString TrackName;
    QString ArtistName;
    QString AlbumName;
    QString Year;
    QString Comment;
    std::int32_t GenreNo = 0;
    QString GenreName;

    TagInfo();

    mp3lib::TagInfoWire toWire() const;
    // Replaces every field by what the wire form holds.
    void fromWire(const mp3lib::TagInfoWire &wire);

    bool operator==(const TagInfo &) const = default;
};

// The reading rule: the text before the first NUL, without spaces (and
// ideographic spaces, U+3000, common in Japanese tags) at either end.
QString TrimTagStr(QString text);

// The writing rule: `text` left-aligned in a field of `width` characters,
// padded with spaces, cut after `width` characters. A surrogate pair that
// would be split at the cut is replaced by a space.
QString fitField(const QString &text, int width);

// The writing rule as the tag update uses it: the text with one NUL appended.
QString fitFieldWithNul(const QString &text, int width);

} // namespace tags
