// The main window: its controls, start-up and shutdown through the real
// settings file, the genre list and the copy buffer's start values.
#include <QAbstractItemView>
#include <QLabel>
#include <QPainter>
#include <QScreen>

#include "mainwindowfixture.h"
#include "windowposition.h"
#include "twips.h"

class TestMainWindow : public QObject {
    Q_OBJECT

    enum CloseBy { EscInWindow, EscInList, CloseBox, CloseButton, Destroyed };
    WindowFixture fx_;

    void writeIni(const QString &top, const QString &left, const QString &folder)
    {
        QFile f(fx_.iniPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[Position]\r\nTop=%1\r\nLeft=%2\r\n[Folder]\r\nMP3=%3\r\n")
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

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parentName");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("toolTip");
        auto row = [](const char *name, const char *parent, QRect twips,
                      const QString &caption = {}, const QString &tip = {}) {
            QTest::newRow(name) << name << parent << twips << caption << tip;
        };
        row("cmdOpen", "frmMain", {60, 120, 915, 375}, "Add", "ファイルを追加");
        row("cmdRename", "frmMain", {1080, 120, 915, 375}, "Rename", "選択ファイル名の変更");
        row("cmdAllSel", "frmMain", {2100, 120, 915, 375}, "Select All", "全てを選択");
        row("cmdClear", "frmMain", {3120, 120, 915, 375}, "Clear", "全て消去");
        row("cmdRemove", "frmMain", {4140, 120, 915, 375}, "Remove", "選択ファイルを消去");
        row("cmdClose", "frmMain", {5160, 120, 915, 375}, "Close", "終了します(^o^)/~~");
        row("lstMP3Files", "frmMain", {60, 600, 6015, 1680});
        row("lstRename", "frmMain", {60, 2340, 6015, 1680}, {}, "ここのリストは表示のみです。");
        row("Frame1", "frmMain", {60, 4140, 6015, 2415}, "タグ編集");
        row("txtTrackName", "Frame1", {1020, 300, 4935, 270});
        row("txtArtistName", "Frame1", {1020, 690, 4935, 270});
        row("txtAlbumName", "Frame1", {1020, 1080, 4935, 270});
        row("txtComment", "Frame1", {1020, 1500, 4935, 315});
        row("txtYear", "Frame1", {1020, 1920, 675, 270});
        row("cmbGenre", "Frame1", {2580, 1920, 1335, 300});
        row("cmdCopy", "Frame1", {3960, 1920, 675, 375}, "複写");
        row("cmdPaste", "Frame1", {4680, 1920, 615, 375}, "貼付");
        row("cmdRewrite", "Frame1", {5340, 1920, 615, 375}, "更新");
        row("Label1", "Frame1", {60, 360, 975, 195}, "曲名");
        row("Label2", "Frame1", {60, 720, 975, 195}, "歌手名");
        row("Label3", "Frame1", {60, 1140, 975, 195}, "アルバム名");
        row("Label6", "Frame1", {60, 1560, 915, 195}, "コメント");
        row("Label4", "Frame1", {60, 1980, 975, 195}, "年代");
        row("Label5", "Frame1", {1740, 1980, 795, 195}, "ジャンル");
    }

    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, parentName);
        QFETCH(QRect, twips);
        QFETCH(QString, caption);
        QFETCH(QString, toolTip);
        frmMain w;
        QWidget *c = w.findChild<QWidget *>(name);
        QVERIFY2(c, qPrintable(name));
        QCOMPARE(c->parentWidget()->objectName(), parentName);
        QCOMPARE(c->geometry(), ui::twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
        QCOMPARE(c->property(qobject_cast<QGroupBox *>(c) ? "title" : "text").toString(), caption);
        QCOMPARE(c->toolTip(), toolTip);
    }

    void tabOrder()
    {
        const QStringList expected = QStringLiteral(
            "cmdOpen cmdRename cmdAllSel cmdClear cmdRemove cmdClose lstMP3Files lstRename "
            "txtTrackName txtArtistName txtAlbumName txtComment txtYear cmbGenre cmdCopy "
            "cmdPaste cmdRewrite").split(u' ');
        frmMain w;
        QStringList chain;
        QWidget *c = w.cmdOpen;
        do {
            if (c->focusPolicy() & Qt::TabFocus && !chain.contains(c->objectName()))
                chain << c->objectName();
            c = c->nextInFocusChain();
        } while (c && c != w.cmdOpen);
        QCOMPARE(chain.filter(QRegularExpression("^(cmd|lst|txt|cmb)")), expected);
    }

