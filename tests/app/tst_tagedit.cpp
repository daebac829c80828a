// The tag frame: showing the current file's tag, Update, Copy and Paste on
// real MP3 files, checked through the library binding and TagLib directly.
#include <QClipboard>
#include <QDate>
#include <QScopeGuard>
#include <QSignalBlocker>

#include <sys/mount.h>
#include <unistd.h>

#include "mainwindowfixture.h"

namespace {

Six trimmed(Six f)
{
    for (QString &s : f)
        s = tags::TrimTagStr(s);
    return f;
}

Six readWithTagLib(const QString &path)
{
    TagLib::MPEG::File file(QFile::encodeName(path).constData());
    const TagLib::PropertyMap map = file.ID3v2Tag(true)->properties();
    Six f;
    for (const char *key : kTagKeys)
        f << (map.contains(key) ? QString::fromStdString(map[key].toString().to8Bit(true)) : "");
    return f;
}

// The six fields as the library binding reads them, through the reading rule.
Six readWithBinding(const QString &path)
{
    tags::TagInfo t;
    mp3lib::TagInfoWire wire = t.toWire();
    if (vbmp3_getFileTagInfo(QFile::encodeName(path).constData(), wire) == 0)
        return {};
    t.fromWire(wire);
    return trimmed({t.TrackName, t.ArtistName, t.AlbumName, t.Year, t.GenreName, t.Comment});
}

const Six kTagA{"夜明けの歌", "山田太郎", "朝のアルバム", "1999", "Rock", "初回盤"};
const Six kTagB{"Other Song", "Other Singer", "Other Album", "2001", "Jazz", "other"};

} // namespace

class TestTagEdit : public QObject {
    Q_OBJECT

    WindowFixture fx_;
    frmMain *w_ = nullptr;

    // Entries go into both lists as the list commands put them, without
    // running the tag display.
    void setEntries(const QStringList &paths)
    {
        const QSignalBlocker block(w_->lstMP3Files);
        for (int i = 0; i < paths.size(); ++i) {
            w_->lstMP3Files->addItem(paths[i]);
            w_->lstRename->addItem(QStringLiteral("name %1").arg(i));
        }
    }

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

    // Types the fields as one key event each, as an input method delivers
    // Japanese; the boxes apply their maximum lengths.
    void type(const Six &f)
    {
        QLineEdit *boxes[] = {w_->txtTrackName, w_->txtArtistName, w_->txtAlbumName,
                              w_->txtYear, nullptr, w_->txtComment};
        for (int i = 0; i < 6; ++i) {
            if (!boxes[i])
                continue;
            boxes[i]->clear();
            QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, f[i]);
            if (!f[i].isEmpty())
                QApplication::sendEvent(boxes[i], &key);
        }
        QVERIFY2(w_->cmbGenre->findText(f[4]) >= 0, qPrintable(f[4]));
        w_->cmbGenre->setCurrentIndex(w_->cmbGenre->findText(f[4]));
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

    // Entry 0 holds kTagB and is shown first; then entry `current` becomes
    // current with `selected` selected. A file that cannot be shown, or no
    // current entry, leaves the fields as they were.
    void display_data()
    {
        QTest::addColumn<Six>("tag"); // entry 1's; empty: untagged; {"gone"}: deleted
        QTest::addColumn<int>("current");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<Six>("expected");
        QTest::addColumn<QString>("message");
        QTest::newRow("Japanese") << kTagA << 1 << QList<int>{1} << kTagA << "";
        QTest::newRow("current among several, itself not selected")
            << kTagA << 1 << QList<int>{0, 2} << kTagA << "";
        QTest::newRow("no current entry") << kTagA << -1 << QList<int>{1} << kTagB << "";
        QTest::newRow("spaces, NUL and ideographic spaces trimmed")
            << Six{"  Title  ", "\u3000歌手\u3000", QString::fromLatin1("A\0\0", 3), " 99 ", "Blues", "c  "}
            << 1 << QList<int>{1} << Six{"Title", "歌手", "A", "99", "Blues", "c"} << "";
        const QString a40(40, u'a');
        QTest::newRow("cut to the fields' lengths")
            << Six{a40, a40, QString(29, u's') + "😀x", "19999", "Rock", a40} << 1
            << QList<int>{1} << Six{a40.left(30), a40.left(30), QString(29, u's'), "1999", "Rock",
                                    a40.left(30)} << "";
        QTest::newRow("unknown genre shows no selection")
            << Six{"T", "S", "A", "2000", "No Such Genre", "C"} << 1 << QList<int>{1}
            << Six{"T", "S", "A", "2000", "", "C"} << "";
        QTest::newRow("deleted") << Six{"gone"} << 1 << QList<int>{1} << kTagB << "File not found";
        QTest::newRow("no tag") << Six{} << 1 << QList<int>{1} << kTagB << "Tag info error";
    }

