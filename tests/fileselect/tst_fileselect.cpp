// The file selection window, driven through its controls over real folders
// and files in a temporary folder and a real settings file.

#include "folders.h"
#include "frmfileselect.h"
#include "inifile_io.h"
#include "twips.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
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
#include <unistd.h>

#include <memory>

namespace {

void touch(const QString &path, const QByteArray &bytes = "x")
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QStringList texts(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out.append(list->item(i)->text());
    return out;
}

QStringList texts(const QComboBox *combo)
{
    QStringList out;
    for (int i = 0; i < combo->count(); ++i)
        out.append(combo->itemText(i));
    return out;
}

QFileSystemModel *folderModel(const frmFileSelect &w)
{
    auto *proxy = qobject_cast<QSortFilterProxyModel *>(w.Dir1->model());
    return proxy ? qobject_cast<QFileSystemModel *>(proxy->sourceModel()) : nullptr;
}

// The Dir1 item of `path`, as the user would click it.
QModelIndex folderItem(const frmFileSelect &w, const QString &path)
{
    auto *proxy = qobject_cast<QSortFilterProxyModel *>(w.Dir1->model());
    return proxy->mapFromSource(folderModel(w)->index(path));
}

QString folderOfItem(const frmFileSelect &w, const QModelIndex &item)
{
    auto *proxy = qobject_cast<QSortFilterProxyModel *>(w.Dir1->model());
    return folderModel(w)->filePath(proxy->mapToSource(item));
}

// Selects the File1 entries named in `names` (others are deselected).
void selectFiles(frmFileSelect &w, const QStringList &names)
{
    w.File1->clearSelection();
    for (const QString &name : names) {
        const QList<QListWidgetItem *> found = w.File1->findItems(name, Qt::MatchExactly);
        if (found.size() != 1)
            qFatal("no single entry %s in File1", qPrintable(name));
        found.first()->setSelected(true);
    }
}

} // namespace

class tst_FileSelect : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fileListShowsMp3FilesOnly_data();
    void fileListShowsMp3FilesOnly();
    void fileListSortedByNameIgnoringCase();
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
    void missingStartFolderFallsBackToProgramFolder_data();
    void missingStartFolderFallsBackToProgramFolder();
    void choosingFolderInTreeListsItsFiles();
    void vanishedHistoryFolderChangesNothing();
    void unreadableDriveGoesBackSilently();
    void otherDriveShowsItsRootOnTop();
    void controlsAsSpecified();

private:
    std::unique_ptr<frmFileSelect> open(float mainTop = 0, float mainLeft = 0);
    QString folder(const QString &relative);
    QString setting(const QString &section, const QString &key);

    std::unique_ptr<QTemporaryDir> tmp_;
    std::unique_ptr<QWidget> host_;
    QListWidget *lstMP3Files_ = nullptr;
    inifile_IO ini_;
    QString sMP3Folder_;
    QString appFolder_;
};

void tst_FileSelect::init()
{
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    host_ = std::make_unique<QWidget>();
    lstMP3Files_ = new QListWidget(host_.get());
    lstMP3Files_->setObjectName(QStringLiteral("lstMP3Files"));
    appFolder_ = folder(QStringLiteral("program"));
    ini_.setFileName(QDir(appFolder_).filePath(QStringLiteral("dorvasu.ini")));
    sMP3Folder_.clear();
}

void tst_FileSelect::cleanup()
{
    host_.reset();
    tmp_.reset();
}

std::unique_ptr<frmFileSelect> tst_FileSelect::open(float mainTop, float mainLeft)
{
    return std::make_unique<frmFileSelect>(lstMP3Files_, sMP3Folder_, ini_, mainTop, mainLeft,
                                           QIcon(), appFolder_);
}

QString tst_FileSelect::folder(const QString &relative)
{
    const QString path = QDir::cleanPath(tmp_->filePath(relative));
    if (!QDir().mkpath(path))
        qFatal("cannot make %s", qPrintable(path));
    return path;
}

QString tst_FileSelect::setting(const QString &section, const QString &key)
{
    return ini_.ReadStr(section, key, QStringLiteral("<missing>"));
}

