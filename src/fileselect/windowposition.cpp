#include "windowposition.h"

#include "twips.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace fileselect {

std::optional<float> positionFromText(const QString &text)
{
    QString number = text.trimmed();
    if (number.isEmpty())
        return std::nullopt;
    number.replace(u',', u'.');
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    const float twips = float(std::clamp(value, -1e30, 1e30));
    return twips;
}

QString positionToText(float twips)
{
    if (!std::isfinite(twips))
        return QStringLiteral("0");
    if (twips == 0)
        return QStringLiteral("0"); // also for -0
    if (twips == std::trunc(twips))
        return QString::number(double(twips), 'f', 0);
    // A float that is not integral is below 2^24, so fixed notation with a
    // few decimals always suffices; take the shortest that reads back.
    for (int decimals = 1; decimals < 12; ++decimals) {
        const QString text = QString::number(double(twips), 'f', decimals);
        if (text.toFloat() == twips)
            return text;
    }
    return QString::number(double(twips), 'f', 12);
}

int positionToPixels(float twips)
{
    constexpr double kLimit = 1e7; // twips; far beyond any desktop
    return ui::twipsToPixels(std::clamp(double(twips), -kLimit, kLimit));
}

QPoint keepOnScreen(const QPoint &topLeft, const QSize &size)
{
    const QRect wanted(topLeft, size);
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (const QScreen *screen : screens) {
        if (screen->geometry().intersects(wanted))
            return topLeft;
    }
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (!primary)
        return topLeft;
    const QRect area = primary->availableGeometry();
    const int x = std::max(area.left(), std::min(topLeft.x(), area.right() + 1 - size.width()));
    const int y = std::max(area.top(), std::min(topLeft.y(), area.bottom() + 1 - size.height()));
    return QPoint(x, y);
}

} // namespace fileselect
