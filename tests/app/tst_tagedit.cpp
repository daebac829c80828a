// The main window's tag frame: showing the current file's tag, Update, Copy
// and Paste, driven through the real window over real MP3 files, with the
// tags checked through the library binding and through TagLib directly.
#include <QClipboard>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include <sys/mount.h>
#include <unistd.h>

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>

#include "frmmain.h"
#include "messagebox.h"
#include "testdata.h"
#include "vbmp3.h"

namespace {

// A tag's six fields in the frame's order: title, singer, album, year,
// genre name, comment.
using Six = QStringList;

TagLib::String tl(const QString &s) { return TagLib::String(s.toStdString(), TagLib::String::UTF8); }
QString qs(const TagLib::String &s) { return QString::fromStdString(s.to8Bit(true)); }

Six trimmed(Six f)
{
    for (QString &s : f)
        s = tags::TrimTagStr(s);
    return f;
}

// Tags a file through TagLib alone (ID3v2.4, so the year is kept as text),
// optionally with a cover picture.
void tagWithTagLib(const QString &path, const Six &f, const QByteArray &picture = {})
{
    TagLib::MPEG::File file(QFile::encodeName(path).constData());
    TagLib::ID3v2::Tag *tag = file.ID3v2Tag(true);
    TagLib::PropertyMap map;
    const char *keys[] = {"TITLE", "ARTIST", "ALBUM", "DATE", "GENRE", "COMMENT"};
    for (int i = 0; i < 6; ++i)
        map.insert(keys[i], TagLib::StringList(tl(f[i])));
    tag->setProperties(map);
    if (!picture.isEmpty()) {
        auto *apic = new TagLib::ID3v2::AttachedPictureFrame;
        apic->setMimeType("image/png");
        apic->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        apic->setPicture(TagLib::ByteVector(picture.constData(), uint(picture.size())));
        tag->addFrame(apic);
    }
    QVERIFY(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4));
}

// The six fields as TagLib reads the file's ID3v2 tag; `picture` gets the
// first picture's bytes.
Six readWithTagLib(const QString &path, QByteArray *picture)
{
    TagLib::MPEG::File file(QFile::encodeName(path).constData());
    const TagLib::ID3v2::Tag *tag = file.ID3v2Tag(true);
    const TagLib::PropertyMap map = tag->properties();
    Six f;
    for (const char *key : {"TITLE", "ARTIST", "ALBUM", "DATE", "GENRE", "COMMENT"})
        f << (map.contains(key) ? qs(map[key].toString()) : QString());
    const TagLib::ID3v2::FrameList pictures = tag->frameList("APIC");
    picture->clear();
    if (!pictures.isEmpty()) {
        const auto v =
            static_cast<TagLib::ID3v2::AttachedPictureFrame *>(pictures.front())->picture();
        *picture = QByteArray(v.data(), v.size());
    }
    return f;
}

