// The file selection window, driven through its controls over real folders
// and files in a temporary folder and a real settings file.

#include "folders.h"
#include "frmfileselect.h"
#include "inifile_io.h"

#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <sys/stat.h>

#include <memory>

namespace {

void touch(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
}

template <typename List> QStringList texts(const List *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i) {
        if constexpr (std::is_same_v<List, QComboBox>)
            out.append(list->itemText(i));
        else
            out.append(list->item(i)->text());
    }
    return out;
}

QString key(int i) { return QStringLiteral("%1").arg(i, 2, 10, QChar(u'0')); }

QSortFilterProxyModel *tree(const frmFileSelect &w)
{
    return qobject_cast<QSortFilterProxyModel *>(w.Dir1->model());
}

QFileSystemModel *folders(const frmFileSelect &w)
{
    return qobject_cast<QFileSystemModel *>(tree(w)->sourceModel());
}

// Makes `path` the folder tree's current item, as a click on it does.
void chooseFolder(frmFileSelect &w, const QString &path)
{
    w.Dir1->setCurrentIndex(tree(w)->mapFromSource(folders(w)->index(path)));
}

QString folderOf(const frmFileSelect &w, const QModelIndex &item)
{
    return folders(w)->filePath(tree(w)->mapToSource(item));
}

} // namespace

class tst_FileSelect : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void fileListShowsMp3FilesOnly_data();
    void fileListShowsMp3FilesOnly();
    void joinPath_data();
    void joinPath();
    void addAppendsSelectedFilesInListOrder_data();
    void addAppendsSelectedFilesInListOrder();
    void historyEntryMatchesOwnFolderExactly_data();
    void historyEntryMatchesOwnFolderExactly();
    void eleventhFolderRemovesTheOldest();
    void historyReadFromSettings_data();
    void historyReadFromSettings();
    void historyAndPositionSurviveReopening();
    void shorterHistoryDoesNotBringBackOldEntries();
    void position_data();
    void position();
    void unloadsOnceWhicheverWayItCloses_data();
    void unloadsOnceWhicheverWayItCloses();
    void missingStartFolderFallsBackToProgramFolder();
    void vanishedHistoryFolderChangesNothing();
    void drives();
    void screenshot();

private:
    std::unique_ptr<frmFileSelect> open(float mainTop = 0, float mainLeft = 0)
    {
        return std::make_unique<frmFileSelect>(lst_, sMP3Folder_, ini_, mainTop, mainLeft,
                                               QIcon(), appFolder_);
    }
    QString folder(const QString &relative)
    {
        const QString path = QDir::cleanPath(tmp_->filePath(relative));
        if (!QDir().mkpath(path))
            qFatal("cannot make %s", qPrintable(path));
        return path;
    }
    QString setting(const QString &section, const QString &k)
    {
        return ini_.ReadStr(section, k, QStringLiteral("<missing>"));
    }

    std::unique_ptr<QTemporaryDir> tmp_;
    std::unique_ptr<QWidget> host_;
    QListWidget *lst_ = nullptr;
    inifile_IO ini_;
    QString sMP3Folder_;
    QString appFolder_;
};

void tst_FileSelect::init()
{
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    host_ = std::make_unique<QWidget>();
    lst_ = new QListWidget(host_.get());
    appFolder_ = folder(QStringLiteral("program"));
    ini_.setFileName(appFolder_ + QStringLiteral("/dorvasu.ini"));
    sMP3Folder_.clear();
}

void tst_FileSelect::cleanup()
{
    host_.reset();
    tmp_.reset();
}

void tst_FileSelect::fileListShowsMp3FilesOnly_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("listed");
    QTest::newRow("upper-case extension") << "file" << "A.MP3" << true;
    QTest::newRow("link to a file") << "filelink" << "l.mp3" << true;
    QTest::newRow("hidden file") << "file" << ".hidden.mp3" << false;
    QTest::newRow("other extension") << "file" << "x.mp3.txt" << false;
    QTest::newRow("folder") << "dir" << "x.mp3" << false;
    QTest::newRow("FIFO") << "fifo" << "f.mp3" << false;
    QTest::newRow("broken link") << "brokenlink" << "gone.mp3" << false;
}

