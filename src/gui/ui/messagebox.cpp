#include "gui/ui/messagebox.h"

#include <QApplication>
#include <QGridLayout>
#include <QPlainTextEdit>

namespace ui {

namespace {

constexpr int kLongMessageLines = 25;

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
    // A report of thousands of files would make a box taller than the
    // screen, its OK button out of reach: its first line stays the text,
    // the rest goes into a scrolling field below it.
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    if (lines.size() > kLongMessageLines) {
        box.setText(lines.first());
        auto *rest = new QPlainTextEdit(lines.mid(1).join(u'\n').trimmed(), &box);
        rest->setReadOnly(true);
        rest->setMinimumSize(480, 320);
        if (auto *layout = qobject_cast<QGridLayout *>(box.layout()))
            layout->addWidget(rest, layout->rowCount(), 0, 1, layout->columnCount());
    }
    box.exec();
}

void setMessageSinkForTesting(MessageSink s) { sink() = std::move(s); }

} // namespace ui