// The six fields as the library binding reads them, through the reading
// rule (the binding reads a year without its blanks).
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

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<frmMain> w_;
    QString savedCurrent_;
    QStringList messages_;

    QString path(const QString &name) const { return dir_->filePath(name); }

    // A copy of a sample under `name`, tagged with `f` unless `f` is empty.
    QString file(const QString &name, const Six &f = {}, const QByteArray &picture = {})
    {
        const QString p = testdata::copySample(dir_->path(), testdata::kMonoMpeg1, name);
        if (!f.isEmpty())
            tagWithTagLib(p, f, picture);
        return p;
    }

    // Entries go into both lists as the list commands put them, without
    // running the tag display.
    void setEntries(const QStringList &paths)
    {
        const QSignalBlocker block(w_->lstMP3Files);
        w_->lstMP3Files->clear();
        w_->lstRename->clear();
        for (int i = 0; i < paths.size(); ++i) {
            w_->lstMP3Files->addItem(paths[i]);
            w_->lstRename->addItem(QStringLiteral("name %1").arg(i));
        }
    }

    QStringList renameList() const
    {
        QStringList names;
        for (int i = 0; i < w_->lstRename->count(); ++i)
            names << w_->lstRename->item(i)->text();
        return names;
    }

    // Makes `row` the current entry with `selected` the selected entries (the
    // current one need not be among them), then reports the list's click.
    void click(int row, const QList<int> &selected = {})
    {
        {
            const QSignalBlocker block(w_->lstMP3Files);
            QItemSelectionModel *model = w_->lstMP3Files->selectionModel();
            model->clearSelection();
            const QModelIndex current = w_->lstMP3Files->model()->index(row, 0);
            model->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
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

    // Types the six fields into the frame, as a user would.
    void type(const Six &f)
    {
        QLineEdit *boxes[] = {w_->txtTrackName, w_->txtArtistName, w_->txtAlbumName,
                              w_->txtYear, nullptr, w_->txtComment};
        for (int i = 0; i < 6; ++i) {
            if (!boxes[i])
                continue;
            boxes[i]->clear();
            // One key event carrying the text, as an input method delivers
            // Japanese; the box applies its maximum length to it.
            QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, f[i]);
            if (!f[i].isEmpty())
                QApplication::sendEvent(boxes[i], &key);
        }
        const int genre = w_->cmbGenre->findText(f[4]);
        QVERIFY2(genre >= 0, qPrintable(f[4]));
        w_->cmbGenre->setCurrentIndex(genre);
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        savedCurrent_ = QDir::currentPath();
        frmMain::setAppFolderForTesting(dir_->path());
        messages_.clear();
        ui::setMessageSinkForTesting(
            [this](const QString &text, QMessageBox::Icon icon) {
                QCOMPARE(icon, QMessageBox::Warning);
                messages_ << text;
            });
        w_ = std::make_unique<frmMain>();
        QVERIFY(w_->Form_Load());
        w_->Frame1->setEnabled(true); // as a click on one file leaves it
    }

    void cleanup()
    {
        w_.reset();
        ui::setMessageSinkForTesting({});
        frmMain::setAppFolderForTesting(QString());
        QDir::setCurrent(savedCurrent_);
        dir_.reset();
    }

    // --- Display --------------------------------------------------------

    void display_data()
    {
        QTest::addColumn<Six>("tag");
        QTest::addColumn<Six>("expected");
        QTest::newRow("Japanese") << kTagA << kTagA;
        QTest::newRow("spaces and ideographic spaces trimmed")
            << Six{"  Title  ", "\u3000歌手\u3000", " A", " 99 ", "Blues", "c  "}
            << Six{"Title", "歌手", "A", "99", "Blues", "c"};
        const QString a40 = QString(40, u'a');
        QTest::newRow("cut to the fields' lengths")
            << Six{a40, QString(29, u's') + "😀x", "b", "19999", "Rock", a40 + "c"}
            << Six{a40.left(30), QString(29, u's'), "b", "1999", "Rock", a40.left(30)};
    }

    void display()
    {
        QFETCH(Six, tag);
        QFETCH(Six, expected);
        setEntries({file("a.mp3", kTagB), file("b.mp3", tag)});
        click(0);
        QCOMPARE(shown(), kTagB);
        click(1);
        QCOMPARE(messages_, QStringList());
        QCOMPARE(shown(), expected);
        QCOMPARE(w_->lstRename->currentRow(), 1);
        QVERIFY(w_->lstRename->item(1)->isSelected());
    }

    // A file the display cannot show leaves the fields as they were; the
    // proposed-name list follows all the same.
    void displayKeepsFields_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("message");
        QTest::newRow("deleted file") << "deleted.mp3" << "File not found";
        QTest::newRow("empty path") << "" << "File not found";
        QTest::newRow("no tag") << "untagged.mp3" << "Tag info error";
        QTest::newRow("unknown genre: other fields shown") << "unknown-genre.mp3" << "";
    }

    void displayKeepsFields()
    {
        QFETCH(QString, entry);
        QFETCH(QString, message);
        file("untagged.mp3");
        file("unknown-genre.mp3", {"T", "S", "A", "2000", "No Such Genre", "C"});

        setEntries({file("a.mp3", kTagA), entry.isEmpty() ? QString() : path(entry)});
        click(0);
        click(1);
        QCOMPARE(messages_, message.isEmpty() ? QStringList() : QStringList{message});
        const Six unknownGenre{"T", "S", "A", "2000", "Rock", "C"};
        QCOMPARE(shown(), message.isEmpty() ? unknownGenre : kTagA);
        QCOMPARE(w_->lstRename->currentRow(), 1);
    }

    // Only the current entry counts, selected or not; without one nothing
    // changes.
    void displayFollowsCurrentEntry_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("current");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<Six>("expected");
        QTest::newRow("current among several, itself deselected")
            << 3 << 1 << QList<int>{0, 2} << kTagA;
        QTest::newRow("entries, none current") << 3 << -1 << QList<int>{0} << kTagB;
        QTest::newRow("empty list") << 0 << -1 << QList<int>{} << kTagB;
    }

    void displayFollowsCurrentEntry()
    {
        QFETCH(int, entries);
        QFETCH(int, current);
        QFETCH(QList<int>, selected);
        QFETCH(Six, expected);
        const QStringList all{file("0.mp3", kTagB), file("1.mp3", kTagA), file("2.mp3", kTagB)};
        setEntries(all.first(entries));
        type(kTagB);
        click(current, selected);
        QCOMPARE(shown(), expected);
        QCOMPARE(w_->lstRename->currentRow(), current);
        QCOMPARE(messages_, QStringList());
    }

    // --- Update ---------------------------------------------------------

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
        const QString target = file("target.mp3", kTagB, picture);
        const QString other = file("other.mp3", kTagB);
        const QByteArray otherBytes = testdata::readAll(other);
        setEntries({other, target});
        click(1, {0}); // the other file stays selected, but is not current
        type(typed);
        w_->cmdRewrite_Click();

        QCOMPARE(messages_, QStringList());
        QCOMPARE(shown(), typed); // the fields keep what was typed
        QCOMPARE(renameList(), QStringList({"name 0", name}));
        QCOMPARE(readWithBinding(target), trimmed(typed));
        QByteArray kept;
        QCOMPARE(readWithTagLib(target, &kept), typed);
        QCOMPARE(kept, picture);
        QCOMPARE(testdata::readAll(other), otherBytes);
    }

    void updateWithoutFile_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::newRow("no entry") << "<none>";
        QTest::newRow("deleted after listing") << "deleted.mp3";
        QTest::newRow("empty path") << "";
    }

    void updateWithoutFile()
    {
        QFETCH(QString, entry);
        if (entry != "<none>") {
            setEntries({entry.isEmpty() ? QString() : path(entry)});
            click(0);
            messages_.clear();
        }
        type(kTagA);
        w_->cmdRewrite_Click();
        QCOMPARE(messages_, QStringList());
        QCOMPARE(renameList(), entry == "<none>" ? QStringList() : QStringList{"name 0"});
        QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // A file that cannot be written says so, and keeps its proposed name.
    void updateReadOnlyFile()
    {
        const QString target = file("target.mp3", kTagB);
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
        QCOMPARE(messages_, QStringList{"Tag write error"});
        QCOMPARE(renameList(), QStringList{"name 0"});
        QCOMPARE(testdata::readAll(target), before);
    }

    // --- Copy and Paste -------------------------------------------------

    void pasteBeforeCopy()
    {
        type(kTagA);
        w_->cmdPaste_Click();
        const QString year = QString::number(QDate::currentDate().year());
        QCOMPARE(shown(), Six({"", "", "", year, "Blues", ""}));
        QCOMPARE(w_->cmbGenre->currentData().toInt(), 0);
    }

    void copy_data()
    {
        QTest::addColumn<Six>("typed");
        QTest::addColumn<QString>("line");
        QTest::addColumn<Six>("pasted");
        QTest::newRow("Japanese") << kTagA << "夜明けの歌,山田太郎,朝のアルバム,1999,Rock,初回盤"
                                  << kTagA;
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
        type(typed);
        w_->cmdCopy_Click();
        QCOMPARE(QGuiApplication::clipboard()->text(), line);
        type(kTagB);
        QGuiApplication::clipboard()->setText("not read by Paste");
        w_->cmdPaste_Click();
        QCOMPARE(shown(), pasted);
    }

    // The fields of one file reach another through Copy and Paste, or
    // because "Tag info error" left them in place; Paste alone changes
    // nothing, Update writes them.
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
        const QString b = copyPaste ? file("b.mp3", kTagB) : file("b.mp3");
        setEntries({file("a.mp3", kTagA), b});
        click(0);
        if (copyPaste)
            w_->cmdCopy_Click();
        click(1);
        if (copyPaste) {
            QCOMPARE(shown(), kTagB);
            const QByteArray before = testdata::readAll(b);
            w_->cmdPaste_Click();
            QCOMPARE(testdata::readAll(b), before);
            QCOMPARE(renameList(), QStringList({"name 0", "name 1"}));
        }
        QCOMPARE(shown(), kTagA);
        w_->cmdRewrite_Click();
        QCOMPARE(readWithBinding(b), kTagA);
        QCOMPARE(renameList(), QStringList({"name 0", "山田太郎 - 夜明けの歌.mp3"}));
        QCOMPARE(messages_, messages);
    }
};

QTEST_MAIN(TestTagEdit)
#include "tst_tagedit.moc"
