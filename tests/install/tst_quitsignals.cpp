// Ending the program with a signal: the main window closes as by its Close
// button, but only after every modal window above it has closed and the
// handler that opened it has returned.
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <memory>

#include "quitsignals.h"

namespace {

class MainWindow : public QWidget {
public:
    QStringList *log = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override
    {
        log->append(QStringLiteral("main closed"));
        event->accept();
    }
};

// Opens the modal windows `stack` names, each from inside the one before
// (as the player opens from the file selection window), and raises `signal`
// in the innermost one's event loop.
void openModals(QStringList stack, QWidget *parent, int signal, QStringList &log)
{
    if (stack.isEmpty()) {
        std::raise(signal);
        return;
    }
    const QString kind = stack.takeFirst();
    std::unique_ptr<QDialog> modal;
    if (kind == u"message box")
        modal = std::make_unique<QMessageBox>(QMessageBox::Warning, "Dorvasu", "text",
                                              QMessageBox::Ok, parent);
    else
        modal = std::make_unique<QDialog>(parent);
    QTimer::singleShot(0, modal.get(), [&, stack] { openModals(stack, modal.get(), signal, log); });
    modal->exec();
    log.append(kind + QStringLiteral(" returned"));
}

} // namespace

class TestQuitSignals : public QObject {
    Q_OBJECT

    MainWindow window_;
    QStringList log_;

private slots:
    void initTestCase()
    {
        window_.log = &log_;
        QVERIFY(ui::closeOnQuitSignals(&window_));
    }

    void closesModalsThenMainWindow_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QStringList>("stack");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("SIGTERM, no modal window") << SIGTERM << QStringList()
                                                  << QStringList({"main closed"});
        QTest::newRow("SIGINT, message box")
            << SIGINT << QStringList({"message box"})
            << QStringList({"message box returned", "main closed"});
        QTest::newRow("SIGHUP, player over file selection")
            << SIGHUP << QStringList({"file selection", "player"})
            << QStringList({"player returned", "file selection returned", "main closed"});
        QTest::newRow("SIGTERM, message box over file selection")
            << SIGTERM << QStringList({"file selection", "message box"})
            << QStringList({"message box returned", "file selection returned", "main closed"});
    }

    void closesModalsThenMainWindow()
    {
        QFETCH(int, signal);
        QFETCH(QStringList, stack);
        QFETCH(QStringList, expected);
        log_.clear();
        window_.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window_));

        // The program's own loop, so that modal windows nest inside it.
        QTimer::singleShot(0, &window_, [&] { openModals(stack, &window_, signal, log_); });
        QObject watchdog;   // its timer ends with the row
        QTimer::singleShot(20000, &watchdog, [this] {
            log_.append(QStringLiteral("timed out"));
            QCoreApplication::quit();
        });
        QCoreApplication::exec();

        QCOMPARE(log_, expected);
        QVERIFY(!window_.isVisible());
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(TestQuitSignals)
#include "tst_quitsignals.moc"
