// Text of tags whose bytes declare no encoding: ID3v1 fields and ID3v2
// frames marked ISO-8859-1. Japanese files hold CP932 (Shift-JIS with
// Microsoft's extensions) there, Western files Windows-1252 (of which
// ISO-8859-1 is the printable part), some taggers UTF-8.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace mp3lib::detail {

enum class LegacyCodec { Utf8, Cp932, Windows1252 };

// One undeclared text as stored. `cut` says it fills a fixed-width field
// (no terminator), so its writer may have cut its last character in two.
struct LegacyField {
    QByteArray bytes;
    bool cut = false;
};

// The code page of all undeclared text of one tag, decided over all of its
// fields together: UTF-8 when every field is valid UTF-8 (a cut field may
// end inside a character) and holds at least one multi-byte character;
// otherwise CP932 or Windows-1252, whichever reads more like text a person
// wrote (see textcodec.cpp for the signals).
LegacyCodec detectLegacyCodec(const QList<LegacyField> &fields);

// How plausibly `bytes` read in `codec` (Cp932 or Windows1252) are text a
// person wrote: the score detectLegacyCodec compares, for one field.
double legacyPlausibility(LegacyCodec codec, const QByteArray &bytes);

// One field in the code page decided for its tag. A cut field loses a
// character cut in two; a field that is not CP932 at all in a CP932 tag
// reads as Windows-1252 rather than as replacement characters.
QString decodeLegacyAs(LegacyCodec codec, const LegacyField &field);

// Every field of one tag, decided together.
QList<QString> decodeLegacyFields(const QList<LegacyField> &fields);

// Bytes for an ID3v1 field of `maxBytes`: CP932 when every character has a
// CP932 form, else Windows-1252 when every character has one, else CP932
// with '?' for the characters it lacks. Cut at a character boundary.
QByteArray encodeLegacy(const QString &text, int maxBytes);

// Bytes for the fields of one ID3v1 tag, `maxBytes` each, in one code page
// decided over all of them (reading decides once per tag): CP932 when every
// field fits it, else Windows-1252 when every field fits it, else the one
// of the two that holds every field marked in `kept` (the fields a write
// leaves as they were), CP932 first, with '?' for what it lacks.
QList<QByteArray> encodeLegacyFields(const QList<QString> &texts, const QList<int> &maxBytes,
                                     const QList<bool> &kept = {});

// The system's text (UTF-8) out of a wire field: the bytes before the first
// NUL, or the whole field when it has none.
QString wireText(const char *field, int width);

// The system's text into a wire field: zero-filled, UTF-8 cut at a
// character boundary to `width` bytes.
void setWireText(char *field, int width, const QString &text);

} // namespace mp3lib::detail
