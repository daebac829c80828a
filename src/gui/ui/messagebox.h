// Every message the program shows goes through showMessage: a modal box with
// one OK button, the given icon and the title "Dorvasu".
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

namespace ui {

inline const QString kAppTitle = QStringLiteral("Dorvasu");

void showMessage(const QString &text, QMessageBox::Icon icon = QMessageBox::Warning,
                 QWidget *parent = nullptr);

// Tests replace the box by a function that records the message; an empty
// function brings the real box back.
using MessageSink = std::function<void(const QString &text, QMessageBox::Icon icon)>;
void setMessageSinkForTesting(MessageSink sink);

} // namespace ui
