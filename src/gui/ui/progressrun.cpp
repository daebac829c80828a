#include "gui/ui/progressrun.h"

#include "core/threads/background.h"
#include "gui/ui/messagebox.h"
#include "gui/ui/waitcursor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>

#include <thread>

namespace ui {

namespace {

constexpr int kShowAfterMs = 500;
constexpr int kPollMs = 50;

std::function<void()> testHook;
QPointer<QProgressDialog> shownDialog;

// Swallows the user's input to every window but the progress dialog while
// the work runs, so that no command starts in the middle of another.
class InputBlock : public QObject {
public:
    InputBlock() { qApp->installEventFilter(this); }
    ~InputBlock() override { qApp->removeEventFilter(this); }
    QProgressDialog *dialog = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::Drop:
        case QEvent::Close:
        case QEvent::ContextMenu:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride: {
            auto *widget = qobject_cast<QWidget *>(watched);
            const bool inDialog = dialog && widget && (widget == dialog || dialog->isAncestorOf(widget));
            if (!inDialog && watched->isWidgetType())
                return true;
            break;
        }
        default:
            break;
        }
        return false;
    }
};

QString counts(const ProgressState &s)
{
    return s.total > 0 ? QStringLiteral("%1 / %2 件").arg(s.done).arg(s.total)
                       : QStringLiteral("%1 件").arg(s.done);
}

} // namespace

void runWithProgress(QWidget *parent, const QString &label, const std::function<void()> &work,
                     const std::function<ProgressState()> &poll, std::atomic<bool> *cancel)
{
    const WaitCursor wait;
    InputBlock block;
    std::atomic<bool> finished{false};
    // Under test the work waits for the dialog, so that a test can press
    // Cancel before it is over, however fast the machine.
    std::atomic<bool> gate{!testHook};
    QEventLoop loop;
    std::thread worker([&] {
        threads::runBelowWindow();
        while (!gate.load())
            std::this_thread::yield();
        work();
        threads::giveBackFreedMemory();
        finished = true;
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });

    QElapsedTimer clock;
    clock.start();
    QProgressDialog *dialog = nullptr;
    QTimer timer;
    const auto update = [&] {
        if (finished)
            return;
        if (!dialog && (testHook || clock.elapsed() >= kShowAfterMs)) {
            dialog = new QProgressDialog(parent);
            dialog->setWindowTitle(kAppTitle);
            dialog->setWindowModality(Qt::WindowModal);
            dialog->setCancelButtonText(QStringLiteral("中止"));
            dialog->setMinimumDuration(0);
            dialog->setAutoClose(false);
            dialog->setAutoReset(false);
            dialog->setMinimumWidth(420);
            QObject::connect(dialog, &QProgressDialog::canceled, [cancel] { *cancel = true; });
            block.dialog = dialog;
            shownDialog = dialog;
            dialog->show();
        }
        if (!dialog)
            return;
        const ProgressState s = poll();
        dialog->setMaximum(s.total > 0 ? int(qMin<qint64>(s.total, INT_MAX)) : 0);
        dialog->setValue(s.total > 0 ? int(qMin(s.done, s.total)) : 0);
        // The file name may be long: its end says most.
        const QFontMetrics metrics(dialog->font());
        const QString at = metrics.elidedText(s.current, Qt::ElideMiddle, 400);
        dialog->setLabelText(label + QStringLiteral("\n") + counts(s) + QStringLiteral("\n") + at);
        if (testHook)
            testHook();
        gate = true;
    };
    QObject::connect(&timer, &QTimer::timeout, update);
    timer.start(kPollMs);
    if (testHook)
        QTimer::singleShot(0, update);
    if (!finished)
        loop.exec();
    worker.join();
    timer.stop();
    if (dialog) {
        delete dialog;
        // The keyboard goes back to the window the work was for, also where
        // no window manager gives it back (Ctrl+Z right after an Undo).
        if (parent)
            parent->window()->activateWindow();
    }
}

void setProgressHookForTesting(std::function<void()> onShown)
{
    testHook = std::move(onShown);
}

bool progressHookSet()
{
    return bool(testHook);
}

bool cancelProgressForTesting()
{
    if (!shownDialog)
        return false;
    emit shownDialog->canceled();   // what its Cancel button does
    return true;
}

} // namespace ui
