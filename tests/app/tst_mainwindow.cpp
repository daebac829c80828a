// The main window through the real settings file, genre list and MP3 files:
// start-up, look and shutdown, window positions kept as text, and the tag
// frame (showing the current file's tag, Update, Copy and Paste).
#include <sys/mount.h>
#include <unistd.h>

#include "mainwindowfixture.h"
#include "windowposition.h"

namespace {

const Six kTagA{"夜明けの歌", "山田太郎", "朝のアルバム", "1999", "Rock", "初回盤"};
const Six kTagB{"Other Song", "Other Singer", "Other Album", "2001", "Jazz", "other"};

// The share of a widget's drawn pixels in the fields' light yellow.
double yellowShare(QWidget *widget)
{
    const QImage image = widget->grab().toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += QColor(image.pixel(x, y)) == QColor(255, 255, 192);
    return double(n) / (image.width() * image.height());
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    WindowFixture fx_;
    frmMain *w_ = nullptr;

    void writeIni(const QString &top, const QString &left, const QString &folder)
    {
        const QString text = QStringLiteral("[Position]\r\nTop=%1\r\nLeft=%2\r\n[Folder]\r\nMP3=%3\r\n");
        testdata::writeAll(fx_.iniPath(), text.arg(top, left, folder).toUtf8());
    }

    QString setting(const QString &section, const QString &key)
    {
        inifile_IO ini;
        ini.setFileName(fx_.iniPath());
        return ini.ReadStr(section, key, QStringLiteral("<missing>"));
    }

    void open()
    {
        fx_.load();
        w_ = fx_.w.get();
        w_->Frame1->setEnabled(true); // as a click on one file leaves it
    }

    // Makes `row` the current entry with `selected` the selected entries (the
    // current one need not be among them), then reports the list's click.
    void click(int row, const QList<int> &selected = {})
    {
        {
            const QSignalBlocker block(w_->lstMP3Files);
            QItemSelectionModel *model = w_->lstMP3Files->selectionModel();
            model->clearSelection();
            model->setCurrentIndex(w_->lstMP3Files->model()->index(row, 0), QItemSelectionModel::NoUpdate);
            for (int r : selected)
                model->select(w_->lstMP3Files->model()->index(r, 0), QItemSelectionModel::Select);
        }
        w_->lstMP3Files_Click();
    }

    QString shown() const
    {
        return Six{w_->txtTrackName->text(), w_->txtArtistName->text(), w_->txtAlbumName->text(),
                   w_->txtYear->text(), w_->cmbGenre->currentText(), w_->txtComment->text()}
            .join(u';');
    }

    // Types the fields that are not null as one key event each, as an input
    // method delivers Japanese; the boxes apply their maximum lengths.
    void type(const Six &f)
    {
        QLineEdit *boxes[] = {w_->txtTrackName, w_->txtArtistName, w_->txtAlbumName,
                              w_->txtYear, nullptr, w_->txtComment};
        for (int i = 0; i < 6; ++i) {
            if (!boxes[i] || f[i].isNull())
                continue;
            boxes[i]->clear();
            QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, f[i]);
            QApplication::sendEvent(boxes[i], &key);
        }
        if (!f[4].isNull())
            w_->cmbGenre->setCurrentIndex(w_->cmbGenre->findText(f[4]));
    }

    // The cases of `section` with $A and $B for two tags and $year for this year.
    static void addTagRows(const QByteArray &section, const QList<const char *> &columns)
    {
        addRows(section, columns,
                {{"$A", kTagA.join(u';')},
                 {"$B", kTagB.join(u';')},
                 {"$year", QString::number(QDate::currentDate().year())}});
    }

private slots:
    void init() { fx_.setUp(); }
    void cleanup() { fx_.tearDown(); }

