// Tags from file names: a pattern such as "%artist% - %title%" (the
// inverse of the program's own name rule "Singer - Title.mp3") matched
// against a file's name, giving the tag fields the pattern names.
//
// Placeholders: %artist%, %title%, %album%, %year%, %comment% (the fields
// written), %track% (a number read and not stored: the tag record has no
// track field) and %skip% (any text, dropped). Everything else in a pattern
// is literal text that the name must hold exactly (letter case included).
//
// The rule of the match:
// - The name is matched as the lists show it (bytes that are not UTF-8 read
//   by the display rule), in Unicode NFC, without its extension ".mp3"
//   (any letter case); dots elsewhere are text like any other.
// - The whole name must match. A name that does not gives no fields, and
//   is never written.
// - %track% is one or more digits (ASCII or full-width) and takes every
//   digit there; %year% is exactly four digits. A number is read as a track
//   or a year only where the pattern says so: "UB40 - Red Red Wine" under
//   "%artist% - %title%" gives the artist "UB40".
// - A text field must hold something besides blanks; it is stored without
//   the blanks (spaces, ideographic spaces) at its ends.
// - Where a literal (" - ", say) could be matched at several places, the
//   title keeps the extra ones: the fields before %title% take the shortest
//   text that lets the rest match, %title% the longest, the fields after it
//   again the shortest. "A - B - C" under "%artist% - %title%" gives the
//   artist "A" and the title "B - C"; under "%title% - %artist%" the title
//   "A - B" and the artist "C". Without %title%, every field takes the
//   shortest text, so the last one takes the rest.
#pragma once

#include "core/history/tagbatch.h"

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QString>

#include <optional>

namespace batch {

inline const QString kDefaultNamePattern = QStringLiteral("%artist% - %title%");

// What a name gives under a pattern.
struct NameFields {
    bool matched = false;
    tags::FieldChanges fields;      // only the fields the pattern names
    std::optional<qint64> track;    // %track%, read and not stored
};

class NamePattern {
public:
    // The pattern `text`; see error() for whether it is sound.
    explicit NamePattern(const QString &text = kDefaultNamePattern);

    const QString &text() const { return text_; }
    // Why the pattern cannot be used, for the command line; empty when it can.
    const QString &error() const { return error_; }
    // The same in Japanese, for the windows.
    const QString &errorMessage() const { return errorMessage_; }
    bool valid() const { return error_.isEmpty(); }

    // The fields a file name (its last part, extension included) gives.
    NameFields match(const QString &name) const;
    // The same for the file a path names, its name read as the lists show it.
    NameFields matchPath(const QByteArray &path) const;

private:
    enum Slot { Title, Artist, Album, Year, Comment, Track, Skip };
    QString text_;
    QString error_, errorMessage_;
    QRegularExpression regex_;
    QList<Slot> slots_;   // what each capture group of the regex holds
};

// The tag writes of tags from names: one per file whose name matches, with
// only the fields the pattern names; names that do not match are left out.
// `matched`, when given, gets the index in `paths` of each edit's file.
QList<history::TagEdit> fromNameEdits(const QList<QByteArray> &paths, const NamePattern &pattern,
                                      QList<qsizetype> *matched = nullptr);

} // namespace batch
