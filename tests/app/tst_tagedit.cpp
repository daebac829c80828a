// The tag frame on real MP3 files: showing the current file's tag, Update,
// Copy and Paste, checked through the window and TagLib.
#include <QClipboard>
#include <QDate>
#include <QScopeGuard>

#include <sys/mount.h>
#include <unistd.h>

#include "mainwindowfixture.h"

namespace {

const Six kTagA{"夜明けの歌", "山田太郎", "朝のアルバム", "1999", "Rock", "初回盤"};
const Six kTagB{"Other Song", "Other Singer", "Other Album", "2001", "Jazz", "other"};
const Six kGone{"gone"};                          // the file is deleted
const Six kUntouched(6);                          // null fields: the boxes left alone
const QString kLong = QString(36, u'x') + "tail"; // longer than its box
const Six kStored{kLong, "S", "A", "2001-05-12", "Vaporwave", "C"};

// Entry 0 (kTagB, selected) is shown, then the target, entry 1, holding
// `tag` (empty: untagged) is made current (-1: none is); `typed` goes into
// the boxes (null fields left alone) and Update writes.
struct Edit {
    Six tag;
    int current;
    Six shown;       // in the boxes after the click
    QStringList messages;
    Six typed;
    QString name;    // proposed after
    Six stored;      // read back after; empty: the file's bytes unchanged
    bool readOnly = false;
};

struct CopyPaste {
    Six typed; // in entry 0 before Copy; empty: no Copy
    QString line;
    Six pasted;
};

} // namespace

class TestTagEdit : public QObject {
    Q_OBJECT

    WindowFixture fx_;
    frmMain *w_ = nullptr;

    // Makes `row` the current entry with `selected` the selected entries (the
    // current one need not be among them), then reports the list's click.
    void click(int row, const QList<int> &selected = {})
    {
        {
            const QSignalBlocker block(w_->lstMP3Files);
            QItemSelectionModel *model = w_->lstMP3Files->selectionModel();
            model->clearSelection();
            model->setCurrentIndex(w_->lstMP3Files->model()->index(row, 0),
                                   QItemSelectionModel::NoUpdate);
            for (int r : selected)
                model->select(w_->lstMP3Files->model()->index(r, 0), QItemSelectionModel::Select);
        }
        w_->lstMP3Files_Click();
    }

    Six shown() const
    {
        return {w_->txtTrackName->text(), w_->txtArtistName->text(), w_->txtAlbumName->text(),
                w_->txtYear->text(),      w_->cmbGenre->currentText(), w_->txtComment->text()};
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
        if (!f[4].isNull()) {
            QVERIFY2(w_->cmbGenre->findText(f[4]) >= 0, qPrintable(f[4]));
            w_->cmbGenre->setCurrentIndex(w_->cmbGenre->findText(f[4]));
        }
    }

private slots:
    void init()
    {
        fx_.setUp();
        fx_.load();
        w_ = fx_.w.get();
        w_->Frame1->setEnabled(true); // as a click on one file leaves it
    }

    void cleanup()
    {
        for (QMessageBox::Icon icon : fx_.icons)
            QCOMPARE(icon, QMessageBox::Warning);
        fx_.tearDown();
    }

    // A file that cannot be shown, or no current entry, leaves the boxes;
    // the proposed name is highlighted even for a missing file. Only what was
    // edited is written (never the previous file's genre), the picture and
    // the other file stay; a failed write, or a file gone, leaves the name.
    void edit_data()
    {
        QTest::addColumn<Edit>("row");
        const QString a40(40, u'a'), s29(29, u's'), longName = "S - " + kLong.left(30) + ".mp3";
        const Six kept{kLong.left(30), "S", "A", "2001", "", "C"};
        const Six spaced{" T ", " S  ", " A ", " 99 ", "Rock", " c "};
        const Six emptied{"", "", "", "", "Blues", ""}, letters{"T", "S", "A", "abcd", "Rock", "C"};
        const Six slash{"T", "AC/DC", "A", "1980", "Rock", ""};
        Six title = kUntouched, fullWidth = kUntouched, retitled = kTagA, fullWidthStored = kStored;
        title[0] = retitled[0] = u"新しい歌"_qs;
        fullWidth[3] = u"２００４"_qs, fullWidthStored[3] = "2004";
        QTest::newRow("Japanese") << Edit{kTagA, 1, kTagA, {}, title, "山田太郎 - 新しい歌.mp3", retitled};
        QTest::newRow("no current entry") << Edit{kTagA, -1, kTagB, {}, kTagA, "name 1", {}};
        QTest::newRow("spaces, NUL and ideographic spaces trimmed")
            << Edit{{"  T  ", "\u3000歌手\u3000", QString::fromLatin1("A\0\0", 3), " 99 ", "Blues", "c  "},
                    1, {"T", "歌手", "A", "99", "Blues", "c"}, {}, kUntouched, "歌手 - T.mp3", {}};
        QTest::newRow("cut to the boxes, not inside a pair")
            << Edit{{a40, a40, s29 + "😀x", "19999", "Rock", a40}, 1,
                    {a40.left(30), a40.left(30), s29, "1999", "Rock", a40.left(30)}, {}, kUntouched,
                    a40.left(30) + " - " + a40.left(30) + ".mp3", {}};
        QTest::newRow("genre not in the list, nothing edited")
            << Edit{kStored, 1, kept, {}, kUntouched, longName, {}};
        QTest::newRow("full-width year")
            << Edit{kStored, 1, kept, {}, fullWidth, longName, fullWidthStored};
        QTest::newRow("emptied boxes") << Edit{kTagB, 1, kTagB, {}, emptied, " - .mp3", emptied};
        QTest::newRow("year not a number") << Edit{kTagB, 1, kTagB, {}, letters, "S - T.mp3", letters};
        QTest::newRow("spaces written, name trimmed")
            << Edit{kTagB, 1, kTagB, {}, spaced, "S - T.mp3", spaced};
        QTest::newRow("slash in the singer")
            << Edit{kTagB, 1, kTagB, {}, slash, "*[Filename error]", slash};
        QTest::newRow("no tag: written from the boxes")
            << Edit{{}, 1, kTagB, {"Tag info error"}, kUntouched, "Other Singer - Other Song.mp3",
                    kTagB};
        QTest::newRow("deleted") << Edit{kGone, 1, kTagB, {"File not found"}, kTagA, "name 1", {}};
        QTest::newRow("read-only")
            << Edit{kTagB, 1, kTagB, {"Tag write error"}, kTagA, "name 1", {}, true};
    }

