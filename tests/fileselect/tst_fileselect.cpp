// The file selection window, driven through its controls over real folders
// and files in a temporary folder and a real settings file.

#include "caserows.h"
#include "folders.h"
#include "foldertreemodel.h"
#include "frmfileselect.h"
#include "paths.h"
#include "inifile_io.h"
#include "mp3tree.h"

#include <QtWidgets>

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

QStringList items(const QString &field) { return field == u"-" ? QStringList() : field.split(", ", Qt::SkipEmptyParts); }

void addRows(const char *section) { addCaseRows("fileselect.txt", section); }

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
    }

    void cleanup()
    {
        host_.reset();
        tmp_.reset();
    }

    void addAppendsSelectedFilesInListOrder_data() { addRows("adds"); }

    void addAppendsSelectedFilesInListOrder()
    {
        QFETCH(QStringList, row);
        const QString music = folder("music");
        for (const char *name : {"a.mp3", "b.mp3", "c.mp3"})
            touch(music + u'/' + QLatin1String(name));
        lst_->addItem("/already/there.mp3");
        auto w = open(folder("other"));
        chooseFolder(*w, music);
        for (const QString &press : row[1].split(u'/')) {
            w->File1->clearSelection();
            for (const QString &selected : items(press))
                w->File1->item(selected.toInt())->setSelected(true);
            QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
        }
        QStringList expected{"/already/there.mp3"};
        for (const QString &name : items(row[2]))
            expected.append(music + u'/' + name);
        QCOMPARE(texts(lst_), expected);
        QVERIFY(!lst_->isHidden() && lst_->isEnabled());
        QCOMPARE(sMP3Folder_, QFile::encodeName(music)); // recorded even when nothing was added
    }

    // The history read from the settings file, then 追加 pressed in some
    // folders; shown, then the window moved and closed, saved once and read
    // back as it was.
    void history_data() { addRows("history"); }

    void history()
    {
        QFETCH(QStringList, row);
        const QStringList stored = items(row[1]), shown = items(row[4]);
        for (int i = 0; i < stored.size(); ++i) {
            const QString name = stored[i].mid(stored[i].startsWith(u'-') ? 1 : 0);
            const QString path = folder(name) + (name.endsWith(u'/') ? "/" : "");
            QVERIFY(!stored[i].startsWith(u'-') || QDir(path).removeRecursively());
            ini_.WriteStr("DirList", QString::asprintf("%02d", i), path);
        }
        ini_.WriteStr("DirList", QString::asprintf("%02d", int(stored.size()) + 1), folder("after-the-gap"));
        auto w = open(folder(row[2]));
        QCOMPARE(w->dirPath(), sMP3Folder_);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->move(120, 90);
        for (const QString &name : items(row[3])) {
            chooseFolder(*w, folder(name));
            QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
        }
        QCOMPARE(relative(texts(w->cmbDirList)), shown);
        QCOMPARE(w->cmbDirList->currentIndex(), row[5].toInt());
        if (row[6] == u"閉じる")
            QTest::mouseClick(w->cmdCancel, Qt::LeftButton);
        else if (row[6] == u"Esc")
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
        w = open(QFile::decodeName(sMP3Folder_), 4500, 4500);
        QCOMPARE(w->pos(), QPoint(120, 90));
        QCOMPARE(relative(texts(w->cmbDirList)), shown);
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
        auto w = open(a);
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

    void position_data() { addRows("position"); }

    void position()
    {
        QFETCH(QStringList, row);
        if (row[1] != u"-") {
            ini_.WriteStr("Position", "FileTop", row[1]);
            ini_.WriteStr("Position", "FileLeft", row[2]);
        }
        auto w = open(folder("a"), 2900, 1400); // main window's top and left, twips
        if (row[3] != u"screen")
            QCOMPARE(w->pos(), QPoint(items(row[3])[0].toInt(), items(row[3])[1].toInt()));
        else
            QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(w->geometry()));
    }

    // A start folder that is missing or no folder: the program folder, its
    // MP3 files listed and nothing else.
    void missingStartFolderFallsBackToProgramFolder()
    {
        const QString music = appFolder_ + u'/';
        for (const char *name : {"b.mp3", "A.MP3", ".hidden.mp3", "x.mp3.txt"})
            touch(music + QLatin1String(name));
        QVERIFY(QDir().mkdir(music + "x.mp3"));
        QCOMPARE(::mkfifo(QFile::encodeName(music + "f.mp3").constData(), 0644), 0);
        QVERIFY(QFile::link(music + "b.mp3", music + "l.mp3") && QFile::link(music + "none", music + "gone.mp3"));
        touch(tmp_->filePath("file"));
        for (const QString &start : {QString(), QStringLiteral("/no/such/folder"), tmp_->filePath("file")}) {
            auto w = open(start);
            QCOMPARE(sMP3Folder_, QFile::encodeName(appFolder_));
            QCOMPARE(texts(w->File1), QStringList({"A.MP3", "b.mp3", "l.mp3"}));
            QCOMPARE(currentFolder(*w), appFolder_);
        }
    }

    void drives()
    {
        const QString a = folder("a"), stick = folder("media/stick");
        folder("media/beside-the-stick");
        touch(stick + "/on-stick.mp3");
        auto w = open(a);
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
    // The window over `mp3Folder`, as the main window at `mainTop`, `mainLeft` (twips) opens it.
    std::unique_ptr<frmFileSelect> open(const QString &mp3Folder, float mainTop = 0, float mainLeft = 0)
    {
        sMP3Folder_ = QFile::encodeName(mp3Folder);
        return std::make_unique<frmFileSelect>(lst_, sMP3Folder_, ini_, mainTop, mainLeft, QIcon(), appFolder_);
    }
    QString folder(const QString &relative)
    {
        const QString path = QDir::cleanPath(tmp_->filePath(relative));
        if (!QDir().mkpath(path))
            qFatal("cannot make %s", qPrintable(path));
        return path;
    }
    // Paths under the test folder, relative to it.
    QStringList relative(QStringList paths) { return paths.replaceInStrings(tmp_->path() + u'/', ""); }

    std::unique_ptr<QTemporaryDir> tmp_;
    std::unique_ptr<QWidget> host_;
    QListWidget *lst_ = nullptr;
    inifile_IO ini_;
    QByteArray sMP3Folder_;
    QString appFolder_;
};

QTEST_MAIN(tst_FileSelect)
#include "tst_fileselect.moc"