    void display()
    {
        QFETCH(Six, tag);
        QFETCH(int, current);
        QFETCH(QList<int>, selected);
        QFETCH(Six, expected);
        QFETCH(QString, message);
        const QString second = tag == Six{"gone"} ? fx_.path("gone.mp3") : fx_.file("1.mp3", tag);
        setEntries({fx_.file("0.mp3", kTagB), second, fx_.file("2.mp3", kTagB)});
        click(0, {0});
        click(current, selected);
        QCOMPARE(fx_.messages, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(shown(), expected);
        const int highlighted = current < 0 ? 0 : current; // even for a missing file
        QCOMPARE(w_->lstRename->currentRow(), highlighted);
        QVERIFY(w_->lstRename->item(highlighted)->isSelected());
    }

    void update_data()
    {
        QTest::addColumn<Six>("typed");
        QTest::addColumn<QString>("name");
        QTest::newRow("Japanese") << kTagA << "山田太郎 - 夜明けの歌.mp3";
        QTest::newRow("emptied boxes write empty fields")
            << Six{"T", "", "", "", "Blues", ""} << " - T.mp3";
        QTest::newRow("year not a number") << Six{"T", "S", "A", "abcd", "Rock", "C"}
                                           << "S - T.mp3";
        QTest::newRow("spaces written, name trimmed")
            << Six{"  Title ", " Singer  ", " A ", " 99 ", "Rock", " c "} << "Singer - Title.mp3";
        QTest::newRow("no title, no singer") << Six{"", "", "A", "2000", "Rock", "C"} << " - .mp3";
        QTest::newRow("slash in the singer") << Six{"T", "AC/DC", "A", "1980", "Rock", ""}
                                             << "*[Filename error]";
    }

    void update()
    {
        QFETCH(Six, typed);
        QFETCH(QString, name);
        const QByteArray picture = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(3000, 'p');
        const QString target = fx_.file("target.mp3", kTagB, picture);
        const QString other = fx_.file("other.mp3", kTagB);
        const QByteArray otherBytes = testdata::readAll(other);
        setEntries({other, target});
        click(1, {0}); // the other file stays selected, but is not current
        type(typed);
        w_->cmdRewrite_Click();

        QCOMPARE(fx_.messages, QStringList());
        QCOMPARE(shown(), typed);
        QCOMPARE(texts(w_->lstRename), QStringList({"name 0", name}));
        QCOMPARE(readWithBinding(target), trimmed(typed));
        QCOMPARE(readWithTagLib(target), typed);
        QVERIFY(testdata::readAll(target).contains(picture));
        QCOMPARE(testdata::readAll(other), otherBytes);
    }

    // After another file was shown, an Update writes only what was edited:
    // untouched fields stay as stored (a full date, a genre the list lacks, a
    // title longer than its box), never the previous file's genre. A year
    // typed in full-width digits is stored as ASCII digits.
    void updateKeepsWhatWasNotEdited_data()
    {
        QTest::addColumn<Six>("tag");
        QTest::addColumn<QString>("year");   // typed; empty: nothing edited
        QTest::addColumn<Six>("after");      // read back; empty: file unchanged
        const QString long40 = QString(36, u'x') + "tail";
        QTest::newRow("nothing edited") << Six{long40, "S", "A", "2001-05-12", "Vaporwave", "C"} << ""
                                        << Six{};
        QTest::newRow("full-width year") << Six{long40, "S", "A", "2001-05-12", "Vaporwave", "C"}
                                         << "２００４" << Six{long40, "S", "A", "2004", "Vaporwave", "C"};
    }

    void updateKeepsWhatWasNotEdited()
    {
        QFETCH(Six, tag);
        QFETCH(QString, year);
        QFETCH(Six, after);
        const QString target = fx_.file("target.mp3", tag);
        const QByteArray before = testdata::readAll(target);
        setEntries({fx_.file("jazz.mp3", kTagB), target});
        click(0);
        click(1);
        QCOMPARE(w_->cmbGenre->currentIndex(), -1);
        if (!year.isEmpty()) {
            w_->txtYear->clear();
            QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, year);
            QApplication::sendEvent(w_->txtYear, &key);
        }
        w_->cmdRewrite_Click();
        QCOMPARE(fx_.messages, QStringList());
        if (after.isEmpty())
            QCOMPARE(testdata::readAll(target), before);
        else
            QCOMPARE(readWithTagLib(target), after);
    }