void tst_FileSelect::fileListShowsMp3FilesOnly_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("listed");

    QTest::newRow("upper-case extension") << "file" << "A.MP3" << true;
    QTest::newRow("lower-case extension") << "file" << "b.mp3" << true;
    QTest::newRow("name with brackets") << "file" << "[2005] x.mp3" << true;
    QTest::newRow("link to a file") << "filelink" << "l.mp3" << true;
    QTest::newRow("hidden file") << "file" << ".hidden.mp3" << false;
    QTest::newRow("other extension") << "file" << "x.mp3.txt" << false;
    QTest::newRow("no dot") << "file" << "xmp3" << false;
    QTest::newRow("folder") << "dir" << "x.mp3" << false;
    QTest::newRow("link to a folder") << "dirlink" << "d.mp3" << false;
    QTest::newRow("FIFO") << "fifo" << "f.mp3" << false;
    QTest::newRow("broken link") << "brokenlink" << "gone.mp3" << false;
}

void tst_FileSelect::fileListShowsMp3FilesOnly()
{
    QFETCH(QString, kind);
    QFETCH(QString, name);
    QFETCH(bool, listed);

    const QString music = folder(QStringLiteral("music"));
    touch(music + "/keep.mp3");
    const QString path = music + u'/' + name;
    const QString outside = folder(QStringLiteral("outside"));
    if (kind == u"file") {
        touch(path);
    } else if (kind == u"dir") {
        QVERIFY(QDir().mkdir(path));
    } else if (kind == u"filelink") {
        touch(outside + "/target.bin");
        QVERIFY(QFile::link(outside + "/target.bin", path));
    } else if (kind == u"dirlink") {
        QVERIFY(QFile::link(outside, path));
    } else if (kind == u"fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    } else if (kind == u"brokenlink") {
        QVERIFY(QFile::link(outside + "/nothing.mp3", path));
    }

    sMP3Folder_ = music;
    auto w = open();
    QCOMPARE(w->dirPath(), music);
    const QStringList shown = texts(w->File1);
    QVERIFY(shown.contains(QStringLiteral("keep.mp3")));
    QCOMPARE(shown.contains(name), listed);
    QCOMPARE(shown.size(), listed ? 2 : 1);
}

void tst_FileSelect::fileListSortedByNameIgnoringCase()
{
    const QString music = folder(QStringLiteral("music"));
    for (const char *name : {"b.mp3", "C.mp3", "a2.mp3", "A.MP3", "10.mp3"})
        touch(music + u'/' + QString::fromLatin1(name));
    sMP3Folder_ = music;
    auto w = open();
    QCOMPARE(texts(w->File1),
             QStringList({"10.mp3", "A.MP3", "a2.mp3", "b.mp3", "C.mp3"}));
}

void tst_FileSelect::joinPath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("path");

    QTest::newRow("root") << "/" << "/a.mp3";
    QTest::newRow("folder") << "/music" << "/music/a.mp3";
    QTest::newRow("folder ending in /") << "/music/" << "/music/a.mp3";
}

void tst_FileSelect::joinPath()
{
    QFETCH(QString, folder);
    QFETCH(QString, path);
    QCOMPARE(fileselect::joinPath(folder, QStringLiteral("a.mp3")), path);
}

void tst_FileSelect::addAppendsSelectedFilesInListOrder_data()
{
    // Each text is one press of 追加, with the files selected for it.
    QTest::addColumn<QStringList>("presses");
    QTest::addColumn<QStringList>("appended");

    QTest::newRow("nothing selected") << QStringList{""} << QStringList{};
    QTest::newRow("one file") << QStringList{"b.mp3"} << QStringList{"b.mp3"};
    QTest::newRow("selection order is not list order")
        << QStringList{"c.mp3,a.mp3"} << QStringList{"a.mp3", "c.mp3"};
    QTest::newRow("all") << QStringList{"a.mp3,b.mp3,c.mp3"}
                         << QStringList{"a.mp3", "b.mp3", "c.mp3"};
    QTest::newRow("same file twice") << QStringList{"b.mp3", "b.mp3"}
                                     << QStringList{"b.mp3", "b.mp3"};
}

