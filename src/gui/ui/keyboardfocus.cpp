#include "gui/ui/keyboardfocus.h"

#include <QApplication>
#include <QFocusFrame>

namespace ui {

void showKeyboardFocus(QWidget *window)
{
    // One frame per window, moved to each control that takes the focus; the
    // style draws it (CE_FocusFrame) in the palette's window-text colour.
    auto *frame = new QFocusFrame(window);
    QPalette palette = frame->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::WindowText, palette.color(QPalette::Active, QPalette::Highlight));
    frame->setPalette(palette);
    frame->hide();
    QObject::connect(qApp, &QApplication::focusChanged, frame, [frame, window](QWidget *, QWidget *now) {
        if (now && now->window() == window)
            frame->setWidget(now != window ? now : nullptr);
    });
}

} // namespace ui
