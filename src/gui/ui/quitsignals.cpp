#include "gui/ui/quitsignals.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace ui {
namespace {

// The handler only writes a byte into a pipe (async-signal-safe); the event
// loop reads it and does the work on the user-interface thread.
int quitPipe[2] = {-1, -1};

extern "C" void onQuitSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a request: nothing is lost.
    [[maybe_unused]] const ssize_t n = ::write(quitPipe[1], &byte, 1);
    errno = savedErrno;
}

class QuitRequest : public QObject {
public:
    explicit QuitRequest(QWidget *mainWindow)
        : QObject(mainWindow),
          mainWindow_(mainWindow),
          notifier_(quitPipe[0], QSocketNotifier::Read, this)
    {
        connect(&notifier_, &QSocketNotifier::activated, this, [this] {
            char buffer[64];
            while (::read(quitPipe[0], buffer, sizeof buffer) > 0) {
            }
            if (!pending_) {
                pending_ = true;
                closeWindows();
            }
        });
    }

private:
    void closeWindows()
    {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
        // Still inside a modal window's loop: the handler that opened it has
        // yet to return. Look again shortly.
        if (QApplication::activeModalWidget() || QThread::currentThread()->loopLevel() > 1) {
            QTimer::singleShot(10, this, &QuitRequest::closeWindows);
            return;
        }
        pending_ = false;
        if (mainWindow_->close())
            QCoreApplication::quit();
    }

    QWidget *mainWindow_;
    QSocketNotifier notifier_;
    bool pending_ = false;
};

} // namespace

bool closeOnQuitSignals(QWidget *mainWindow)
{
    if (quitPipe[0] >= 0 || ::pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    new QuitRequest(mainWindow);   // owned by the window

    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool ok = true;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ok = ::sigaction(signal, &action, nullptr) == 0 && ok;
    return ok;
}

} // namespace ui