void tst_FileSelect::fileListShowsMp3FilesOnly()
{
    QFETCH(QString, kind);
    QFETCH(QString, name);
    QFETCH(bool, listed);
    const QString music = folder("music");
    touch(music + "/b.mp3");
    const QString path = music + u'/' + name;
    if (kind == u"file")
        touch(path);
    else if (kind == u"dir")
        QVERIFY(QDir().mkdir(path));
    else if (kind == u"fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    else
        QVERIFY(QFile::link(kind == u"filelink" ? music + "/b.mp3" : music + "/none", path));

    sMP3Folder_ = music;
    auto w = open();
    QStringList expected{"b.mp3"};
    if (listed)
        expected.append(name);
    expected.sort(Qt::CaseInsensitive);
    QCOMPARE(texts(w->File1), expected);
}

void tst_FileSelect::joinPath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("path");
    QTest::newRow("root") << "/" << "/a.mp3";
    QTest::newRow("folder") << "/music" << "/music/a.mp3";
}

void tst_FileSelect::joinPath()
{
    QFETCH(QString, folder);
    QFETCH(QString, path);
    QCOMPARE(fileselect::joinPath(folder, "a.mp3"), path);
}

void tst_FileSelect::addAppendsSelectedFilesInListOrder_data()
{
    // One text per press of 追加: the rows selected for it.
    QTest::addColumn<QStringList>("presses");
    QTest::addColumn<QStringList>("appended");
    QTest::newRow("nothing selected") << QStringList{""} << QStringList{};
    QTest::newRow("picked backwards") << QStringList{"2,0"} << QStringList{"a.mp3", "c.mp3"};
    QTest::newRow("same file twice") << QStringList{"1", "1"} << QStringList{"b.mp3", "b.mp3"};
}

void tst_FileSelect::addAppendsSelectedFilesInListOrder()
{
    QFETCH(QStringList, presses);
    QFETCH(QStringList, appended);
    const QString music = folder("music");
    for (const char *name : {"a.mp3", "b.mp3", "c.mp3"})
        touch(music + u'/' + QLatin1String(name));
    lst_->addItem("/already/there.mp3");
    sMP3Folder_ = folder("other");
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
    QCOMPARE(sMP3Folder_, music); // recorded even when nothing was added
    QCOMPARE(texts(w->cmbDirList), QStringList{music});
    QCOMPARE(w->cmbDirList->currentIndex(), 0);
}

void tst_FileSelect::historyEntryMatchesOwnFolderExactly_data()
{
    QTest::addColumn<QStringList>("folders"); // 追加 pressed in each, in order
    QTest::addColumn<int>("entries");
    QTest::newRow("brackets") << QStringList{"[2005] Best", "[2005] Best"} << 1;
    QTest::newRow("wildcards") << QStringList{"a*b?#1[x", "a*b?#1[x"} << 1;
    QTest::newRow("a pattern matches no other folder") << QStringList{"a?c", "abc", "a?c"} << 2;
    QTest::newRow("letter case counts") << QStringList{"Music", "music"} << 2;
}

void tst_FileSelect::historyEntryMatchesOwnFolderExactly()
{
    QFETCH(QStringList, folders);
    QFETCH(int, entries);
    sMP3Folder_ = folder("start");
    auto w = open();
    for (const QString &name : folders) {
        chooseFolder(*w, folder("f/" + name));
        QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
    }
    QCOMPARE(w->cmbDirList->count(), entries);
}

void tst_FileSelect::eleventhFolderRemovesTheOldest()
{
    QStringList paths;
    for (int i = 0; i < 11; ++i)
        paths.append(folder(QStringLiteral("f%1").arg(i)));
    sMP3Folder_ = paths.first();
    auto w = open();
    for (const QString &path : paths) {
        chooseFolder(*w, path);
        QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
    }
    QCOMPARE(texts(w->cmbDirList), paths.mid(1));
    QCOMPARE(w->cmbDirList->currentText(), paths.last());
    w->reject();
    for (int i = 0; i < 10; ++i)
        QCOMPARE(setting("DirList", key(i)), paths.at(i + 1));
}

void tst_FileSelect::historyReadFromSettings_data()
{
    // Stored entries name folders under the test folder; "-" marks one that
    // has been deleted, "/" at the end is kept in the stored text.
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<int>("selected");
    QTest::newRow("01 deleted, 03 current")
        << QStringList{"a", "-b", "c", "d", "e"} << "d" << QStringList{"a", "c", "d", "e"} << 2;
    QTest::newRow("current not listed") << QStringList{"a", "c"} << "e" << QStringList{"a", "c"} << -1;
    QTest::newRow("current twice: the last")
        << QStringList{"d", "a", "d"} << "d" << QStringList{"d", "a", "d"} << 2;
    QTest::newRow("trailing slash") << QStringList{"a", "d/"} << "d" << QStringList{"a", "d"} << 1;
    QTest::newRow("brackets") << QStringList{"[1] x", "a"} << "[1] x" << QStringList{"[1] x", "a"} << 0;
}

