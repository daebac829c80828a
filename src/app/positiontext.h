// Window positions as the settings file keeps them: decimal text of a
// single-precision number of twips.
#pragma once

#include <QString>

namespace app {

// The stored text as a position in twips. Surrounding blanks are allowed;
// text that is empty, not a number, infinite or not a number at all reads
// as 0, so a damaged settings file never stops start-up.
float positionFromText(const QString &text);

// The position as decimal text: "." as decimal separator, no thousands
// separator, no exponent, no decimal part for an integral value, and the
// fewest digits that read back as the same single-precision value
// (1500 -> "1500", 1522.5 -> "1522.5", 12.3f -> "12.3").
QString positionToText(float twips);

// Twips to whole pixels for moving a window, kept far enough inside the
// int range that any stored value, however large, is safe to use.
int positionToPixels(float twips);

} // namespace app