    // Background in every state, text colour, and whether the text keeps
    // its colour when disabled; a list-only combo box is painted as a button.
    void colours()
    {
        frmMain w;
        const QColor yellow(255, 255, 192), black(Qt::black);
        const struct {
            QWidget *control;
            QPalette::ColorRole back;
            QColor backColour, text;
            bool readableDisabled;
        } rows[] = {{w.lstMP3Files, QPalette::Base, QColor(0, 128, 128), Qt::white, true},
                    {w.lstRename, QPalette::Base, black, QColor(255, 255, 128), true},
                    {w.txtYear, QPalette::Base, yellow, black, false},
                    {w.cmbGenre, QPalette::Button, yellow, black, false}};
        for (const auto &r : rows) {
            const QPalette p = r.control->palette();
            const auto text = r.back == QPalette::Base ? QPalette::Text : QPalette::ButtonText;
            for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
                QCOMPARE(p.color(group, r.back), r.backColour);
            QCOMPARE(p.color(QPalette::Active, text), r.text);
            QCOMPARE(p.color(QPalette::Disabled, text) == r.text, r.readableDisabled);
        }
    }

    // What is drawn, not what the palette says: the genre box and its
    // drop-down list in the fields' light yellow, Japanese text in a list in
    // the regular weight (its ink nearer the regular face's than the bold's).
    void drawn()
    {
        fx_.load();
        frmMain *w = fx_.w.get();
        w->Frame1->setEnabled(true);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        const QColor yellow(255, 255, 192);
        const auto share = [](const QImage &image, const QColor &colour) {
            int n = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    n += QColor(image.pixel(x, y)) == colour;
            return double(n) / (image.width() * image.height());
        };
        QVERIFY(share(w->cmbGenre->grab().toImage(), yellow) > 0.5);
        w->cmbGenre->showPopup();
        QVERIFY(share(w->cmbGenre->view()->grab().toImage(), yellow) > 0.5);
        w->cmbGenre->hidePopup();

        const QString text = QStringLiteral("02 夜明け前 秋桜 音楽データ");
        w->lstMP3Files->addItem(text);
        const QColor teal(0, 128, 128);
        const QRect row = w->lstMP3Files->visualItemRect(w->lstMP3Files->item(0));
        const QImage drawnRow = w->lstMP3Files->viewport()->grab(row).toImage();
        const auto ink = [&](const QImage &image) { return 1.0 - share(image, teal); };
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
            return ink(image);
        };
        const double regular = face(QFont::Normal), bold = face(QFont::Bold);
        QVERIFY2(qAbs(ink(drawnRow) - regular) < qAbs(ink(drawnRow) - bold),
                 qPrintable(QString("ink %1, regular %2, bold %3").arg(ink(drawnRow)).arg(regular).arg(bold)));
    }

    void startStates()
    {
        fx_.load();
        frmMain *w = fx_.w.get();
        QCOMPARE(w->windowTitle(), QStringLiteral("Dorvasu"));
        QVERIFY(!(w->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        const QSize size = ui::twipsSize(6135, 6645);
        QCOMPARE(w->minimumSize(), size);
        QCOMPARE(w->maximumSize(), size);
        QVERIFY(w->lstMP3Files->isEnabled() && !w->lstRename->isEnabled());
        QVERIFY(!w->Frame1->isEnabled() && !w->cmbGenre->isEditable());
        // The frame's caption alone is bold and blue.
        QVERIFY(w->Frame1->font().bold() && !w->Label1->font().bold());
        QCOMPARE(w->Frame1->palette().color(QPalette::WindowText), QColor(Qt::blue));
        QCOMPARE(w->Label1->palette().color(QPalette::Active, QPalette::WindowText),
                 w->palette().color(QPalette::Active, QPalette::WindowText));
        for (QLineEdit *t : {w->txtTrackName, w->txtArtistName, w->txtAlbumName, w->txtComment})
            QCOMPARE(t->maxLength(), 30);
        QCOMPARE(w->txtYear->maxLength(), 4);
        QCOMPARE(QDir::current().canonicalPath(), QDir(fx_.path("app")).canonicalPath());
        QCOMPARE(fx_.messages, QStringList());
    }

    // Position and folder through the settings file. Until the window is
    // moved the read text goes back unchanged (no drift from rounding to
    // pixels); a position off every screen is moved onto the primary one.
    void position_data()
    {
        QTest::addColumn<QString>("top"); // null: no settings file
        QTest::addColumn<QString>("left");
        QTest::addColumn<QPoint>("pixels");
        QTest::addColumn<QString>("topOut");
        QTest::addColumn<QString>("leftOut");
        QTest::addColumn<int>("closeBy");
        auto row = [](const char *name, const QString &top, const QString &left, QPoint pixels,
                      const QString &topOut, const QString &leftOut, CloseBy by) {
            QTest::newRow(name) << top << left << pixels << topOut << leftOut << int(by);
        };
        row("no file, Esc", QString(), QString(), {0, 0}, "0", "0", EscInWindow);
        row("whole pixels, close box", "1500", "3000", {200, 100}, "1500", "3000", CloseBox);
        row("fractions kept, Close", "1522.5", "22.5", {2, 102}, "1522.5", "22.5", CloseButton);
        row("not numbers, Esc in list", "abc", "1,500", {0, 0}, "0", "0", EscInList);
        row("partly off the screen, Esc", "-150", "-300", {-20, -10}, "-150", "-300",
            EscInWindow);
        row("moved to 40,30, destroyed", "1522.5", "22.5", {2, 102}, "450", "600", Destroyed);
        const QPoint home = QGuiApplication::primaryScreen()->availableGeometry().topLeft();
        const QString homeTop = QString::number(home.y() * 15);
        const QString homeLeft = QString::number(home.x() * 15);
        row("huge, off every screen", "1e30", "-3e38", home, homeTop, homeLeft, CloseBox);
        int bottom = 0;
        for (QScreen *s : QGuiApplication::screens())
            bottom = qMax(bottom, s->availableGeometry().bottom() + 1);
        row("just below every screen", QString::number(bottom * 15), "0", home, homeTop,
            homeLeft, CloseBox);
    }

    void position()
    {
        QFETCH(QString, top);
        QFETCH(QString, left);
        QFETCH(QPoint, pixels);
        QFETCH(QString, topOut);
        QFETCH(QString, leftOut);
        QFETCH(int, closeBy);
        const QString folder = QStringLiteral("/music/日本 語");
        if (!top.isNull())
            writeIni(top, left, folder);
        fx_.load();
        frmMain *w = fx_.w.get();
        QCOMPARE(w->sMP3Folder(), top.isNull() ? QByteArray() : folder.toUtf8());
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QCOMPARE(w->pos(), pixels);

        switch (closeBy) {
        case EscInWindow: QTest::keyClick(w, Qt::Key_Escape); break;
        case EscInList: QTest::keyClick(w->lstMP3Files, Qt::Key_Escape); break;
        case CloseBox: QVERIFY(w->close()); break;
        case CloseButton: QTest::mouseClick(w->cmdClose, Qt::LeftButton); break;
        case Destroyed: // without a close, still unloads
            w->move(40, 30);
            fx_.w.reset();
            break;
        }
        QCOMPARE(setting("Position", "Top"), topOut);
        QCOMPARE(setting("Position", "Left"), leftOut);
        QFile f(fx_.iniPath()); // an empty folder is still written, as an empty value
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(f.readAll())
                    .contains(QRegularExpression(QStringLiteral("\\[Folder\\]\\s*MP3\\s*=\\s*")
                                                 + QRegularExpression::escape(top.isNull() ? QString() : folder)
                                                 + QStringLiteral("\\s*(\\r?\\n|$)"))));
        f.remove();
        if (fx_.w) { // nothing writes the settings after the first unload
            QVERIFY(!w->isVisible());
            QCloseEvent again;
            QApplication::sendEvent(w, &again);
            w->cmdClose->click();
            fx_.w.reset();
            QVERIFY(!QFile::exists(fx_.iniPath()));
        }
    }

    // Sorted by name, each carrying its number, empty names left out.
    void genreList()
    {
        fx_.load();
        const QComboBox *cmb = fx_.w->cmbGenre;
        QCOMPARE(cmb->currentIndex(), 0);
        QCOMPARE(cmb->itemText(cmb->findData(0)), QStringLiteral("Blues"));
        QCOMPARE(cmb->itemText(cmb->findData(17)), QStringLiteral("Rock"));
        QSet<int> seen;
        for (int i = 0; i < cmb->count(); ++i) {
            const int number = cmb->itemData(i).toInt();
            QVERIFY(!seen.contains(number) && !cmb->itemText(i).trimmed().isEmpty());
            seen.insert(number);
            if (i > 0)
                QVERIFY2(cmb->itemText(i - 1).compare(cmb->itemText(i), Qt::CaseInsensitive) <= 0,
                         qPrintable(cmb->itemText(i)));
        }
        QVERIFY(seen.size() > 100);
    }

    void startFailure_data()
    {
        QTest::addColumn<bool>("initFails");
        QTest::newRow("library reports failure") << true;
        QTest::newRow("no genre names") << false;
    }

    void startFailure()
    {
        QFETCH(bool, initFails);
        mp3lib::setInitFailureForTesting(initFails);
        mp3lib::setEmptyGenreTableForTesting(!initFails);
        writeIni("750", "1522.5", "/music/前回");
        frmMain w;
        QVERIFY(!w.Form_Load());
        QVERIFY(!w.testAttribute(Qt::WA_WState_ExplicitShowHide)); // never shown
        const QString fixed = QStringLiteral("初期化に失敗しました。");
        QCOMPARE(fx_.icons, QList<QMessageBox::Icon>{QMessageBox::Critical});
        if (initFails) // nothing follows when the library merely said no
            QCOMPARE(fx_.messages[0], fixed);
        else // the cause is named
            QVERIFY(fx_.messages[0].startsWith(fixed) && fx_.messages[0] != fixed);
        QCOMPARE(setting("Position", "Top"), QStringLiteral("750"));
        QCOMPARE(setting("Position", "Left"), QStringLiteral("1522.5"));
        QCOMPARE(setting("Folder", "MP3"), QStringLiteral("/music/前回"));
        QVERIFY(QFile::remove(fx_.iniPath())); // a later close does not unload again
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