    // The genre list sorted by name, each name once with its number, empty
    // names left out; the genre box and its list drawn in the fields' light
    // yellow; the proposed names keep their colour when disabled.
    void startedAndDrawn()
    {
        open();
        QCOMPARE(QDir::current().canonicalPath(), QDir(fx_.path("app")).canonicalPath());
        QCOMPARE(fx_.messages, QStringList());
        const QComboBox *cmb = w_->cmbGenre;
        QCOMPARE(cmb->itemText(cmb->findData(17)), QStringLiteral("Rock"));
        QSet<int> seen;
        for (int i = 0; i < cmb->count(); ++i) {
            QVERIFY(!seen.contains(cmb->itemData(i).toInt()) && !cmb->itemText(i).trimmed().isEmpty());
            seen.insert(cmb->itemData(i).toInt());
            QVERIFY(i == 0 || cmb->itemText(i - 1).compare(cmb->itemText(i), Qt::CaseInsensitive) <= 0);
        }
        QVERIFY(seen.size() > 100);
        QCOMPARE(w_->lstRename->palette().color(QPalette::Disabled, QPalette::Text), QColor(255, 255, 128));
        QVERIFY(yellowShare(w_->cmbGenre) > 0.5);
        w_->cmbGenre->showPopup();
        QVERIFY(yellowShare(w_->cmbGenre->view()) > 0.5);
    }

    // Position and folder through the settings file. Until the window is
    // moved the read text goes back unchanged (no drift from rounding to
    // pixels); a position off every screen is moved onto the primary one.
    // Nothing writes the settings after the first unload.
    void position_data()
    {
        const QPoint home = QGuiApplication::primaryScreen()->availableGeometry().topLeft();
        int bottom = 0;
        for (QScreen *s : QGuiApplication::screens())
            bottom = qMax(bottom, s->availableGeometry().bottom() + 1);
        addRows("position", {"top", "left", "pixels", "topOut", "leftOut", "closeBy"},
                {{"$homeTop", QString::number(home.y() * 15)},
                 {"$homeLeft", QString::number(home.x() * 15)},
                 {"$home", QStringLiteral("%1 %2").arg(home.x()).arg(home.y())},
                 {"$below", QString::number(bottom * 15)}});
    }

    void position()
    {
        QFETCH(QString, top);
        QFETCH(QString, left);
        QFETCH(QString, pixels);
        QFETCH(QString, closeBy);
        const QString folder = top.isEmpty() ? QString() : QStringLiteral("/music/日本 語/%41"); // "%41" kept
        if (!top.isEmpty())
            writeIni(top, left, folder);
        fx_.load();
        frmMain *w = fx_.w.get();
        QCOMPARE(w->sMP3Folder(), folder.toUtf8());
        QCOMPARE(w->pos(), QPoint(rows(pixels)[0], rows(pixels)[1]));
        if (closeBy == "Esc") {
            QTest::keyClick(w, Qt::Key_Escape);
        } else if (closeBy == "Esc in list") {
            QTest::keyClick(w->lstMP3Files, Qt::Key_Escape);
        } else if (closeBy == "close box") {
            QVERIFY(w->close());
        } else if (closeBy == "Close") {
            QTest::mouseClick(w->cmdClose, Qt::LeftButton);
        } else { // destroyed without a close, still unloads
            w->move(40, 30);
            fx_.w.reset();
        }
        QTEST(setting("Position", "Top"), "topOut");
        QTEST(setting("Position", "Left"), "leftOut");
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
        QCOMPARE(setting("Position", "Top") + setting("Position", "Left"), QStringLiteral("7501522.5"));
        QCOMPARE(setting("Folder", "MP3"), QStringLiteral("/music/前回"));
        QVERIFY(QFile::remove(fx_.iniPath()));
        QCloseEvent close;
        QApplication::sendEvent(&w, &close);
        QVERIFY(!QFile::exists(fx_.iniPath()));
    }

    // Stored text to twips, back to the shortest text, and to pixels.
    void positionText_data() { addRows("positionText", {"text", "twips", "written", "pixels"}); }

    void positionText()
    {
        QFETCH(QString, text);
        QFETCH(QString, twips);
        QFETCH(QString, written);
        const float read = ui::positionFromText(text).value_or(0);
        QCOMPARE(read, twips.toFloat());
        if (!written.isEmpty())
            QCOMPARE(ui::positionToText(read), written);
        QCOMPARE(ui::positionFromText(ui::positionToText(read)).value_or(0), read);
        QTEST(QString::number(ui::positionToPixels(read)), "pixels");
    }

