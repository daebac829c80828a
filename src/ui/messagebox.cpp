#include "messagebox.h"

#include <QApplication>

namespace ui {

namespace {
MessageSink &sink()
{
    static MessageSink s;
    return s;
}
} // namespace

void showMessage(const QString &text, QMessageBox::Icon icon, QWidget *parent)
{
    if (sink()) {
        sink()(text, icon);
        return;
    }
    if (!parent)
        parent = QApplication::activeWindow();
    QMessageBox box(icon, kAppTitle, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void setMessageSinkForTesting(MessageSink s) { sink() = std::move(s); }

} // namespace ui
