// What the tag frame's edit boxes make of a stored field, as one rule for
// the window, which shows the field, and for the writer, which must tell a
// field the user left alone from one he edited: a box shows the stored text
// trimmed and cut to its length, and an Update sends back what the box
// holds. A field whose box still holds that is unchanged, whatever the cut
// did to its text (a long title cut after a blank, a full date in the
// four-character year box).
#pragma once

#include <QString>
#include <QStringView>

namespace mp3lib {

// The edit boxes' lengths in UTF-16 units: title, singer, album and
// comment 30, year 4.
inline constexpr int kBoxLength = 30;
inline constexpr int kYearBoxLength = 4;

// `text` without blanks (the space and the ideographic space U+3000,
// common in Japanese tags) at either end.
QString trimBlanks(QStringView text);

// What a box of `length` shows of a stored text: trimmed, then cut to the
// box without splitting a character made of two UTF-16 units.
QString shownInBox(const QString &stored, int length);

// The year as an Update stores it: full-width digits (what a Japanese input
// method gives: "２００４") as ASCII digits; other text as typed.
QString yearDigits(QString text);

} // namespace mp3lib
