#include "gui/ui/japanesefont.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

namespace ui {

void useRegularJapaneseFallback()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    const QString japanese = QStringLiteral("Noto Sans CJK JP");
    if (!QFontDatabase::families().contains(japanese))
        return;
    QFont font = QApplication::font();
    QStringList families = font.families().isEmpty() ? QStringList{font.family()} : font.families();
    if (families.contains(japanese))
        return;
    families << japanese;
    font.setFamilies(families);
    font.setWeight(QFont::Normal);
    QApplication::setFont(font);
}

} // namespace ui
