// The file selection window, driven through its controls over real folders
// and files in a temporary folder and a real settings file.

#include "folders.h"
#include "foldertreemodel.h"
#include "frmfileselect.h"
#include "paths.h"
#include "inifile_io.h"
#include "mp3tree.h"
#include "testdata.h"

#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace {

void touch(const QString &path) { testdata::writeAll(path, {}); }

// The texts of a combo box's or list's entries.
template <typename List>
QStringList texts(const List *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out.append(list->model()->index(i, 0).data().toString());
    return out;
}

// Makes `path` the folder tree's current item, as a click on it does.
void chooseFolder(frmFileSelect &w, const QString &path) { w.Dir1->setCurrentIndex(w.folderTree()->reveal(QFile::encodeName(path))); }

QString currentFolder(const frmFileSelect &w) { return QString::fromUtf8(w.folderTree()->folderPath(w.Dir1->currentIndex())); }

} // namespace

class tst_FileSelect : public QObject {
    Q_OBJECT

private slots:
    // A dropped tree: subfolders walked, hidden folders and files skipped,
    // links to folders followed once, a link loop ended, names of any bytes
    // kept; files named directly taken as they are; sorted, no duplicates.
    void mp3Tree()
    {
        QTemporaryDir dir;
        const QByteArray root = QFile::encodeName(dir.path()) + '/';
        for (const QByteArray p : {"top/", "top/a.mp3", "top/B.MP3", "top/.hidden.mp3", "top/notes.txt", "top/sub/",
                                   "top/sub/c\x83\x5c.mp3", "top/.cache/", "top/.cache/d.mp3", "other/", "other/e.mp3",
                                   "single.mp3"})
            QVERIFY(p.endsWith('/') ? ::mkdir(root + p, 0755) == 0 : ::close(::creat(root + p, 0644)) == 0);
        QVERIFY(::mkfifo(root + "top/fifo.mp3", 0644) == 0);
        QVERIFY(::symlink("../other", root + "top/link") == 0);   // reached twice
        QVERIFY(::symlink("..", root + "top/sub/loop") == 0);     // back to top
        QVERIFY(::symlink("nowhere", root + "top/broken.mp3") == 0);
        fileselect::WalkProgress progress;
        const QList<QByteArray> found = fileselect::mp3FilesUnder(
            {root + "top", root + "other", root + "single.mp3", root + "top/a.mp3"}, &progress);
        QCOMPARE(found, QList<QByteArray>({root + "other/e.mp3", root + "single.mp3", root + "top/B.MP3",
                                           root + "top/a.mp3", root + "top/sub/c\x83\x5c.mp3"}));
        QCOMPARE(progress.folders.load(), 3);   // top, sub, other: each once
        progress.cancel = true;
        QCOMPARE(fileselect::mp3FilesUnder({root + "top"}, &progress), QList<QByteArray>());
        ::unlink(root + "top/sub/c\x83\x5c.mp3");
    }

    // The drive list reads the kernel's mount table by its bytes: a mount
    // point with a blank or a CP932 name keeps it.
    void mountTable()
    {
        const QList<fileselect::Mount> mounts = fileselect::parseMountInfo(
            "36 25 8:17 / /media/\\211\\271\\040x rw,relatime shared:9 - vfat /dev/sdb1 rw\n"
            "22 1 0:21 / /proc rw,nosuid - proc proc rw\nnot a mount line\n");
        QCOMPARE(mounts.size(), 2);
        QCOMPARE(mounts[0].root, QByteArray("/media/\x89\xB9 x"));
        QCOMPARE(mounts[0].type, QByteArray("vfat"));
        QCOMPARE(mounts[0].source, QByteArray("/dev/sdb1"));
        QCOMPARE(mounts[1].root, QByteArray("/proc"));
    }

    void init()
    {
        tmp_ = std::make_unique<QTemporaryDir>();
        host_ = std::make_unique<QWidget>();
        lst_ = new QListWidget(host_.get());
        appFolder_ = folder("program");
        ini_.setFileName(appFolder_ + "/dorvasu.ini");
        sMP3Folder_.clear();
    }