void tst_FileSelect::addAppendsSelectedFilesInListOrder()
{
    QFETCH(QStringList, presses);
    QFETCH(QStringList, appended);

    const QString music = folder(QStringLiteral("music"));
    const QString other = folder(QStringLiteral("other"));
    for (const char *name : {"a.mp3", "b.mp3", "c.mp3"})
        touch(music + u'/' + QString::fromLatin1(name));
    lstMP3Files_->addItem(QStringLiteral("/already/there.mp3"));
    sMP3Folder_ = other;
    auto w = open();
    QVERIFY(w->Dir1->currentIndex().isValid());
    w->Dir1->setCurrentIndex(folderItem(*w, music));
    QCOMPARE(w->dirPath(), music);

    for (const QString &press : presses) {
        selectFiles(*w, press.split(u',', Qt::SkipEmptyParts));
        QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
    }

    QStringList expected{QStringLiteral("/already/there.mp3")};
    for (const QString &name : appended)
        expected.append(music + u'/' + name);
    QCOMPARE(texts(lstMP3Files_), expected);
    QVERIFY(!lstMP3Files_->isHidden());
    QVERIFY(lstMP3Files_->isEnabled());
    // The folder is recorded (once) however many files were added.
    QCOMPARE(sMP3Folder_, music);
    QCOMPARE(texts(w->cmbDirList), QStringList{music});
    QCOMPARE(w->cmbDirList->currentIndex(), 0);
    // Adding leaves the selection as it was, ready for another press.
    QCOMPARE(w->File1->selectedItems().size(),
             presses.last().split(u',', Qt::SkipEmptyParts).size());
}

void tst_FileSelect::historyEntryMatchesOwnFolderExactly_data()
{
    QTest::addColumn<QStringList>("folders"); // Add pressed once in each, in order
    QTest::addColumn<int>("entries");

    QTest::newRow("brackets") << QStringList{"[2005] Best", "[2005] Best"} << 1;
    QTest::newRow("wildcard characters") << QStringList{"a*b?c#1", "a*b?c#1"} << 1;
    QTest::newRow("unclosed bracket") << QStringList{"x[y", "x[y"} << 1;
    QTest::newRow("pattern does not match other folders")
        << QStringList{"a?c", "abc", "a?c"} << 2;
    QTest::newRow("letter case differs") << QStringList{"Music", "music"} << 2;
}

void tst_FileSelect::historyEntryMatchesOwnFolderExactly()
{
    QFETCH(QStringList, folders);
    QFETCH(int, entries);

    sMP3Folder_ = folder(QStringLiteral("start"));
    auto w = open();
    for (const QString &name : folders) {
        const QString path = folder(QStringLiteral("f/") + name);
        w->Dir1->setCurrentIndex(folderItem(*w, path));
        QCOMPARE(w->dirPath(), path);
        QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
        QVERIFY(texts(w->cmbDirList).contains(path));
    }
    QCOMPARE(w->cmbDirList->count(), entries);
}

void tst_FileSelect::eleventhFolderRemovesTheOldest()
{
    QStringList folders;
    for (int i = 1; i <= 11; ++i)
        folders.append(folder(QStringLiteral("f%1").arg(i)));
    sMP3Folder_ = folders.first();
    auto w = open();
    for (const QString &path : folders) {
        w->Dir1->setCurrentIndex(folderItem(*w, path));
        QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
    }
    QCOMPARE(texts(w->cmbDirList), folders.mid(1));
    QCOMPARE(w->cmbDirList->currentText(), folders.last());

    // Back in a folder already listed: nothing added, nothing removed.
    w->Dir1->setCurrentIndex(folderItem(*w, folders.at(5)));
    QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
    QCOMPARE(texts(w->cmbDirList), folders.mid(1));

    w->reject();
    for (int i = 0; i < 10; ++i)
        QCOMPARE(setting("DirList", QStringLiteral("%1").arg(i, 2, 10, QChar(u'0'))),
                 folders.at(i + 1));
}

void tst_FileSelect::historyReadFromSettings_data()
{
    // Stored entries: a name stands for a folder under the test folder; a
    // leading "-" makes it a folder that has been deleted; "=" repeats it
    // with a trailing "/". The current folder is `current`.
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<int>("selected");

    QTest::newRow("deleted 01, current 03")
        << QStringList{"a", "-b", "c", "d", "e"} << "d" << QStringList{"a", "c", "d", "e"} << 2;
    QTest::newRow("current not in history")
        << QStringList{"a", "c"} << "e" << QStringList{"a", "c"} << -1;
    QTest::newRow("current twice: last one selected")
        << QStringList{"d", "a", "d", "c"} << "d" << QStringList{"d", "a", "d", "c"} << 2;
    QTest::newRow("trailing slash is the same folder")
        << QStringList{"a", "=d"} << "d" << QStringList{"a", "d"} << 1;
    QTest::newRow("brackets") << QStringList{"[2005] Best", "a"} << "[2005] Best"
                              << QStringList{"[2005] Best", "a"} << 0;
    QTest::newRow("empty history") << QStringList{} << "a" << QStringList{} << -1;
}

