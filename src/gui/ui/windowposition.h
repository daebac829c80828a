// Window positions as the settings file keeps them (decimal text of a
// single-precision number of twips), and keeping a window on a screen.
#pragma once

#include <QPoint>
#include <QSize>
#include <QString>
#include <optional>

namespace ui {

// The stored text as a position in twips; nothing when the text is empty,
// not a number ("1,500" included), or not finite. Blanks around the number
// are allowed.
std::optional<float> positionFromText(const QString &text);

// The position as decimal text: "." as decimal separator, no thousands
// separator, no exponent, no decimal part for an integral value, and the
// fewest digits that read back as the same single-precision value
// (1500 -> "1500", 1522.5 -> "1522.5", 12.3f -> "12.3").
QString positionToText(float twips);

// Twips to whole pixels for moving a window, kept far enough inside the
// int range that any stored value, however large, is safe to use.
int positionToPixels(float twips);

// Where a window of `size` asked at `topLeft` (pixels) goes: there when it
// overlaps some screen's available area; otherwise (a monitor since removed,
// a damaged settings file) the top-left corner of the primary screen's.
QPoint keepOnScreen(const QPoint &topLeft, const QSize &size);

} // namespace ui
