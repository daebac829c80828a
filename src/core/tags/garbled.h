// Text another program decoded with the wrong code page and stored as
// Unicode: Shift-JIS tags that a player read as Windows-1252 ("–é–¾‚¯‚Ì‰Ì"
// for 「夜明けの歌」), UTF-8 read as Windows-1252 ("CafÃ©" for "Café"),
// Windows-1252 read as CP932 by a Japanese tool ("Am駘ie" for "Amélie").
// Finding the way back needs Qt Core only.
#pragma once

#include <QString>

#include <array>
#include <optional>

namespace mp3lib {

// The text fields of one tag, in this order: title, artist, album, comment.
using TagTexts = std::array<QString, 4>;

enum class CodePage { Windows1252, Latin1, MacRoman, Cp932, Utf8 };

// A way back: the fields' text encoded in `misreadAs` gives the bytes their
// writer meant, which read as `real` give `texts`.
struct GarbleRepair {
    CodePage misreadAs;
    CodePage real;
    TagTexts texts;   // every field, repaired or as it was
};

// The repair of one tag's fields, decided once for the whole tag, or none.
// A chain is taken only when every field beyond ASCII goes back exactly (no
// character without a byte in the wrong code page, no byte sequence the
// real encoding rejects), nothing shows a lost byte ("?" or U+FFFD where a
// byte was), and the result reads far more plausibly as text than the
// fields as they are. ASCII fields stay as they are.
std::optional<GarbleRepair> findGarbleRepair(const TagTexts &fields);

// "Windows-1252", "ISO-8859-1", "MacRoman", "CP932", "UTF-8".
QString codePageName(CodePage page);

} // namespace mp3lib