void tst_FileSelect::historyReadFromSettings()
{
    QFETCH(QStringList, stored);
    QFETCH(QString, current);
    QFETCH(QStringList, shown);
    QFETCH(int, selected);

    for (int i = 0; i < stored.size(); ++i) {
        QString name = stored.at(i);
        QString path;
        if (name.startsWith(u'-')) {
            path = folder(name.mid(1));
            QVERIFY(QDir(path).removeRecursively());
        } else if (name.startsWith(u'=')) {
            path = folder(name.mid(1)) + u'/';
        } else {
            path = folder(name);
        }
        ini_.WriteStr("DirList", QStringLiteral("%1").arg(i, 2, 10, QChar(u'0')), path);
    }
    // A key after the first empty one is never read.
    ini_.WriteStr("DirList", QStringLiteral("%1").arg(stored.size() + 1, 2, 10, QChar(u'0')),
                  folder("after-gap"));
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
        w->Dir1->setCurrentIndex(folderItem(*w, b));
        QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
        QTest::mouseClick(w->cmdCancel, Qt::LeftButton);
        QVERIFY(!w->isVisible());
    }
    QCOMPARE(setting("Position", "FileLeft"), QStringLiteral("1800"));
    QCOMPARE(setting("Position", "FileTop"), QStringLiteral("1350"));
    QCOMPARE(sMP3Folder_, b);

    auto w = open(4500, 4500);
    QCOMPARE(w->pos(), QPoint(120, 90));
    QCOMPARE(texts(w->cmbDirList), QStringList({a, b}));
    QCOMPARE(w->cmbDirList->currentIndex(), 1);
    QCOMPARE(w->dirPath(), b);
    QCOMPARE(texts(w->File1), QStringList{"song.mp3"});

    // Choosing the other entry goes there and makes it the MP3 folder.
    w->cmbDirList->setCurrentIndex(0);
    emit w->cmbDirList->activated(0);
    QCOMPARE(w->dirPath(), a);
    QCOMPARE(sMP3Folder_, a);
    QCOMPARE(folderOfItem(*w, w->Dir1->currentIndex()), a);
    QVERIFY(w->File1->count() == 0);
}

void tst_FileSelect::shorterHistoryDoesNotBringBackOldEntries()
{
    QStringList paths;
    for (const char *name : {"a", "b", "c", "d", "e"}) {
        paths.append(folder(QString::fromLatin1(name)));
        ini_.WriteStr("DirList", QStringLiteral("%1").arg(paths.size() - 1, 2, 10, QChar(u'0')),
                      paths.last());
    }
    QVERIFY(QDir(paths.at(1)).removeRecursively());
    sMP3Folder_ = paths.at(0);
    open().reset(); // opens without "b" and writes four entries back
    auto w = open();
    QCOMPARE(texts(w->cmbDirList), QStringList({paths.at(0), paths.at(2), paths.at(3), paths.at(4)}));
}

void tst_FileSelect::position_data()
{
    QTest::addColumn<QString>("top");  // stored texts; "" = not stored
    QTest::addColumn<QString>("left");
    QTest::addColumn<QPoint>("pixels"); // (-1, -1): somewhere on the primary screen

    QTest::newRow("default beside the main window") << "" << "" << QPoint(100, 200);
    QTest::newRow("stored") << "1500" << "750" << QPoint(50, 100);
    QTest::newRow("fraction") << "1522.5" << "  300 " << QPoint(20, 102);
    QTest::newRow("comma as decimal separator") << "1522,5" << "300" << QPoint(20, 102);
    QTest::newRow("not a number: default") << "abc" << "1e" << QPoint(100, 200);
    QTest::newRow("not finite: default") << "nan" << "inf" << QPoint(100, 200);
    QTest::newRow("far right and below") << "900000" << "900000" << QPoint(-1, -1);
    QTest::newRow("far left and above") << "-900000" << "-900000" << QPoint(-1, -1);
    QTest::newRow("beyond any integer") << "1e300" << "-1e38" << QPoint(-1, -1);
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
    // Main window at (1400, 2900) twips: the default is 100 twips further.
    auto w = open(2900, 1400);
    if (pixels.x() >= 0) {
        QCOMPARE(w->pos(), pixels);
    } else {
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(screen.contains(QRect(w->pos(), w->size())),
                 qPrintable(QStringLiteral("window at %1,%2").arg(w->pos().x()).arg(w->pos().y())));
    }
}

void tst_FileSelect::unloadsOnceWhicheverWayItCloses_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("閉じる") << "button";
    QTest::newRow("Esc") << "escape";
    QTest::newRow("close box") << "close";
}

