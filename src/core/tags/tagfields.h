// The tag frame's fields and the records made from them: what the display
// shows for a tag, the record the update writes, the copy buffer and the
// clipboard line of Copy, and finding a genre's entry in the genre list.
#pragma once

#include <QList>
#include <QString>
#include <cstdint>

#include "core/tags/fieldtext.h"
#include "core/tags/taginfo.h"

namespace tags {

// Maximum lengths of the edit fields: title, singer, album, comment 30
// characters, year 4.
inline constexpr int kFieldMaxLength = mp3lib::kBoxLength;
inline constexpr int kYearMaxLength = mp3lib::kYearBoxLength;

// The genre number written when there is no genre entry to take one from;
// the number no genre has.
inline constexpr std::int32_t kNoGenreNo = 255;

// The five text fields of the tag frame, as the edit fields hold them.
struct TagFieldTexts {
    QString TrackName;
    QString ArtistName;
    QString AlbumName;
    QString Year;
    QString Comment;

    bool operator==(const TagFieldTexts &) const = default;
};

// A genre entry: its number (item data) and its name (entry text). The
// default is no genre, for an empty genre list.
struct GenreEntry {
    std::int32_t GenreNo = kNoGenreNo;
    QString GenreName;
};

// The genre list: every genre the library names, numbers 0 to 255, sorted
// by name ignoring case, then exactly (not by the user's locale); equal
// names keep the order of their numbers.
QList<GenreEntry> genreList();

// The texts the edit fields show for a tag record: each field through
// TrimTagStr, cut to the field's maximum length. A cut never splits a
// character made of two UTF-16 units.
TagFieldTexts displayTexts(const TagInfo &tag);

// The record the tag update writes: each text exactly as typed with one NUL
// appended, by the writing rule (full-width digits of the year as ASCII
// digits); the genre's number and its name with a NUL.
TagInfo recordForUpdate(const TagFieldTexts &texts, const GenreEntry &genre);

// The copy buffer Copy makes: each text through TrimTagStr, stored by the
// writing rule without a NUL; the genre's number and name as they are.
TagInfo copyBuffer(const TagFieldTexts &texts, const GenreEntry &genre);

// The clipboard line of Copy: title, singer, album, year, genre name,
// comment, joined by commas, the texts through TrimTagStr, nothing quoted.
QString clipboardLine(const TagFieldTexts &texts, const QString &genreName);

// The genre search over the genre list's item data: the index of the first
// of at most `limit` entries whose number is `genreNo`, or -1.
inline constexpr qsizetype kPasteGenreSearchLimit = 256;
int genreEntryIndex(const QList<std::int32_t> &numbers, std::int32_t genreNo,
                    qsizetype limit);

} // namespace tags
