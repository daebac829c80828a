// Text of tags whose bytes declare no encoding: ID3v1 fields and ID3v2
// frames marked ISO-8859-1. Japanese files hold CP932 (Shift-JIS with
// Microsoft's extensions) there.
#pragma once

#include <QByteArray>
#include <QString>

namespace mp3lib::detail {

// Valid UTF-8 -> UTF-8, else valid CP932 -> CP932, else ISO-8859-1.
QString decodeLegacy(const QByteArray &bytes);

// Bytes for an ID3v1 field of `maxBytes`: CP932 when every character has a
// CP932 form, else ISO-8859-1 when every character has one, else CP932 with
// '?' for the characters it lacks. Cut at a character boundary.
QByteArray encodeLegacy(const QString &text, int maxBytes);

// The system's text (UTF-8) out of a wire field: the bytes before the first
// NUL, or the whole field when it has none.
QString wireText(const char *field, int width);

// The system's text into a wire field: zero-filled, UTF-8 cut at a
// character boundary to `width` bytes.
void setWireText(char *field, int width, const QString &text);

} // namespace mp3lib::detail
