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

// Makes TagLib read ID3v1 fields and ISO-8859-1 ID3v2 frames through
// decodeLegacy, and render ID3v1 fields through encodeLegacy (30 bytes; the
// caller keeps the 28-byte comment and the 4-byte year within their width).
// TagLib's handlers are process-wide: every code path that parses or
// renders tags calls this first. Safe to call from several threads; only
// the first call does anything.
void installLegacyStringHandlers();

} // namespace mp3lib::detail