    void edit()
    {
        QFETCH(Edit, row);
        const QByteArray picture = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(3000, 'p');
        const bool gone = row.tag == kGone;
        const QString target = gone ? fx_.path("target.mp3") : fx_.file("target.mp3", row.tag, picture);
        const QString other = fx_.file("other.mp3", kTagB);
        const QByteArray before = testdata::readAll(target), otherBytes = testdata::readAll(other);
        const QByteArray native = QFile::encodeName(target);
        if (row.readOnly
            && (::geteuid() != 0 || ::mount(native, native, nullptr, MS_BIND, nullptr) != 0))
            QSKIP("a read-only bind mount needs root");
        const auto unmount = qScopeGuard([&] {
            if (row.readOnly)
                ::umount2(native.constData(), MNT_DETACH);
        });
        if (row.readOnly)
            QCOMPARE(::mount(nullptr, native, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
        fx_.setEntries({other, target});
        click(0, {0});
        click(row.current, {0});
        QCOMPARE(shown(), row.shown);
        QCOMPARE(w_->lstRename->currentRow(), qMax(row.current, 0));
        QVERIFY(w_->lstRename->currentItem()->isSelected());
        type(row.typed);
        w_->cmdRewrite_Click();

        QCOMPARE(fx_.messages, row.messages);
        QCOMPARE(texts(w_->lstRename), QStringList({"name 0", row.name}));
        QCOMPARE(testdata::readAll(other), otherBytes);
        if (gone)
            QCOMPARE(QDir(fx_.dir->path()).entryList(QDir::Files | QDir::Hidden),
                     QStringList{"other.mp3"});
        else if (row.stored.isEmpty())
            QCOMPARE(testdata::readAll(target), before);
        else
            QCOMPARE(WindowFixture::readTag(target), row.stored);
        QVERIFY(gone || row.tag.isEmpty() || testdata::readAll(target).contains(picture));
    }

    // Copy puts exactly the line on the clipboard; Paste, on another file,
    // reads the buffer (not the clipboard) and writes nothing until Update.
    // Before any Copy the buffer holds empty fields, this year, genre 0.
    void copyPaste_data()
    {
        QTest::addColumn<CopyPaste>("row");
        const QString year = QString::number(QDate::currentDate().year());
        QTest::newRow("Paste before Copy") << CopyPaste{{}, "", {"", "", "", year, "Blues", ""}};
        QTest::newRow("Japanese") << CopyPaste{kTagA, kTagA.join(u','), kTagA};
        QTest::newRow("spaces trimmed")
            << CopyPaste{{" T ", "\u3000S", "A  ", " 99", "Blues", "  c"}, "T,S,A,99,Blues,c",
                         {"T", "S", "A", "99", "Blues", "c"}};
        QTest::newRow("comma in a field") << CopyPaste{{"a,b", "S", "", "", "Rock", "x, y"},
                                                       "a,b,S,,,Rock,x, y",
                                                       {"a,b", "S", "", "", "Rock", "x, y"}};
    }

    void copyPaste()
    {
        QFETCH(CopyPaste, row);
        const QString b = fx_.file("b.mp3", kTagB);
        fx_.setEntries({fx_.file("a.mp3", kTagA), b});
        click(0);
        if (!row.typed.isEmpty()) {
            type(row.typed);
            w_->cmdCopy_Click();
            QCOMPARE(QGuiApplication::clipboard()->text(), row.line);
        }
        click(1);
        QGuiApplication::clipboard()->setText("not read by Paste");
        const QByteArray before = testdata::readAll(b);
        w_->cmdPaste_Click();
        QCOMPARE(shown(), row.pasted);
        QCOMPARE(testdata::readAll(b), before);
        QCOMPARE(texts(w_->lstRename), QStringList({"name 0", "name 1"}));
        w_->cmdRewrite_Click();
        QCOMPARE(WindowFixture::readTag(b), row.pasted);
        QCOMPARE(fx_.messages, QStringList());
    }
};

QTEST_MAIN(TestTagEdit)
#include "tst_tagedit.moc"
