// Window positions and sizes are given in twips (1/1440 inch); the screen
// has 96 device-independent pixels per inch, so 15 twips make one pixel.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <cmath>

namespace ui {

inline constexpr int kTwipsPerPixel = 15;

inline int twipsToPixels(double twips) { return int(std::lround(twips / kTwipsPerPixel)); }
inline double pixelsToTwips(int pixels) { return double(pixels) * kTwipsPerPixel; }

inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

inline QSize twipsSize(int width, int height)
{
    return QSize(twipsToPixels(width), twipsToPixels(height));
}

} // namespace ui