void tst_FileSelect::unloadsOnceWhicheverWayItCloses()
{
    QFETCH(QString, how);
    sMP3Folder_ = folder("a");
    auto w = open();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->move(30, 45);
    QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
    if (how == u"button")
        QTest::mouseClick(w->cmdCancel, Qt::LeftButton);
    else if (how == u"escape")
        QTest::keyClick(w->File1, Qt::Key_Escape);
    else
        QVERIFY(w->close());
    QVERIFY(!w->isVisible());
    QCOMPARE(setting("Position", "FileTop"), QStringLiteral("675"));
    QCOMPARE(setting("Position", "FileLeft"), QStringLiteral("450"));
    QCOMPARE(setting("DirList", "00"), sMP3Folder_);

    // Written once: deleting the closed window writes nothing more.
    ini_.WriteStr("DirList", "00", "/marker");
    w.reset();
    QCOMPARE(setting("DirList", "00"), QStringLiteral("/marker"));
}

void tst_FileSelect::missingStartFolderFallsBackToProgramFolder_data()
{
    QTest::addColumn<QString>("start");
    QTest::newRow("empty") << "";
    QTest::newRow("missing") << "/no/such/folder/here";
    QTest::newRow("a file") << "FILE";
    QTest::newRow("relative path") << "no-such-relative";
}

void tst_FileSelect::missingStartFolderFallsBackToProgramFolder()
{
    QFETCH(QString, start);
    if (start == u"FILE") {
        start = tmp_->filePath("file.mp3");
        touch(start);
    }
    touch(appFolder_ + "/in-program-folder.mp3");
    sMP3Folder_ = start;
    auto w = open();
    QCOMPARE(sMP3Folder_, appFolder_);
    QCOMPARE(w->dirPath(), appFolder_);
    QCOMPARE(texts(w->File1), QStringList{"in-program-folder.mp3"});
    QCOMPARE(w->Drive1->currentData().toString(), fileselect::driveOf(appFolder_));
}

void tst_FileSelect::choosingFolderInTreeListsItsFiles()
{
    const QString top = folder("top");
    const QString deep = folder("top/one/two");
    folder("top/.hidden");
    folder("top/zz");
    touch(top + "/top.mp3");
    touch(deep + "/deep.mp3");
    sMP3Folder_ = top;
    auto w = open();

    // The tree opens on the current folder, with the way to it expanded.
    QCOMPARE(folderOfItem(*w, w->Dir1->currentIndex()), top);
    for (QModelIndex up = w->Dir1->currentIndex(); up.isValid(); up = up.parent())
        QVERIFY2(w->Dir1->isExpanded(up), qPrintable(folderOfItem(*w, up)));
    QCOMPARE(texts(w->File1), QStringList{"top.mp3"});

    w->Dir1->setCurrentIndex(folderItem(*w, deep));
    QCOMPARE(w->dirPath(), deep);
    QCOMPARE(texts(w->File1), QStringList{"deep.mp3"});
    QCOMPARE(sMP3Folder_, top); // changes only with 追加 or the history

    // Hidden folders are not in the tree (loaded in the background, with
    // "zz" in the same pass).
    QFileSystemModel *model = folderModel(*w);
    const QModelIndex topItem = model->index(top);
    QTRY_COMPARE(model->rowCount(topItem), 2);
    QStringList names;
    for (int row = 0; row < 2; ++row)
        names.append(model->fileName(model->index(row, 0, topItem)));
    names.sort();
    QCOMPARE(names, QStringList({"one", "zz"}));

    // Back up with the keyboard: the parent folder's item.
    w->Dir1->setCurrentIndex(folderItem(*w, deep).parent());
    QCOMPARE(w->dirPath(), top + "/one");
    QCOMPARE(w->File1->count(), 0);
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
    QCOMPARE(w->cmbDirList->currentIndex(), 0);
    QVERIFY(QDir(b).removeRecursively());

    w->cmbDirList->setFocus();
    QTest::keyClick(w->cmbDirList, Qt::Key_Down); // the user picks "b"
    QCOMPARE(w->dirPath(), a);
    QCOMPARE(sMP3Folder_, a);
    QCOMPARE(texts(w->File1), QStringList{"a.mp3"});
    QCOMPARE(w->cmbDirList->currentIndex(), 0);
    QCOMPARE(w->cmbDirList->count(), 2);

    // The whole history goes away, current folder included.
    QVERIFY(QDir(a).removeRecursively());
    w->cmbDirList->setCurrentIndex(1);
    emit w->cmbDirList->activated(1);
    QCOMPARE(w->dirPath(), a);
    QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton); // still no failure
    QCOMPARE(lstMP3Files_->count(), 0);
}

