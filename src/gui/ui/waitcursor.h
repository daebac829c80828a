// The hourglass pointer for the lifetime of the guard, restored on every way
// out of the scope (returns and exceptions alike).
#pragma once

#include <QApplication>
#include <QCursor>

namespace ui {

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

} // namespace ui