    void updateDeletedAfterListing()
    {
        setEntries({fx_.path("deleted.mp3")});
        click(0);
        fx_.messages.clear();
        type(kTagA);
        w_->cmdRewrite_Click();
        QCOMPARE(fx_.messages, QStringList());
        QCOMPARE(texts(w_->lstRename), QStringList{"name 0"});
        QCOMPARE(QDir(fx_.dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void updateReadOnlyFile()
    {
        const QString target = fx_.file("target.mp3", kTagB);
        const QByteArray before = testdata::readAll(target);
        const QByteArray native = QFile::encodeName(target);
        if (::geteuid() != 0 || ::mount(native, native, nullptr, MS_BIND, nullptr) != 0)
            QSKIP("a read-only bind mount needs root");
        const auto unmount = qScopeGuard([&] { ::umount2(native.constData(), MNT_DETACH); });
        QVERIFY(::mount(nullptr, native, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0);

        setEntries({target});
        click(0);
        type(kTagA);
        w_->cmdRewrite_Click();
        QCOMPARE(fx_.messages, QStringList{"Tag write error"});
        QCOMPARE(texts(w_->lstRename), QStringList{"name 0"});
        QCOMPARE(testdata::readAll(target), before);
    }

    // The clipboard gets exactly the line; Paste reads the buffer, not it.
    // Before any Copy the buffer holds empty fields, this year, genre 0.
    void copy_data()
    {
        QTest::addColumn<Six>("typed");
        QTest::addColumn<QString>("line");
        QTest::addColumn<Six>("pasted");
        const QString year = QString::number(QDate::currentDate().year());
        QTest::newRow("Paste before Copy") << Six{} << "" << Six{"", "", "", year, "Blues", ""};
        QTest::newRow("spaces trimmed")
            << Six{" T ", "\u3000S", "A  ", " 99", "Blues", "  c"} << "T,S,A,99,Blues,c"
            << Six{"T", "S", "A", "99", "Blues", "c"};
        QTest::newRow("comma in a field")
            << Six{"a,b", "S", "", "", "Rock", "x, y"} << "a,b,S,,,Rock,x, y"
            << Six{"a,b", "S", "", "", "Rock", "x, y"};
    }

    void copy()
    {
        QFETCH(Six, typed);
        QFETCH(QString, line);
        QFETCH(Six, pasted);
        if (!typed.isEmpty()) {
            type(typed);
            w_->cmdCopy_Click();
            QCOMPARE(QGuiApplication::clipboard()->text(), line);
        }
        type(kTagB);
        QGuiApplication::clipboard()->setText("not read by Paste");
        w_->cmdPaste_Click();
        QCOMPARE(shown(), pasted);
    }

    // One file's fields reach another through Copy and Paste, or because
    // "Tag info error" left them in place; Paste alone changes nothing,
    // Update writes them.
    void carryToAnotherFile_data()
    {
        QTest::addColumn<bool>("copyPaste");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("Copy, select, Paste") << true << QStringList();
        QTest::newRow("after Tag info error") << false << QStringList{"Tag info error"};
    }

    void carryToAnotherFile()
    {
        QFETCH(bool, copyPaste);
        QFETCH(QStringList, messages);
        const QString b = fx_.file("b.mp3", copyPaste ? kTagB : Six());
        setEntries({fx_.file("a.mp3", kTagA), b});
        click(0);
        if (copyPaste)
            w_->cmdCopy_Click();
        click(1);
        if (copyPaste) {
            const QByteArray before = testdata::readAll(b);
            w_->cmdPaste_Click();
            QCOMPARE(testdata::readAll(b), before);
            QCOMPARE(texts(w_->lstRename), QStringList({"name 0", "name 1"}));
        }
        QCOMPARE(shown(), kTagA);
        w_->cmdRewrite_Click();
        QCOMPARE(readWithBinding(b), kTagA);
        QCOMPARE(texts(w_->lstRename), QStringList({"name 0", "山田太郎 - 夜明けの歌.mp3"}));
        QCOMPARE(fx_.messages, messages);
    }
};

QTEST_MAIN(TestTagEdit)
#include "tst_tagedit.moc"