void tst_FileSelect::historyReadFromSettings()
{
    QFETCH(QStringList, stored);
    QFETCH(QString, current);
    QFETCH(QStringList, shown);
    QFETCH(int, selected);
    for (int i = 0; i < stored.size(); ++i) {
        const bool deleted = stored.at(i).startsWith(u'-');
        const QString name = stored.at(i).mid(deleted ? 1 : 0);
        const QString path = folder(name) + (name.endsWith(u'/') ? "/" : "");
        if (deleted)
            QVERIFY(QDir(path).removeRecursively());
        ini_.WriteStr("DirList", key(i), path);
    }
    ini_.WriteStr("DirList", key(stored.size() + 1), folder("after-the-gap"));
    sMP3Folder_ = folder(current);

    auto w = open();
    QStringList expected;
    for (const QString &name : shown)
        expected.append(QDir::cleanPath(tmp_->filePath(name)));
    QCOMPARE(texts(w->cmbDirList), expected);
    QCOMPARE(w->cmbDirList->currentIndex(), selected);
    QCOMPARE(w->dirPath(), sMP3Folder_);
}

void tst_FileSelect::historyAndPositionSurviveReopening()
{
    const QString a = folder("a");
    const QString b = folder("b");
    touch(b + "/song.mp3");
    sMP3Folder_ = a;
    {
        auto w = open();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->move(120, 90);
        QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
        chooseFolder(*w, b);
        QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
        QTest::mouseClick(w->cmdCancel, Qt::LeftButton);
    }
    QCOMPARE(setting("Position", "FileLeft"), "1800");
    QCOMPARE(setting("Position", "FileTop"), "1350");

    auto w = open(4500, 4500);
    QCOMPARE(w->pos(), QPoint(120, 90));
    QCOMPARE(texts(w->cmbDirList), QStringList({a, b}));
    QCOMPARE(w->cmbDirList->currentIndex(), 1);
    QCOMPARE(folderOf(*w, w->Dir1->currentIndex()), b);
    QCOMPARE(texts(w->File1), QStringList{"song.mp3"});

    // Choosing the other entry goes there and makes it the MP3 folder.
    w->cmbDirList->setFocus();
    QTest::keyClick(w->cmbDirList, Qt::Key_Up);
    QCOMPARE(w->dirPath(), a);
    QCOMPARE(sMP3Folder_, a);
    QCOMPARE(folderOf(*w, w->Dir1->currentIndex()), a);
}

void tst_FileSelect::shorterHistoryDoesNotBringBackOldEntries()
{
    QStringList paths;
    for (const char *name : {"a", "b", "c", "d"}) {
        paths.append(folder(QLatin1String(name)));
        ini_.WriteStr("DirList", key(paths.size() - 1), paths.last());
    }
    QVERIFY(QDir(paths.at(1)).removeRecursively());
    sMP3Folder_ = paths.at(0);
    open().reset(); // shows and writes back three entries
    auto w = open();
    QCOMPARE(texts(w->cmbDirList), QStringList({paths.at(0), paths.at(2), paths.at(3)}));
}

void tst_FileSelect::position_data()
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

void tst_FileSelect::position()
{
    QFETCH(QString, top);
    QFETCH(QString, left);
    QFETCH(QPoint, pixels);
    if (!top.isEmpty())
        ini_.WriteStr("Position", "FileTop", top);
    if (!left.isEmpty())
        ini_.WriteStr("Position", "FileLeft", left);
    sMP3Folder_ = folder("a");
    auto w = open(2900, 1400); // main window's top and left, twips
    if (pixels.x() >= 0)
        QCOMPARE(w->pos(), pixels);
    else
        QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(w->geometry()));
}

void tst_FileSelect::unloadsOnceWhicheverWayItCloses_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("閉じる") << 0;
    QTest::newRow("Esc") << 1;
    QTest::newRow("close box") << 2;
}

void tst_FileSelect::unloadsOnceWhicheverWayItCloses()
{
    QFETCH(int, how);
    sMP3Folder_ = folder("a");
    auto w = open();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->move(30, 45);
    QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
    if (how == 0)
        QTest::mouseClick(w->cmdCancel, Qt::LeftButton);
    else if (how == 1)
        QTest::keyClick(w->File1, Qt::Key_Escape);
    else
        w->close();
    QVERIFY(!w->isVisible());
    QCOMPARE(setting("Position", "FileTop"), "675");
    QCOMPARE(setting("DirList", "00"), sMP3Folder_);
    ini_.WriteStr("DirList", "00", "/marker");
    w.reset(); // nothing more is written
    QCOMPARE(setting("DirList", "00"), "/marker");
}