    // A file that cannot be shown, or no current entry, leaves the boxes;
    // the proposed name is highlighted even for a missing file. Only what was
    // edited is written (never the previous file's genre), the picture and
    // the other file stay; a failed write, or a file gone, leaves the name.
    void edit_data()
    {
        addTagRows("edit", {"tag", "current", "shown", "messages", "typed", "name", "stored", "readOnly"});
    }

    void edit()
    {
        QFETCH(QString, tag);
        QFETCH(QString, current);
        QFETCH(QString, stored);
        QFETCH(QString, readOnly);
        const QByteArray picture = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(3000, 'p');
        const bool gone = tag == "gone";
        const QString target = gone ? fx_.path("target.mp3") : fx_.file("target.mp3", six(tag), picture);
        const QString other = fx_.file("other.mp3", kTagB);
        const QByteArray before = testdata::readAll(target), otherBytes = testdata::readAll(other);
        const QByteArray native = QFile::encodeName(target);
        if (!readOnly.isEmpty() && (::geteuid() != 0 || ::mount(native, native, nullptr, MS_BIND, nullptr) != 0))
            QSKIP("a read-only bind mount needs root");
        const auto unmount = qScopeGuard([&] {
            if (!readOnly.isEmpty())
                ::umount2(native.constData(), MNT_DETACH);
        });
        if (!readOnly.isEmpty())
            QCOMPARE(::mount(nullptr, native, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
        open();
        fx_.setEntries({other, target});
        click(0, {0});
        click(current.toInt(), {0});
        QTEST(shown(), "shown");
        QCOMPARE(w_->lstRename->currentRow(), qMax(current.toInt(), 0));
        QVERIFY(w_->lstRename->currentItem()->isSelected());
        QFETCH(QString, typed);
        type(six(typed));
        w_->cmdRewrite_Click();

        QTEST(fx_.messages.join(u';'), "messages");
        QCOMPARE(fx_.icons, QList<QMessageBox::Icon>(fx_.icons.size(), QMessageBox::Warning));
        QFETCH(QString, name);
        QCOMPARE(texts(w_->lstRename), QStringList({"name 0", name}));
        QCOMPARE(testdata::readAll(other), otherBytes);
        if (gone)
            QCOMPARE(QDir(fx_.dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"other.mp3"});
        else if (stored == "-")
            QCOMPARE(testdata::readAll(target), before);
        else
            QCOMPARE(WindowFixture::readTag(target).join(u';'), stored);
        QVERIFY(gone || tag == "-" || testdata::readAll(target).contains(picture));
    }

    // Copy puts exactly the line on the clipboard; Paste, on another file,
    // reads the buffer (not the clipboard) and writes nothing until Update.
    // Before any Copy the buffer holds empty fields, this year, genre 0.
    void copyPaste_data() { addTagRows("copyPaste", {"typed", "line", "pasted"}); }

    void copyPaste()
    {
        QFETCH(QString, typed);
        QFETCH(QString, pasted);
        const QString b = fx_.file("b.mp3", kTagB);
        open();
        fx_.setEntries({fx_.file("a.mp3", kTagA), b});
        click(0);
        if (typed != "-") {
            type(six(typed));
            w_->cmdCopy_Click();
            QTEST(QGuiApplication::clipboard()->text(), "line");
        }
        click(1);
        QGuiApplication::clipboard()->setText("not read by Paste");
        const QByteArray before = testdata::readAll(b);
        w_->cmdPaste_Click();
        QCOMPARE(shown(), pasted);
        QCOMPARE(testdata::readAll(b), before);
        QCOMPARE(texts(w_->lstRename), QStringList({"name 0", "name 1"}));
        w_->cmdRewrite_Click();
        QCOMPARE(WindowFixture::readTag(b).join(u';'), pasted);
        QCOMPARE(fx_.messages, QStringList());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
