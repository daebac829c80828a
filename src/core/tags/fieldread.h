// Reading one file's fields, typed: the counterpart of writeFields
// (tagedit.h) for every caller that reads tags by field rather than through
// the tag frame's record: the command line, batch edits.
#pragma once

#include "core/tags/tagfields.h"

#include <QByteArray>
#include <QString>

namespace tags {

struct FileFields {
    enum Outcome { Read, NotFound, Failed } outcome = Failed;
    QString reason;   // why it was not read; empty otherwise

    // Whole, as the file holds them (ID3v2 first, then APE, then ID3v1 for
    // what the others lack); empty where the file has none.
    QString title, artist, album, year, comment;
    QString genre;                   // the genre's name, or a genre's own text
    std::int32_t genreNo = kNoGenreNo;
    QString track;                   // the track number's text, where the tag has one
    bool id3v2 = false, ape = false, id3v1 = false;   // the tags the file has
};

// Reads the fields of `path` (NotFound: the path names no regular file,
// links followed).
FileFields readFields(const QByteArray &path);

// What the tag frame shows for them: each field as the tag record's field
// holds it, trimmed and cut to its edit box; the genre's number and name.
TagFieldTexts shownTexts(const FileFields &fields);
GenreEntry shownGenre(const FileFields &fields);

} // namespace tags
