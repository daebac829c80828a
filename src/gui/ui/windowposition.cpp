#include "gui/ui/windowposition.h"

#include <QGuiApplication>
#include <QLocale>
#include <QRect>
#include <QScreen>
#include <algorithm>
#include <charconv>
#include <cmath>

#include "gui/ui/twips.h"

namespace ui {

namespace {
// Far beyond any screen (about 6.7 million pixels), yet safe to round.
constexpr float kMaxTwips = 1.0e8f;
} // namespace

std::optional<float> positionFromText(const QString &text)
{
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator); // "1,500" is no number
    bool ok = false;
    const float value = c.toFloat(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value == 0 ? 0.0f : value; // also turns -0 into 0
}

QString positionToText(float twips)
{
    if (!std::isfinite(twips) || twips == 0)
        return QStringLiteral("0"); // also turns -0 into "0"
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, twips,
                                      std::chars_format::fixed);
    if (result.ec != std::errc())
        return QStringLiteral("0");
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

int positionToPixels(float twips)
{
    if (!std::isfinite(twips))
        return 0;
    return twipsToPixels(std::clamp(twips, -kMaxTwips, kMaxTwips));
}

QPoint keepOnScreen(const QPoint &topLeft, const QSize &size)
{
    const QRect wanted(topLeft, size);
    const auto screens = QGuiApplication::screens();
    const bool visible = std::any_of(screens.begin(), screens.end(), [&](const QScreen *s) {
        return s->availableGeometry().intersects(wanted);
    });
    if (visible || !QGuiApplication::primaryScreen())
        return topLeft;
    return QGuiApplication::primaryScreen()->availableGeometry().topLeft();
}

} // namespace ui