void tst_FileSelect::unreadableDriveGoesBackSilently()
{
    const QString a = folder("a");
    sMP3Folder_ = a;
    auto w = open();
    const int before = w->Drive1->currentIndex();
    // A volume that went away after the list was filled.
    w->Drive1->addItem(QStringLiteral("/gone"), tmp_->filePath("unplugged"));
    w->Drive1->setCurrentIndex(w->Drive1->count() - 1);
    QCOMPARE(w->Drive1->currentIndex(), before);
    QCOMPARE(w->dirPath(), a);
    QCOMPARE(folderOfItem(*w, w->Dir1->currentIndex()), a);
}

void tst_FileSelect::otherDriveShowsItsRootOnTop()
{
    const QString a = folder("a");
    const QString stick = folder("media/stick");
    folder("media/other-volume");
    folder("media/stick/album");
    touch(stick + "/on-stick.mp3");
    sMP3Folder_ = a;
    auto w = open();
    const int first = w->Drive1->currentIndex();
    // A volume mounted at `stick`, as the drive list would show it.
    w->Drive1->addItem(stick, stick);
    w->Drive1->setCurrentIndex(w->Drive1->count() - 1);
    QCOMPARE(w->dirPath(), stick);
    QCOMPARE(texts(w->File1), QStringList{"on-stick.mp3"});
    QTreeView *tree = w->Dir1;
    QCOMPARE(tree->model()->rowCount(tree->rootIndex()), 1);
    QCOMPARE(folderOfItem(*w, tree->model()->index(0, 0, tree->rootIndex())), stick);
    QCOMPARE(folderOfItem(*w, tree->currentIndex()), stick);

    // Back to the first drive: its working folder is the MP3 folder.
    w->Dir1->setCurrentIndex(folderItem(*w, stick + "/album"));
    w->Drive1->setCurrentIndex(first);
    QCOMPARE(w->dirPath(), a);
    // And to the stick again: it starts at its root, not where we browsed.
    w->Drive1->setCurrentIndex(w->Drive1->count() - 1);
    QCOMPARE(w->dirPath(), stick);
}

void tst_FileSelect::controlsAsSpecified()
{
    sMP3Folder_ = folder("a");
    QIcon icon(QPixmap(16, 16));
    frmFileSelect w(lstMP3Files_, sMP3Folder_, ini_, 0, 0, icon, appFolder_);
    QCOMPARE(w.objectName(), QStringLiteral("frmFileSelect"));
    QCOMPARE(w.windowTitle(), QStringLiteral("MP3リスト"));
    QCOMPARE(w.size(), ui::twipsSize(6105, 6600));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QVERIFY(!(w.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(!w.windowIcon().isNull());
    QVERIFY(w.cmdAddFiles->isDefault());
    QCOMPARE(w.cmdAddFiles->text(), QStringLiteral("追加"));
    QCOMPARE(w.cmdCancel->text(), QStringLiteral("閉じる"));
    QCOMPARE(w.File1->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(w.File1->toolTip(), QStringLiteral("ダブルクリックで再生"));
    QCOMPARE(w.File1->palette().color(QPalette::Base), QColor(0, 0, 192));
    QCOMPARE(w.File1->palette().color(QPalette::Text), QColor(255, 128, 255));
    QVERIFY(!w.cmbDirList->isEditable());
    QCOMPARE(w.Drive1->itemData(0).toString(), QStringLiteral("/"));

    // Tab order, by names.
    QStringList order;
    QWidget *from = w.Drive1;
    for (int i = 0; i < 6; ++i) {
        order.append(from->objectName());
        from = from->nextInFocusChain();
        while (from->focusPolicy() == Qt::NoFocus || from->parentWidget() != &w)
            from = from->nextInFocusChain();
    }
    QCOMPARE(order, QStringList({"Drive1", "Dir1", "File1", "cmdAddFiles", "cmdCancel",
                                 "cmbDirList"}));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    if (!qEnvironmentVariableIsEmpty("DORVASU_SCREENSHOTS")) {
        QTest::qWait(200);
        w.grab().save(qEnvironmentVariable("DORVASU_SCREENSHOTS") + "/file-select.png");
    }
}

QTEST_MAIN(tst_FileSelect)
#include "tst_fileselect.moc"
