// The main window: its controls, start-up and shutdown, the genre list and
// the copy buffer's start values, driven through the real window, the real
// settings file (in a temporary folder) and the real MP3 library binding.
#include <QComboBox>
#include <QDate>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "frmmain.h"
#include "messagebox.h"
#include "positiontext.h"
#include "twips.h"

Q_DECLARE_METATYPE(QPalette::ColorRole)

class TestMainWindow : public QObject {
    Q_OBJECT

    enum CloseBy { EscInWindow, EscInList, CloseBox, CloseButton };

    std::unique_ptr<QTemporaryDir> dir_;
    QString savedCurrent_;
    QList<QPair<QString, QMessageBox::Icon>> messages_;

    QString iniPath() const { return dir_->filePath(QStringLiteral("test_mainwindow.ini")); }

    void writeIni(const QString &text)
    {
        QFile f(iniPath());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.toUtf8());
    }

    QString setting(const QString &section, const QString &key)
    {
        inifile_IO ini;
        ini.setFileName(iniPath());
        return ini.ReadStr(section, key, QStringLiteral("<missing>"));
    }

    std::unique_ptr<frmMain> loadedWindow()
    {
        auto w = std::make_unique<frmMain>();
        return w->Form_Load() ? std::move(w) : nullptr;
    }

    static QWidget *control(frmMain &w, const QString &name)
    {
        return name == QLatin1String("frmMain") ? &w : w.findChild<QWidget *>(name);
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        savedCurrent_ = QDir::currentPath();
        frmMain::setAppFolderForTesting(dir_->path());
        messages_.clear();
        ui::setMessageSinkForTesting([this](const QString &text, QMessageBox::Icon icon) {
            messages_.append({text, icon});
        });
    }

    void cleanup()
    {
        mp3lib::setInitFailureForTesting(false);
        mp3lib::setEmptyGenreTableForTesting(false);
        ui::setMessageSinkForTesting({});
        frmMain::setAppFolderForTesting(QString());
        QDir::setCurrent(savedCurrent_);
        dir_.reset();
    }

    // --- The window's controls ------------------------------------------

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parentName");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("toolTip");

        auto row = [](const char *name, const char *parent, const char *kind, QRect twips,
                      const QString &caption = {}, const QString &tip = {}) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(parent)
                                << QString::fromLatin1(kind) << twips << caption << tip;
        };
        const char *button = "QPushButton";
        row("cmdOpen", "frmMain", button, {60, 120, 915, 375}, "Add", "ファイルを追加");
        row("cmdRename", "frmMain", button, {1080, 120, 915, 375}, "Rename",
            "選択ファイル名の変更");
        row("cmdAllSel", "frmMain", button, {2100, 120, 915, 375}, "Select All", "全てを選択");
        row("cmdClear", "frmMain", button, {3120, 120, 915, 375}, "Clear", "全て消去");
        row("cmdRemove", "frmMain", button, {4140, 120, 915, 375}, "Remove",
            "選択ファイルを消去");
        row("cmdClose", "frmMain", button, {5160, 120, 915, 375}, "Close",
            "終了します(^o^)/~~");
        row("lstMP3Files", "frmMain", "QListWidget", {60, 600, 6015, 1680});
        row("lstRename", "frmMain", "QListWidget", {60, 2340, 6015, 1680}, {},
            "ここのリストは表示のみです。");
        row("Frame1", "frmMain", "QGroupBox", {60, 4140, 6015, 2415}, "タグ編集");
        row("txtTrackName", "Frame1", "QLineEdit", {1020, 300, 4935, 270});
        row("txtArtistName", "Frame1", "QLineEdit", {1020, 690, 4935, 270});
        row("txtAlbumName", "Frame1", "QLineEdit", {1020, 1080, 4935, 270});
        row("txtComment", "Frame1", "QLineEdit", {1020, 1500, 4935, 315});
        row("txtYear", "Frame1", "QLineEdit", {1020, 1920, 675, 270});
        row("cmbGenre", "Frame1", "QComboBox", {2580, 1920, 1335, 300});
        row("cmdCopy", "Frame1", button, {3960, 1920, 675, 375}, "複写");
        row("cmdPaste", "Frame1", button, {4680, 1920, 615, 375}, "貼付");
        row("cmdRewrite", "Frame1", button, {5340, 1920, 615, 375}, "更新");
        row("Label1", "Frame1", "QLabel", {60, 360, 975, 195}, "曲名");
        row("Label2", "Frame1", "QLabel", {60, 720, 975, 195}, "歌手名");
        row("Label3", "Frame1", "QLabel", {60, 1140, 975, 195}, "アルバム名");
        row("Label6", "Frame1", "QLabel", {60, 1560, 915, 195}, "コメント");
        row("Label4", "Frame1", "QLabel", {60, 1980, 975, 195}, "年代");
        row("Label5", "Frame1", "QLabel", {1740, 1980, 795, 195}, "ジャンル");
    }

    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, parentName);
        QFETCH(QString, kind);
        QFETCH(QRect, twips);
        QFETCH(QString, caption);
        QFETCH(QString, toolTip);

        frmMain w;
        QWidget *c = control(w, name);
        QVERIFY2(c, qPrintable(name));
        QCOMPARE(QString::fromLatin1(c->metaObject()->className()), kind);
        QCOMPARE(c->parentWidget()->objectName(), parentName);
        QCOMPARE(c->geometry(),
                 ui::twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
        QString text;
        if (auto *b = qobject_cast<QPushButton *>(c))
            text = b->text();
        else if (auto *l = qobject_cast<QLabel *>(c))
            text = l->text();
        else if (auto *g = qobject_cast<QGroupBox *>(c))
            text = g->title();
        QCOMPARE(text, caption);
        QCOMPARE(c->toolTip(), toolTip);
        if (auto *l = qobject_cast<QLabel *>(c))
            QVERIFY(l->alignment() & Qt::AlignHCenter);

        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(c->isVisible());
        QVERIFY(w.rect().contains(QRect(c->mapTo(&w, QPoint(0, 0)), c->size())));
    }

    void tabOrder()
    {
        const QStringList expected = {
            "cmdOpen",      "cmdRename",     "cmdAllSel",    "cmdClear",   "cmdRemove",
            "cmdClose",     "lstMP3Files",   "lstRename",    "Frame1",     "txtTrackName",
            "txtArtistName", "txtAlbumName", "txtComment",   "txtYear",    "cmbGenre",
            "cmdCopy",      "cmdPaste",      "cmdRewrite"};
        frmMain w;
        QStringList chain;
        QWidget *c = w.cmdOpen;
        do {
            if (expected.contains(c->objectName()) && !chain.contains(c->objectName()))
                chain << c->objectName();
            c = c->nextInFocusChain();
        } while (c && c != w.cmdOpen);
        QCOMPARE(chain, expected);
        for (const QString &name : expected) // every control but the frame is a tab stop
            QVERIFY2(name == QLatin1String("Frame1")
                         || control(w, name)->focusPolicy() & Qt::TabFocus,
                     qPrintable(name));
    }

    void colours_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QPalette::ColorRole>("backRole");
        QTest::addColumn<QColor>("back");
        QTest::addColumn<QPalette::ColorRole>("textRole");
        QTest::addColumn<QColor>("text");
        QTest::addColumn<bool>("readableDisabled"); // keeps its text colour when disabled

        const QColor yellow(255, 255, 192);
        QTest::newRow("lstMP3Files") << "lstMP3Files" << QPalette::Base << QColor(0, 128, 128)
                                     << QPalette::Text << QColor(Qt::white) << true;
        QTest::newRow("lstRename") << "lstRename" << QPalette::Base << QColor(Qt::black)
                                   << QPalette::Text << QColor(255, 255, 128) << true;
        for (const char *t : {"txtTrackName", "txtArtistName", "txtAlbumName", "txtComment",
                              "txtYear"})
            QTest::newRow(t) << t << QPalette::Base << yellow << QPalette::Text
                             << QColor(Qt::black) << false;
        // A list-only combo box is painted as a button.
        QTest::newRow("cmbGenre") << "cmbGenre" << QPalette::Button << yellow
                                  << QPalette::ButtonText << QColor(Qt::black) << false;
    }

    void colours()
    {
        QFETCH(QString, name);
        QFETCH(QPalette::ColorRole, backRole);
        QFETCH(QColor, back);
        QFETCH(QPalette::ColorRole, textRole);
        QFETCH(QColor, text);
        QFETCH(bool, readableDisabled);

        frmMain w;
        const QPalette p = control(w, name)->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            QCOMPARE(p.color(group, backRole), back);
        QCOMPARE(p.color(QPalette::Active, textRole), text);
        QCOMPARE(p.color(QPalette::Disabled, textRole) == text, readableDisabled);
    }

    void frameCaptionStyle()
    {
        frmMain w;
        QCOMPARE(w.Frame1->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
        QVERIFY(w.Frame1->font().bold());
        QCOMPARE(w.Frame1->font().pointSize(), 9);
        QCOMPARE(w.Frame1->palette().color(QPalette::WindowText), QColor(Qt::blue));
        // The caption's style stays with the caption.
        for (QWidget *c : std::initializer_list<QWidget *>{w.Label1, w.Label5, w.txtTrackName,
                                                           w.cmbGenre, w.cmdCopy}) {
            QVERIFY2(!c->font().bold(), qPrintable(c->objectName()));
            QCOMPARE(c->font().pointSizeF(), w.font().pointSizeF());
        }
        for (auto group : {QPalette::Active, QPalette::Disabled})
            QCOMPARE(w.Label1->palette().color(group, QPalette::WindowText),
                     w.palette().color(group, QPalette::WindowText));
    }

    void maxLengths_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("maxLength");
        for (const char *t : {"txtTrackName", "txtArtistName", "txtAlbumName", "txtComment"})
            QTest::newRow(t) << t << 30;
        QTest::newRow("txtYear") << "txtYear" << 4;
    }

    void maxLengths()
    {
        QFETCH(QString, name);
        QFETCH(int, maxLength);

        frmMain w;
        auto *t = qobject_cast<QLineEdit *>(control(w, name));
        QVERIFY(t);
        t->setText(QString(maxLength + 10, u'曲')); // set by the program
        QCOMPARE(t->text(), QString(maxLength, u'曲'));
        t->clear();
        w.Frame1->setEnabled(true);
        QTest::keyClicks(t, QString(maxLength + 3, u'9')); // typed
        QCOMPARE(t->text(), QString(maxLength, u'9'));
    }

    void windowAndStartStates()
    {
        auto w = loadedWindow();
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QStringLiteral("Dorvasu"));
        QVERIFY(!w->windowIcon().isNull());
        QVERIFY(!QApplication::windowIcon().isNull());
        QVERIFY(!(w->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(w->windowFlags() & Qt::WindowCloseButtonHint);
        const QSize size = ui::twipsSize(6135, 6645);
        QCOMPARE(w->size(), size);
        QCOMPARE(w->minimumSize(), size);
        QCOMPARE(w->maximumSize(), size);

        QCOMPARE(w->lstMP3Files->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(w->lstRename->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(w->lstMP3Files->count() + w->lstRename->count(), 0);
        QVERIFY(w->lstMP3Files->isEnabled());
        QVERIFY(!w->lstRename->isEnabled());
        QVERIFY(!w->Frame1->isEnabled());
        QVERIFY(!w->cmbGenre->isEditable());

        // The program's folder is the current folder.
        QCOMPARE(QDir::current().canonicalPath(), QDir(dir_->path()).canonicalPath());
        QCOMPARE(w->AppFolder(), dir_->path() + u'/');
        QVERIFY(messages_.isEmpty());
    }

    // --- Position and folder through the settings file -------------------

    void positionRoundTrip_data()
    {
        QTest::addColumn<QString>("ini"); // null: no settings file
        QTest::addColumn<QPoint>("pixels");
        QTest::addColumn<QString>("top");
        QTest::addColumn<QString>("left");
        QTest::addColumn<int>("closeBy");

        auto row = [](const char *name, const QString &ini, QPoint pixels, const char *top,
                      const char *left, CloseBy by) {
            QTest::newRow(name) << ini << pixels << top << left << int(by);
        };
        auto position = [](const char *top, const char *left) {
            return QStringLiteral("[Position]\r\nTop=%1\r\nLeft=%2\r\n").arg(top, left);
        };
        row("no file, Esc", QString(), {0, 0}, "0", "0", EscInWindow);
        row("whole pixels, close box", position("1500", "3000"), {200, 100}, "1500", "3000",
            CloseBox);
        row("fractions kept, Close button", position("1522.5", "22.5"), {2, 102}, "1522.5",
            "22.5", CloseButton);
        row("letters read as 0, Esc in list", position("abc", "12abc"), {0, 0}, "0", "0",
            EscInList);
        row("empty values", position("", ""), {0, 0}, "0", "0", EscInWindow);
        row("inf and nan", position("inf", "nan"), {0, 0}, "0", "0", CloseBox);
        row("separator, exponent", position("1,500", "1.5e3"), {100, 0}, "0", "1500",
            CloseBox);
        row("partly off the screen", position("-150", "-300"), {-20, -10}, "-150", "-300",
            CloseButton);
    }

    void positionRoundTrip()
    {
        QFETCH(QString, ini);
        QFETCH(QPoint, pixels);
        QFETCH(QString, top);
        QFETCH(QString, left);
        QFETCH(int, closeBy);

        const QString folder = QStringLiteral("/music/日本 語");
        if (!ini.isNull())
            writeIni(ini + QStringLiteral("[Folder]\r\nMP3=") + folder);
        auto w = loadedWindow();
        QVERIFY(w);
        QCOMPARE(w->pos(), pixels);
        QCOMPARE(w->sMP3Folder(), ini.isNull() ? QString() : folder);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QCOMPARE(w->pos(), pixels);

        switch (closeBy) {
        case EscInWindow: QTest::keyClick(w.get(), Qt::Key_Escape); break;
        case EscInList:
            w->lstMP3Files->setFocus();
            QTest::keyClick(w->lstMP3Files, Qt::Key_Escape);
            break;
        case CloseBox: QVERIFY(w->close()); break;
        case CloseButton: QTest::mouseClick(w->cmdClose, Qt::LeftButton); break;
        }
        QVERIFY(!w->isVisible());
        QCOMPARE(setting("Position", "Top"), top);
        QCOMPARE(setting("Position", "Left"), left);
        if (!ini.isNull()) {
            QCOMPARE(setting("Folder", "MP3"), folder);
        } else { // an empty folder is written as a key with an empty value
            QFile f(iniPath());
            QVERIFY(f.open(QIODevice::ReadOnly));
            QVERIFY(QString::fromUtf8(f.readAll()).contains(QRegularExpression(
                QStringLiteral("\\[Folder\\]\\s*\\n\\s*MP3\\s*=\\s*(\\r?\\n|$)"))));
        }
    }

    void positionOffEveryScreen_data()
    {
        QTest::addColumn<QString>("top");
        QTest::addColumn<QString>("left");
        QTest::newRow("far right and down") << "150000" << "150000";
        QTest::newRow("far left") << "0" << "-150000";
        QTest::newRow("huge") << "1e30" << "-3e38";
        QTest::newRow("just below every screen") << "" << "0";
    }

    void positionOffEveryScreen()
    {
        QFETCH(QString, top);
        QFETCH(QString, left);

        QScreen *primary = QGuiApplication::primaryScreen();
        QVERIFY(primary);
        if (top.isEmpty()) {
            int bottom = 0;
            for (QScreen *s : QGuiApplication::screens())
                bottom = qMax(bottom, s->availableGeometry().bottom() + 1);
            top = QString::number(bottom * ui::kTwipsPerPixel);
        }
        writeIni(QStringLiteral("[Position]\r\nTop=%1\r\nLeft=%2\r\n").arg(top, left));
        auto w = loadedWindow();
        QVERIFY(w);
        const QPoint onScreen = primary->availableGeometry().topLeft();
        QCOMPARE(w->pos(), onScreen);
        QVERIFY(w->close());
        QCOMPARE(setting("Position", "Top"), QString::number(onScreen.y() * 15));
        QCOMPARE(setting("Position", "Left"), QString::number(onScreen.x() * 15));
    }

    void movedWindowAndChangedFolderAreSaved()
    {
        writeIni(QStringLiteral("[Position]\r\nTop=1522.5\r\nLeft=22.5\r\n"));
        auto w = loadedWindow();
        QVERIFY(w);
        QCOMPARE(w->topTwips(), 1522.5f);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->move(40, 30);
        QCOMPARE(w->topTwips(), 450.0f);
        QCOMPARE(w->leftTwips(), 600.0f);
        w->setSMP3Folder(QStringLiteral("/home/someone/Music"));
        w.reset(); // destroyed without being closed: still unloads
        QCOMPARE(setting("Position", "Top"), QStringLiteral("450"));
        QCOMPARE(setting("Position", "Left"), QStringLiteral("600"));
        QCOMPARE(setting("Folder", "MP3"), QStringLiteral("/home/someone/Music"));
    }

    void unloadRunsOnce()
    {
        auto w = loadedWindow();
        QVERIFY(w);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QVERIFY(QFile::remove(iniPath()));

        // Nothing after the first unload writes the settings again, not
        // even a further close request from the window system.
        w->close();
        QCloseEvent again;
        QApplication::sendEvent(w.get(), &again);
        w->cmdClose->click();
        QTest::keyClick(w.get(), Qt::Key_Escape);
        w.reset();
        QVERIFY(!QFile::exists(iniPath()));
    }

    // --- Genre list and copy buffer --------------------------------------

    void genreList()
    {
        auto w = loadedWindow();
        QVERIFY(w);

        // What the library knows, asked number by number on its own.
        QHash<int, QString> names;
        for (int n = 0; n <= 255; ++n) {
            tags::TagInfo tag;
            tag.GenreNo = n;
            mp3lib::TagInfoWire wire = tag.toWire();
            vbmp3_getGenre(wire);
            tag.fromWire(wire);
            if (const QString name = tags::TrimTagStr(tag.GenreName); !name.isEmpty())
                names.insert(n, name);
        }
        QVERIFY(names.size() > 100);

        const QComboBox *cmb = w->cmbGenre;
        QCOMPARE(cmb->count(), names.size());
        QCOMPARE(cmb->currentIndex(), 0);
        QSet<int> seen;
        for (int i = 0; i < cmb->count(); ++i) {
            bool ok = false;
            const int number = cmb->itemData(i).toInt(&ok);
            QVERIFY(ok && !seen.contains(number));
            seen.insert(number);
            QCOMPARE(cmb->itemText(i), names.value(number));
            if (i > 0)
                QVERIFY2(QString::compare(cmb->itemText(i - 1), cmb->itemText(i),
                                          Qt::CaseInsensitive) <= 0,
                         qPrintable(cmb->itemText(i)));
        }
    }

    void copyTagStartValues()
    {
        const int yearBefore = QDate::currentDate().year();
        auto w = loadedWindow();
        QVERIFY(w);
        const int yearAfter = QDate::currentDate().year();
        const tags::TagInfo &t = w->CopyTag;

        // Stored by the writing rule without a NUL: padded with spaces.
        for (const QString *field : {&t.TrackName, &t.ArtistName, &t.AlbumName, &t.Comment})
            QCOMPARE(*field, QString(tags::kTextWidth, u' '));
        const QString year = t.Year.left(4);
        QVERIFY2(year == QString::number(yearBefore) || year == QString::number(yearAfter),
                 qPrintable(year));
        QCOMPARE(t.Year, year + u' ');
        QCOMPARE(t.GenreNo, 0);
        QCOMPARE(t.GenreName, tags::fitField(w->cmbGenre->itemText(0), tags::kTextWidth));
    }

    // --- Failing start-up ------------------------------------------------

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
        writeIni(QStringLiteral("[Position]\r\nTop=750\r\nLeft=1522.5\r\n"
                                "[Folder]\r\nMP3=/music/前回\r\n"));

        struct ShowCounter : QObject {
            int shows = 0;
            bool eventFilter(QObject *, QEvent *e) override
            {
                shows += e->type() == QEvent::Show;
                return false;
            }
        } counter;
        frmMain w;
        w.installEventFilter(&counter);
        QVERIFY(!w.Form_Load());

        const QString fixed = QStringLiteral("初期化に失敗しました。");
        QCOMPARE(messages_.size(), 1);
        QCOMPARE(messages_[0].second, QMessageBox::Critical);
        if (initFails) // nothing follows when the library merely said no
            QCOMPARE(messages_[0].first, fixed);
        else // the cause is named
            QVERIFY(messages_[0].first.startsWith(fixed) && messages_[0].first != fixed);
        QCOMPARE(counter.shows, 0);

        // The settings are written back as they were read.
        QCOMPARE(setting("Position", "Top"), QStringLiteral("750"));
        QCOMPARE(setting("Position", "Left"), QStringLiteral("1522.5"));
        QCOMPARE(setting("Folder", "MP3"), QStringLiteral("/music/前回"));

        // A later close does not unload a second time.
        QVERIFY(QFile::remove(iniPath()));
        QCloseEvent close;
        QApplication::sendEvent(&w, &close);
        QVERIFY(!QFile::exists(iniPath()));
    }

    // --- Position text ---------------------------------------------------

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
        QTest::newRow("blanks around") << "  45 " << 45.0f << "45" << 3;
        QTest::newRow("trailing letters") << "12px" << 0.0f << "0" << 0;
        QTest::newRow("comma decimal") << "12,5" << 0.0f << "0" << 0;
        QTest::newRow("beyond float") << "1e39" << 0.0f << "0" << 0;
        QTest::newRow("huge, pixels clamped") << "3e38" << 3e38f << "" << 6666667;
        QTest::newRow("huge negative") << "-3e38" << -3e38f << "" << -6666667;
    }

    void positionText()
    {
        QFETCH(QString, text);
        QFETCH(float, twips);
        QFETCH(QString, written);
        QFETCH(int, pixels);

        const float read = app::positionFromText(text);
        QCOMPARE(read, twips);
        if (!written.isEmpty())
            QCOMPARE(app::positionToText(read), written);
        QCOMPARE(app::positionFromText(app::positionToText(read)), read); // round trip
        QCOMPARE(app::positionToPixels(read), pixels);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
