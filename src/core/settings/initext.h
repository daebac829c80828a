// The text of a settings file, in the INI format of Windows' private-profile
// functions: finding a stored value, and changing one while every byte the
// change does not touch stays as it was. Pure functions over bytes; the file
// itself is read and written by inifile_IO.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>

namespace initext {

// The stored value of `key` in `section` (names compared ignoring case; the
// first section and the first key of that name count), with the blanks around
// it and one pair of enclosing quotes removed; nullopt when section or key is
// missing.
std::optional<QByteArray> value(QByteArrayView text, const QString &section, const QString &key);

// `text` with `key` in `section` set to `value`: an existing key's line is
// rewritten in place, a new key goes after the last key line of its section,
// a new section at the end of the text. nullopt when the names or the value
// cannot be stored without changing the meaning of the file (see below).
std::optional<QByteArray> withValue(QByteArrayView text, const QString &section,
                                    const QString &key, const QString &value);

// Names and values that a file can hold and give back unchanged: no line
// breaks or NUL anywhere; a section name without "]", a key without "=" that
// does not look like a comment or a section header; neither name empty.
// Names are taken without the blanks around them, as the file reads them.
bool isStorableSection(const QString &section);
bool isStorableKey(const QString &key);
bool isStorableValue(const QString &value);

// `bytes` cut at the first NUL and to at most `maxBytes`, never inside a
// UTF-8 sequence.
QByteArray cutValue(QByteArray bytes, qsizetype maxBytes);

// A decimal number with optional blanks around it, sign, decimal point and
// exponent ("." only, whatever the locale), rounded to the nearest integer
// with halves to the even neighbour; nullopt when it is not such a number or
// lies outside -32768..32767 after rounding. Exact: no binary floating point.
std::optional<std::int16_t> toInt16(QByteArrayView text);

} // namespace initext