    void cleanup()
    {
        host_.reset();
        tmp_.reset();
    }

    void fileListShowsMp3FilesOnly()
    {
        const QString music = folder("music");
        for (const char *name : {"b.mp3", "A.MP3", ".hidden.mp3", "x.mp3.txt"})
            touch(music + u'/' + QLatin1String(name));
        QVERIFY(QDir().mkdir(music + "/x.mp3"));
        QCOMPARE(::mkfifo(QFile::encodeName(music + "/f.mp3").constData(), 0644), 0);
        QVERIFY(QFile::link(music + "/b.mp3", music + "/l.mp3"));
        QVERIFY(QFile::link(music + "/none", music + "/gone.mp3"));
        sMP3Folder_ = QFile::encodeName(music);
        QCOMPARE(texts(open()->File1), QStringList({"A.MP3", "b.mp3", "l.mp3"}));
    }

    void addAppendsSelectedFilesInListOrder_data()
    {
        QTest::addColumn<QStringList>("presses");   // one text per press of 追加: the rows selected for it
        QTest::addColumn<QStringList>("appended");
        QTest::newRow("nothing selected") << QStringList{""} << QStringList{};
        QTest::newRow("picked backwards") << QStringList{"2,0"} << QStringList{"a.mp3", "c.mp3"};
        QTest::newRow("same file twice") << QStringList{"1", "1"} << QStringList{"b.mp3", "b.mp3"};
    }

    void addAppendsSelectedFilesInListOrder()
    {
        QFETCH(QStringList, presses);
        QFETCH(QStringList, appended);
        const QString music = folder("music");
        for (const char *name : {"a.mp3", "b.mp3", "c.mp3"})
            touch(music + u'/' + QLatin1String(name));
        lst_->addItem("/already/there.mp3");
        sMP3Folder_ = QFile::encodeName(folder("other"));
        auto w = open();
        chooseFolder(*w, music);
        for (const QString &press : presses) {
            w->File1->clearSelection();
            for (const QString &row : press.split(u',', Qt::SkipEmptyParts))
                w->File1->item(row.toInt())->setSelected(true);
            QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
        }
        QStringList expected{"/already/there.mp3"};
        for (const QString &name : appended)
            expected.append(music + u'/' + name);
        QCOMPARE(texts(lst_), expected);
        QVERIFY(!lst_->isHidden() && lst_->isEnabled());
        QCOMPARE(sMP3Folder_, QFile::encodeName(music)); // recorded even when nothing was added
    }

