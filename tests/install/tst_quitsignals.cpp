// Ending the program with a signal: the main window closes as by its Close
// button, but only after every modal window above it has closed and the
// handler that opened it has returned.
#include <QtWidgets>

#include "common/table.h"
#include "gui/ui/quitsignals.h"

namespace {

QStringList events;   // what closed or returned, in order

class MainWindow : public QWidget {
    void closeEvent(QCloseEvent *) override { events.append("main closed"); }
};

// Opens the modal windows `stack` names, each from inside the one before
// (as the player opens from the file selection window), and raises `signal`
// in the innermost one's event loop.
void openModals(QStringList stack, QWidget *parent, int signal)
{
    if (stack.isEmpty()) {
        std::raise(signal);
        return;
    }
    const QString kind = stack.takeFirst();
    std::unique_ptr<QDialog> modal(kind == u"message box" ? new QMessageBox(QMessageBox::Warning, "Dorvasu", "text",
                                                                           QMessageBox::Ok, parent)
                                                          : new QDialog(parent));
    QTimer::singleShot(0, modal.get(), [&, stack] { openModals(stack, modal.get(), signal); });
    modal->exec();
    events.append(kind + " returned");
}

} // namespace

class TestQuitSignals : public QObject {
    Q_OBJECT

    MainWindow window_;

private slots:
    void initTestCase() { QVERIFY(ui::closeOnQuitSignals(&window_)); }
    void init() { TABLE_FAIL_BROKEN_ROW(); }

    void closesModalsThenMainWindow_data() { table::addRows("quitsignals.txt", "signals", {"sent", "modals", "closed"}); }

    void closesModalsThenMainWindow()
    {
        QFETCH(QString, sent);
        QFETCH(QString, modals);
        QFETCH(QString, closed);
        const QStringList stack = modals == u"-" ? QStringList() : modals.split(", ");
        events.clear();
        window_.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window_));
        // The program's own loop, so that modal windows nest inside it.
        QTimer::singleShot(0, &window_, [&] { openModals(stack, &window_, sent.toInt()); });
        QObject watchdog;   // its timer ends with the row
        QTimer::singleShot(20000, &watchdog, [] {
            events.append("timed out");
            QCoreApplication::quit();
        });
        QCoreApplication::exec();
        QCOMPARE(events, closed.split(", "));
        QVERIFY(!window_.isVisible());
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(TestQuitSignals)
#include "tst_quitsignals.moc"
