// The main window: start-up, look and shutdown through the real settings
// file, the genre list, and window positions kept as text.
#include <QAbstractItemView>
#include <QLabel>
#include <QPainter>
#include <QScreen>

#include "mainwindowfixture.h"
#include "twips.h"
#include "windowposition.h"

namespace {

// The share of an image's pixels in `colour`.
double share(const QImage &image, const QColor &colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += QColor(image.pixel(x, y)) == colour;
    return double(n) / (image.width() * image.height());
}

enum CloseBy { EscInWindow, EscInList, CloseBox, CloseButton, Destroyed };

struct Position {
    QString top, left; // null: no settings file
    QPoint pixels;
    QString topOut, leftOut;
    CloseBy closeBy;
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    WindowFixture fx_;

    void writeIni(const QString &top, const QString &left, const QString &folder)
    {
        testdata::writeAll(fx_.iniPath(), QStringLiteral("[Position]\r\nTop=%1\r\nLeft=%2\r\n"
                                                         "[Folder]\r\nMP3=%3\r\n")
                                              .arg(top, left, folder)
                                              .toUtf8());
    }

    QString setting(const QString &section, const QString &key)
    {
        inifile_IO ini;
        ini.setFileName(fx_.iniPath());
        return ini.ReadStr(section, key, QStringLiteral("<missing>"));
    }

private slots:
    void init() { fx_.setUp(); }
    void cleanup() { fx_.tearDown(); }

