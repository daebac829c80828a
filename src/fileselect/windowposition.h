// Window positions as the settings file keeps them (decimal text of a
// single-precision number of twips), and keeping a window on a screen.
#pragma once

#include <QPoint>
#include <QSize>
#include <QString>
#include <optional>

namespace fileselect {

// The stored text as a position in twips; nothing when the text is empty,
// not a number, or not finite. Blanks around the number are allowed, and a
// "," written as decimal separator is read as ".".
std::optional<float> positionFromText(const QString &text);

// The position as decimal text: "." as decimal separator, no thousands
// separator, no exponent, no decimal part for an integral value, and the
// fewest decimals that read back as the same number.
QString positionToText(float twips);

// Twips to pixels for moving a window; values far off any screen are held
// to a range that stays safe to compute with.
int positionToPixels(float twips);

// Where a window of `size` whose top-left corner is asked at `topLeft`
// (pixels) goes: there, when the window would overlap some screen;
// otherwise as close to that spot as fits on the primary screen.
QPoint keepOnScreen(const QPoint &topLeft, const QSize &size);

} // namespace fileselect