void tst_FileSelect::missingStartFolderFallsBackToProgramFolder()
{
    touch(appFolder_ + "/here.mp3");
    touch(tmp_->filePath("file"));
    for (const QString &start : {QString(), QStringLiteral("/no/such/folder"), tmp_->filePath("file")}) {
        sMP3Folder_ = start;
        auto w = open();
        QCOMPARE(sMP3Folder_, appFolder_);
        QCOMPARE(texts(w->File1), QStringList{"here.mp3"});
        QCOMPARE(folderOf(*w, w->Dir1->currentIndex()), appFolder_);
    }
}

void tst_FileSelect::vanishedHistoryFolderChangesNothing()
{
    const QString a = folder("a");
    const QString b = folder("b");
    touch(a + "/a.mp3");
    ini_.WriteStr("DirList", "00", a);
    ini_.WriteStr("DirList", "01", b);
    sMP3Folder_ = a;
    auto w = open();
    QVERIFY(QDir(b).removeRecursively());
    w->cmbDirList->setFocus();
    QTest::keyClick(w->cmbDirList, Qt::Key_Down); // picks "b"
    QCOMPARE(sMP3Folder_, a);
    QCOMPARE(texts(w->File1), QStringList{"a.mp3"});
    QCOMPARE(w->cmbDirList->currentIndex(), 0);

    QVERIFY(QDir(a).removeRecursively()); // the folder on view as well
    QTest::keyClick(w->cmbDirList, Qt::Key_Down);
    QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
    QCOMPARE(lst_->count(), 0);
}

void tst_FileSelect::drives()
{
    const QString a = folder("a");
    const QString stick = folder("media/stick");
    folder("media/beside-the-stick");
    touch(stick + "/on-stick.mp3");
    sMP3Folder_ = a;
    auto w = open();
    const int first = w->Drive1->currentIndex();
    QCOMPARE(w->Drive1->currentData().toString(), fileselect::driveOf(a));

    // A volume unplugged after the list was filled: back, silently.
    w->Drive1->addItem("/gone", tmp_->filePath("unplugged"));
    w->Drive1->setCurrentIndex(w->Drive1->count() - 1);
    QCOMPARE(w->Drive1->currentIndex(), first);
    QCOMPARE(w->dirPath(), a);

    // A volume mounted at `stick`: its root is the tree's one top item.
    w->Drive1->addItem(stick, stick);
    w->Drive1->setCurrentIndex(w->Drive1->count() - 1);
    QCOMPARE(texts(w->File1), QStringList{"on-stick.mp3"});
    QCOMPARE(w->Dir1->model()->rowCount(w->Dir1->rootIndex()), 1);
    QCOMPARE(folderOf(*w, w->Dir1->currentIndex()), stick);

    // Back on the first drive: its working folder, the MP3 folder.
    w->Drive1->setCurrentIndex(first);
    QCOMPARE(folderOf(*w, w->Dir1->currentIndex()), a);
}

// Not a check: with DORVASU_SCREENSHOTS naming a folder, saves a picture of
// the window there for people to look at.
void tst_FileSelect::screenshot()
{
    const QString shots = qEnvironmentVariable("DORVASU_SCREENSHOTS");
    if (shots.isEmpty())
        QSKIP("DORVASU_SCREENSHOTS not set");
    // A volume of its own, so that the picture shows nothing of the machine.
    const QString stick = folder("media/usb");
    const QString best = folder("media/usb/ミュージック/Artist/[2005] Best");
    for (const char *name : {"ミュージック/Artist/Live", "ミュージック/その他", "Podcasts"})
        folder("media/usb/" + QString::fromUtf8(name));
    for (const char *name : {"01 - 春の歌.mp3", "02 - Summer Breeze.mp3", "03 - 秋桜.MP3",
                             "04 - Winter.mp3", "05 - 夜明け前.mp3"})
        touch(best + u'/' + QString::fromUtf8(name));
    ini_.WriteStr("DirList", "00", stick + QStringLiteral("/ミュージック/その他"));
    ini_.WriteStr("DirList", "01", best);
    sMP3Folder_ = best;
    auto w = open();
    w->Drive1->addItem("/media/usb [MUSIC]", stick);
    w->Drive1->setCurrentIndex(w->Drive1->count() - 1);
    chooseFolder(*w, best);
    w->move(0, 0);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->File1->item(1)->setSelected(true);
    w->File1->item(3)->setSelected(true);
    w->File1->setFocus();
    QTest::qWait(500); // the folder tree fills in the background
    QVERIFY(w->grab().save(shots + "/file-select.png"));
}

QTEST_MAIN(tst_FileSelect)
#include "tst_fileselect.moc"
