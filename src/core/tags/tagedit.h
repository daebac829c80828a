// Writing chosen fields of one file's tag, for every caller that edits
// tags by field rather than through the tag frame's record: the command
// line, batch edits, repairs and conversions.
#pragma once

#include "core/tags/tagfields.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace tags {

// The fields to write into a file. A field left unset is not touched: it
// keeps its frames and bytes, whatever they hold.
struct FieldChanges {
    std::optional<QString> title, artist, album, year, comment;
    std::optional<GenreEntry> genre;
    // Writes the given text fields anew even where their text reads the
    // same as the file's (a conversion to Unicode changes only how the
    // text is stored): new frames in UTF-16 in the tag's own version.
    bool rewrite = false;

    bool empty() const
    {
        return !title && !artist && !album && !year && !comment && !genre;
    }
};

// The genre list's entry named or numbered by `given` (letter case
// ignored), as the window's genre list has it.
std::optional<GenreEntry> genreEntry(const QString &given);

struct WriteResult {
    enum Outcome { Written, Unchanged, Failed } outcome = Failed;
    QString reason;   // why it failed; empty otherwise
};

// Writes `changes` into the tag of `path`, as the window's Update does with
// the other fields left as shown: only the fields of the record that
// differ from the file's tag as the tag frame shows it are written, so the
// file's other fields keep their bytes.
WriteResult writeFields(const QByteArray &path, const FieldChanges &changes);

// Writes the record `tag` into the tag of `path`, as the tag frame's Update
// does: only the fields that differ from the file's tag as the frame shows
// it are written. `tag` is given back as the library leaves it.
WriteResult writeRecord(const QByteArray &path, TagInfo &tag);

// Why `path` fails the existence test of the lists (no such file, not a
// regular file, hidden), in the system's words.
QString missingReason(const QByteArray &path);

// Why the writer refused to write the tag of `path` (it gives no reason).
QString writeFailureReason(const QByteArray &path);

// The system's message for `error` (an errno value).
QString systemError(int error);

} // namespace tags