    // The history read from the settings file (entries name folders under
    // the test folder, "-" one since deleted; a trailing "/" is kept in the
    // stored text), then 追加 pressed in each of `adds`; shown, then the
    // window moved and closed by `close`, saved once and read back as it was.
    void history_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QStringList>("adds");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("close");
        using L = QStringList;
        L eleven;
        for (int i = 0; i < 11; ++i)
            eleven.append(QStringLiteral("f%1").arg(i));
        QTest::newRow("brackets") << L{} << "start" << L{"[2005] Best", "[2005] Best"} << L{"[2005] Best"} << 0 << "閉じる";
        QTest::newRow("a pattern matches no other folder") << L{} << "start" << L{"a?c", "abc", "a?c"} << L{"a?c", "abc"} << 1
                                                           << "Esc";
        QTest::newRow("letter case counts") << L{} << "start" << L{"Music", "music"} << L{"Music", "music"} << 1 << "close box";
        QTest::newRow("eleventh removes the first") << L{} << "start" << eleven << eleven.mid(1) << 9 << "閉じる";
        QTest::newRow("01 deleted, 03 current") << L{"a", "-b", "c", "d", "e"} << "d" << L{} << L{"a", "c", "d", "e"} << 2
                                                << "Esc";
        QTest::newRow("current not listed") << L{"a", "c"} << "e" << L{} << L{"a", "c"} << -1 << "close box";
        QTest::newRow("current twice: the last") << L{"d", "a", "d"} << "d" << L{} << L{"d", "a", "d"} << 2 << "閉じる";
        QTest::newRow("trailing slash") << L{"a", "d/"} << "d" << L{} << L{"a", "d"} << 1 << "Esc";
    }

    void history()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, current);
        QFETCH(QStringList, adds);
        QFETCH(QStringList, shown);
        QFETCH(int, selected);
        QFETCH(QString, close);
        for (int i = 0; i < stored.size(); ++i) {
            const QString name = stored[i].mid(stored[i].startsWith(u'-') ? 1 : 0);
            const QString path = folder(name) + (name.endsWith(u'/') ? "/" : "");
            QVERIFY(!stored[i].startsWith(u'-') || QDir(path).removeRecursively());
            ini_.WriteStr("DirList", QString::asprintf("%02d", i), path);
        }
        ini_.WriteStr("DirList", QString::asprintf("%02d", int(stored.size()) + 1), folder("after-the-gap"));
        sMP3Folder_ = QFile::encodeName(folder(current));
        auto w = open();
        QCOMPARE(w->dirPath(), sMP3Folder_);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->move(120, 90);
        for (const QString &name : adds) {
            chooseFolder(*w, folder(name));
            QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
        }
        QCOMPARE(texts(w->cmbDirList), paths(shown));
        QCOMPARE(w->cmbDirList->currentIndex(), selected);
        if (close == u"閉じる")
            QTest::mouseClick(w->cmdCancel, Qt::LeftButton);
        else if (close == u"Esc")
            QTest::keyClick(w->File1, Qt::Key_Escape);
        else
            w->close();
        QVERIFY(!w->isVisible());
        const QString next = QString::asprintf("%02d", int(shown.size()));
        QCOMPARE(ini_.ReadStr("DirList", next, "-"), "-");   // a stale key after the last is emptied
        ini_.WriteStr("DirList", next, "/marker");
        w.reset();   // saved once, on closing: nothing more is written
        QCOMPARE(ini_.ReadStr("DirList", next, ""), "/marker");
        ini_.WriteStr("DirList", next, "");
        w = open(4500, 4500);
        QCOMPARE(w->pos(), QPoint(120, 90));
        QCOMPARE(texts(w->cmbDirList), paths(shown));
    }

    // Choosing a history entry goes to its folder and makes it the MP3
    // folder; a folder deleted meanwhile changes nothing, and 追加 in a
    // folder deleted while on view adds nothing.
    void historyEntryChosen()
    {
        const QString a = folder("a"), b = folder("b"), c = folder("c");
        touch(a + "/a.mp3");
        touch(b + "/b.mp3");
        for (const QString &path : {a, b, c})
            ini_.WriteStr("DirList", QStringLiteral("0%1").arg(path.back().unicode() - 'a'), path);
        sMP3Folder_ = QFile::encodeName(a);
        auto w = open();
        w->cmbDirList->setFocus();
        QTest::keyClick(w->cmbDirList, Qt::Key_Down);
        QCOMPARE(sMP3Folder_, QFile::encodeName(b));
        QCOMPARE(currentFolder(*w), b);
        QCOMPARE(texts(w->File1), QStringList{"b.mp3"});
        QVERIFY(QDir(c).removeRecursively());
        QTest::keyClick(w->cmbDirList, Qt::Key_Down);
        QCOMPARE(sMP3Folder_, QFile::encodeName(b));
        QCOMPARE(texts(w->File1), QStringList{"b.mp3"});
        QCOMPARE(w->cmbDirList->currentIndex(), 1);
        QVERIFY(QDir(b).removeRecursively());
        QTest::keyClick(w->cmbDirList, Qt::Key_Down);
        QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
        QCOMPARE(lst_->count(), 0);
    }

    void position_data()
    {
        QTest::addColumn<QString>("top"); // "" = not stored
        QTest::addColumn<QString>("left");
        QTest::addColumn<QPoint>("pixels"); // (-1, -1): anywhere on the primary screen
        QTest::newRow("default beside the main window") << "" << "" << QPoint(100, 200);
        QTest::newRow("stored, with a fraction") << "1522.5" << " 750 " << QPoint(50, 102);
        QTest::newRow("not numbers: default") << "abc" << "nan" << QPoint(100, 200);
        QTest::newRow("far right and below") << "900000" << "900000" << QPoint(-1, -1);
        QTest::newRow("far left and above") << "-900000" << "-1e38" << QPoint(-1, -1);
    }

    void position()
    {
        QFETCH(QString, top);
        QFETCH(QString, left);
        QFETCH(QPoint, pixels);
        if (!top.isEmpty()) {
            ini_.WriteStr("Position", "FileTop", top);
            ini_.WriteStr("Position", "FileLeft", left);
        }
        sMP3Folder_ = QFile::encodeName(folder("a"));
        auto w = open(2900, 1400); // main window's top and left, twips
        if (pixels.x() >= 0)
            QCOMPARE(w->pos(), pixels);
        else
            QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(w->geometry()));
    }

    void missingStartFolderFallsBackToProgramFolder()
    {
        touch(appFolder_ + "/here.mp3");
        touch(tmp_->filePath("file"));
        for (const QString &start : {QString(), QStringLiteral("/no/such/folder"), tmp_->filePath("file")}) {
            sMP3Folder_ = QFile::encodeName(start);
            auto w = open();
            QCOMPARE(sMP3Folder_, QFile::encodeName(appFolder_));
            QCOMPARE(texts(w->File1), QStringList{"here.mp3"});
            QCOMPARE(currentFolder(*w), appFolder_);
        }
    }

    void drives()
    {
        const QString a = folder("a"), stick = folder("media/stick");
        folder("media/beside-the-stick");
        touch(stick + "/on-stick.mp3");
        sMP3Folder_ = QFile::encodeName(a);
        auto w = open();
        const int first = w->Drive1->currentIndex();
        // A volume unplugged after the list was filled: back, silently.
        w->Drive1->addItem("/gone", tmp_->filePath("unplugged"));
        w->Drive1->setCurrentIndex(w->Drive1->count() - 1);
        QCOMPARE(w->Drive1->currentIndex(), first);
        QCOMPARE(w->dirPath(), QFile::encodeName(a));
        // A volume mounted at `stick`: its root is the tree's one top item.
        w->Drive1->addItem(stick, stick);
        w->Drive1->setCurrentIndex(w->Drive1->count() - 1);
        QCOMPARE(texts(w->File1), QStringList{"on-stick.mp3"});
        QCOMPARE(w->Dir1->model()->rowCount(w->Dir1->rootIndex()), 1);
        // Back on the first drive: its working folder, the MP3 folder.
        w->Drive1->setCurrentIndex(first);
        QCOMPARE(currentFolder(*w), a);
    }

private:
    std::unique_ptr<frmFileSelect> open(float mainTop = 0, float mainLeft = 0)
    {
        return std::make_unique<frmFileSelect>(lst_, sMP3Folder_, ini_, mainTop, mainLeft, QIcon(), appFolder_);
    }
    QString folder(const QString &relative)
    {
        const QString path = QDir::cleanPath(tmp_->filePath(relative));
        if (!QDir().mkpath(path))
            qFatal("cannot make %s", qPrintable(path));
        return path;
    }
    QStringList paths(const QStringList &relative)
    {
        QStringList out;
        for (const QString &name : relative)
            out.append(QDir::cleanPath(tmp_->filePath(name)));
        return out;
    }

    std::unique_ptr<QTemporaryDir> tmp_;
    std::unique_ptr<QWidget> host_;
    QListWidget *lst_ = nullptr;
    inifile_IO ini_;
    QByteArray sMP3Folder_;
    QString appFolder_;
};

QTEST_MAIN(tst_FileSelect)
#include "tst_fileselect.moc"