    // States after start-up; the genre list sorted by name, each carrying
    // its number, empty names left out. What is drawn: the genre box and its
    // list in the fields' light yellow, Japanese text in a list in the
    // regular weight (its ink nearer the regular face's than the bold's).
    void startedAndDrawn()
    {
        fx_.load(true);
        frmMain *w = fx_.w.get();
        QVERIFY(!(w->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(w->maximumSize(), ui::twipsSize(6135, 6645));
        QVERIFY(w->lstMP3Files->isEnabled() && !w->lstRename->isEnabled());
        QVERIFY(!w->Frame1->isEnabled() && !w->cmbGenre->isEditable());
        // The lists keep their text colour when disabled; the frame's caption
        // alone is bold and blue.
        QCOMPARE(w->lstRename->palette().color(QPalette::Disabled, QPalette::Text),
                 QColor(255, 255, 128));
        QCOMPARE(w->lstMP3Files->palette().color(QPalette::Disabled, QPalette::Text),
                 QColor(Qt::white));
        QVERIFY(w->Frame1->font().bold() && !w->Label1->font().bold());
        QCOMPARE(w->Frame1->palette().color(QPalette::WindowText), QColor(Qt::blue));
        QCOMPARE(w->Label1->palette().color(QPalette::Active, QPalette::WindowText),
                 w->palette().color(QPalette::Active, QPalette::WindowText));
        QCOMPARE(QDir::current().canonicalPath(), QDir(fx_.path("app")).canonicalPath());
        QCOMPARE(fx_.messages, QStringList());

        const QComboBox *cmb = w->cmbGenre;
        QCOMPARE(cmb->currentIndex(), 0);
        QCOMPARE(cmb->itemText(cmb->findData(0)), QStringLiteral("Blues"));
        QCOMPARE(cmb->itemText(cmb->findData(17)), QStringLiteral("Rock"));
        QSet<int> seen;
        for (int i = 0; i < cmb->count(); ++i) {
            QVERIFY(!seen.contains(cmb->itemData(i).toInt()) && !cmb->itemText(i).trimmed().isEmpty());
            seen.insert(cmb->itemData(i).toInt());
            QVERIFY(i == 0 || cmb->itemText(i - 1).compare(cmb->itemText(i), Qt::CaseInsensitive) <= 0);
        }
        QVERIFY(seen.size() > 100);

        w->Frame1->setEnabled(true);
        const QColor yellow(255, 255, 192), teal(0, 128, 128);
        QVERIFY(share(w->cmbGenre->grab().toImage(), yellow) > 0.5);
        w->cmbGenre->showPopup();
        QVERIFY(share(w->cmbGenre->view()->grab().toImage(), yellow) > 0.5);
        w->cmbGenre->hidePopup();
        const QString text = QStringLiteral("02 夜明け前 秋桜 音楽データ");
        w->lstMP3Files->addItem(text);
        const QRect row = w->lstMP3Files->visualItemRect(w->lstMP3Files->item(0));
        const QImage drawnRow = w->lstMP3Files->viewport()->grab(row).toImage();
        const auto face = [&](QFont::Weight weight) {
            QImage image(drawnRow.size() * drawnRow.devicePixelRatio(), QImage::Format_RGB32);
            image.fill(teal);
            QPainter painter(&image);
            QFont font(QStringLiteral("Noto Sans CJK JP"));
            font.setPixelSize(QFontInfo(w->lstMP3Files->font()).pixelSize());
            font.setWeight(weight);
            painter.setFont(font);
            painter.setPen(Qt::white);
            painter.drawText(image.rect().adjusted(4, 0, 0, 0), Qt::AlignVCenter, text);
            return 1.0 - share(image, teal);
        };
        const double ink = 1.0 - share(drawnRow, teal);
        const double regular = face(QFont::Normal), bold = face(QFont::Bold);
        QVERIFY2(qAbs(ink - regular) < qAbs(ink - bold),
                 qPrintable(QString("ink %1, regular %2, bold %3").arg(ink).arg(regular).arg(bold)));
    }

    // Position and folder through the settings file. Until the window is
    // moved the read text goes back unchanged (no drift from rounding to
    // pixels); a position off every screen is moved onto the primary one.
    // Nothing writes the settings after the first unload.
    void position_data()
    {
        QTest::addColumn<Position>("row");
        const QPoint home = QGuiApplication::primaryScreen()->availableGeometry().topLeft();
        const QString homeTop = QString::number(home.y() * 15);
        const QString homeLeft = QString::number(home.x() * 15);
        int bottom = 0;
        for (QScreen *s : QGuiApplication::screens())
            bottom = qMax(bottom, s->availableGeometry().bottom() + 1);
        QTest::newRow("no file, Esc") << Position{{}, {}, {0, 0}, "0", "0", EscInWindow};
        QTest::newRow("whole pixels, close box")
            << Position{"1500", "3000", {200, 100}, "1500", "3000", CloseBox};
        QTest::newRow("fractions kept, Close")
            << Position{"1522.5", "22.5", {2, 102}, "1522.5", "22.5", CloseButton};
        QTest::newRow("not numbers, Esc in list")
            << Position{"abc", "1,500", {0, 0}, "0", "0", EscInList};
        QTest::newRow("partly off the screen")
            << Position{"-150", "-300", {-20, -10}, "-150", "-300", EscInWindow};
        QTest::newRow("moved to 40,30, destroyed")
            << Position{"1522.5", "22.5", {2, 102}, "450", "600", Destroyed};
        QTest::newRow("huge, off every screen")
            << Position{"1e30", "-3e38", home, homeTop, homeLeft, CloseBox};
        QTest::newRow("just below every screen")
            << Position{QString::number(bottom * 15), "0", home, homeTop, homeLeft, CloseBox};
    }

    void position()
    {
        QFETCH(Position, row);
        // Kept as it is, "%41" too.
        const QString folder = row.top.isNull() ? QString() : QStringLiteral("/music/日本 語/%41");
        if (!row.top.isNull())
            writeIni(row.top, row.left, folder);
        fx_.load(true);
        frmMain *w = fx_.w.get();
        QCOMPARE(w->sMP3Folder(), folder.toUtf8());
        QCOMPARE(w->pos(), row.pixels);
        switch (row.closeBy) {
        case EscInWindow: QTest::keyClick(w, Qt::Key_Escape); break;
        case EscInList: QTest::keyClick(w->lstMP3Files, Qt::Key_Escape); break;
        case CloseBox: QVERIFY(w->close()); break;
        case CloseButton: QTest::mouseClick(w->cmdClose, Qt::LeftButton); break;
        case Destroyed: // without a close, still unloads
            w->move(40, 30);
            fx_.w.reset();
            break;
        }
        QCOMPARE(setting("Position", "Top"), row.topOut);
        QCOMPARE(setting("Position", "Left"), row.leftOut);
        const QString ini = QString::fromUtf8(testdata::readAll(fx_.iniPath())); // even when empty
        QVERIFY(ini.contains(QRegularExpression("\\[Folder\\]\\s*MP3\\s*=\\s*"
                                                + QRegularExpression::escape(folder) + "\\s*(\\r?\\n|$)")));
        QVERIFY(QFile::remove(fx_.iniPath()));
        if (fx_.w) {
            QVERIFY(!w->isVisible());
            QCloseEvent again;
            QApplication::sendEvent(w, &again);
            w->cmdClose->click();
            fx_.w.reset();
            QVERIFY(!QFile::exists(fx_.iniPath()));
        }
    }

    void startFailure_data()
    {
        QTest::addColumn<bool>("initFails");
        QTest::newRow("library reports failure") << true;
        QTest::newRow("no genre names") << false;
    }

    // A failed start shows one message naming the cause (unless the library
    // merely said no), never the window, keeps the settings, and a later
    // close does not unload again.
    void startFailure()
    {
        QFETCH(bool, initFails);
        mp3lib::setInitFailureForTesting(initFails);
        mp3lib::setEmptyGenreTableForTesting(!initFails);
        writeIni("750", "1522.5", "/music/前回");
        frmMain w;
        QVERIFY(!w.Form_Load());
        QVERIFY(!w.testAttribute(Qt::WA_WState_ExplicitShowHide));
        const QString fixed = QStringLiteral("初期化に失敗しました。");
        QCOMPARE(fx_.icons, QList<QMessageBox::Icon>{QMessageBox::Critical});
        QVERIFY(fx_.messages[0].startsWith(fixed));
        QCOMPARE(fx_.messages[0] == fixed, initFails);
        QCOMPARE(setting("Position", "Top"), QStringLiteral("750"));
        QCOMPARE(setting("Position", "Left"), QStringLiteral("1522.5"));
        QCOMPARE(setting("Folder", "MP3"), QStringLiteral("/music/前回"));
        QVERIFY(QFile::remove(fx_.iniPath()));
        QCloseEvent close;
        QApplication::sendEvent(&w, &close);
        QVERIFY(!QFile::exists(fx_.iniPath()));
    }

    // Stored text to twips, back to the shortest text, and to pixels.
    void positionText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<float>("twips");
        QTest::addColumn<QString>("written"); // empty: not checked
        QTest::addColumn<int>("pixels");
        QTest::newRow("negative zero") << "-0" << 0.0f << "0" << 0;
        QTest::newRow("half twip") << "1522.5" << 1522.5f << "1522.5" << 102;
        QTest::newRow("negative half pixel") << "-22.5" << -22.5f << "-22.5" << -2;
        QTest::newRow("shortest digits") << "12.3" << 12.3f << "12.3" << 1;
        QTest::newRow("seven digits") << "1234567" << 1234567.0f << "1234567" << 82304;
        QTest::newRow("large fraction") << "115202.5" << 115202.5f << "115202.5" << 7680;
        QTest::newRow("trailing letters") << "12px" << 0.0f << "0" << 0;
        QTest::newRow("beyond float") << "1e39" << 0.0f << "0" << 0;
        QTest::newRow("huge, pixels clamped") << "-3e38" << -3e38f << "" << -6666667;
    }

    void positionText()
    {
        QFETCH(QString, text);
        QFETCH(float, twips);
        QFETCH(QString, written);
        QFETCH(int, pixels);
        const float read = ui::positionFromText(text).value_or(0);
        QCOMPARE(read, twips);
        if (!written.isEmpty())
            QCOMPARE(ui::positionToText(read), written);
        QCOMPARE(ui::positionFromText(ui::positionToText(read)).value_or(0), read);
        QCOMPARE(ui::positionToPixels(read), pixels);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
