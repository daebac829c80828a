// The file selection window, driven through its controls over real folders
// and files in a temporary folder and a real settings file.

#include "common/table.h"
#include "core/collection/folders.h"
#include "core/collection/foldertreemodel.h"
#include "gui/fileselect/frmfileselect.h"
#include "core/paths/paths.h"
#include "core/settings/inifile_io.h"
#include "core/collection/mp3tree.h"

#include <QtWidgets>

namespace {

using testdata::texts;

QStringList items(const QString &field) { return field == u"-" ? QStringList() : field.split(", ", Qt::SkipEmptyParts); }

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
        collection::WalkProgress progress;
        const QList<QByteArray> found = collection::mp3FilesUnder(
            {root + "top", root + "other", root + "single.mp3", root + "top/a.mp3"}, &progress);
        QCOMPARE(found, QList<QByteArray>({root + "other/e.mp3", root + "single.mp3", root + "top/B.MP3",
                                           root + "top/a.mp3", root + "top/sub/c\x83\x5c.mp3"}));
        QCOMPARE(progress.folders.load(), 3);   // top, sub, other: each once
        progress.cancel = true;
        QCOMPARE(collection::mp3FilesUnder({root + "top"}, &progress), QList<QByteArray>());
        ::unlink(root + "top/sub/c\x83\x5c.mp3");
    }

    // The drive list reads the kernel's mount table by its bytes: a mount
    // point with a blank or a CP932 name keeps it.
    void mountTable()
    {
        const QList<collection::Mount> mounts = collection::parseMountInfo(
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
        TABLE_FAIL_BROKEN_ROW();
        tmp_ = std::make_unique<QTemporaryDir>();
        lst_ = {"/already/there.mp3"};
        appFolder_ = folder("program");
        ini_.setFileName(appFolder_ + "/dorvasu.ini");
    }

    void cleanup()
    {
        tmp_.reset();
    }

    // One scene at the window: files and the history made, the window
    // opened, controls used and what it shows checked, as steps of
    // tests/data/fileselect.txt [scenes].
    void scene_data() { table::addRows("fileselect.txt", "scenes", {"steps"}); }

    void scene()
    {
        QFETCH(QString, steps);
        std::unique_ptr<frmFileSelect> w;
        int firstDrive = -1;
        static const QRegularExpression between(QStringLiteral(" ?; "));
        for (const QString &step : steps.split(between)) {
            const table::Step named(step);
            const QString verb = step.section(u' ', 0, 0), arg = step.section(u' ', 1);
            const QString path = arg == u"-" ? QString() : arg.startsWith(u'/') ? arg : tmp_->filePath(arg);
            if (verb == u"mkdir") {
                folder(arg);
            } else if (verb == u"touch") {
                folder(QFileInfo(arg).path());
                testdata::writeAll(path, {});
            } else if (verb == u"fifo") {
                QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
            } else if (verb == u"link") {   // "link NAME TARGET"
                QVERIFY(QFile::link(tmp_->filePath(arg.section(u' ', 1)), tmp_->filePath(arg.section(u' ', 0, 0))));
            } else if (verb == u"setting") {   // "setting SECTION KEY VALUE"
                ini_.WriteStr(arg.section(u' ', 0, 0), arg.section(u' ', 1, 1), arg.section(u' ', 2));
            } else if (verb == u"history") {   // "-NAME" a folder deleted since; a trailing "/" kept
                const QStringList stored = items(arg);
                for (int i = 0; i < stored.size(); ++i) {
                    const QString name = stored[i].mid(stored[i].startsWith(u'-') ? 1 : 0);
                    const QString entry = folder(name) + (name.endsWith(u'/') ? "/" : "");
                    QVERIFY(!stored[i].startsWith(u'-') || QDir(entry).removeRecursively());
                    ini_.WriteStr("DirList", QString::asprintf("%02d", i), entry);
                }
                // An entry after a gap is not read.
                ini_.WriteStr("DirList", QString::asprintf("%02d", int(stored.size()) + 1), folder("after-the-gap"));
            } else if (verb == u"open") {   // the folder made unless "-", absolute or a file
                w = open(arg == u"-" || arg.startsWith(u'/') || QFileInfo(path).isFile() ? path : folder(arg), 2900, 1400);
                firstDrive = w->Drive1->currentIndex();
            } else if (verb == u"show") {   // and moved as the user may
                w->show();
                QVERIFY(QTest::qWaitForWindowExposed(w.get()));
                w->move(120, 90);
            } else if (verb == u"choose") {   // the folder tree's current item, as a click on it makes it
                w->Dir1->setCurrentIndex(w->folderTree()->reveal(QFile::encodeName(folder(arg))));
            } else if (verb == u"mkdirs") {   // "mkdirs PREFIX N": PREFIX00 to PREFIX(N-1)
                for (int i = 0; i < arg.section(u' ', 1).toInt(); ++i)
                    folder(arg.section(u' ', 0, 0) + QString::asprintf("%02d", i));
            } else if (verb == u"click") {   // the tree's row of the folder, at the foot of the tree's view
                w->folderTree()->reveal(QFile::encodeName(folder(arg)));
                QTRY_VERIFY(!w->folderTree()->isListing());   // no rows coming in under the pointer
                const QModelIndex index = w->folderTree()->reveal(QFile::encodeName(folder(arg)));
                w->Dir1->scrollTo(index, QAbstractItemView::PositionAtBottom);
                const QRect rowRect = w->Dir1->visualRect(index);
                QTest::mouseClick(w->Dir1->viewport(), Qt::LeftButton, {}, QPoint(rowRect.left() + 4, rowRect.center().y()));
            } else if (verb == u"highlight?") {   // the tree's one selected row, and its current one
                const QModelIndexList selected = w->Dir1->selectionModel()->selectedIndexes();
                QCOMPARE(selected.size(), 1);
                QCOMPARE(QString::fromUtf8(w->folderTree()->folderPath(selected[0])), path);
                QCOMPARE(w->Dir1->currentIndex(), selected[0]);
            } else if (verb == u"select") {   // these rows of the file list only
                w->File1->clearSelection();
                for (const QString &selected : items(arg))
                    w->File1->item(selected.toInt())->setSelected(true);
            } else if (verb == u"add") {
                QTest::mouseClick(w->cmdAddFiles, Qt::LeftButton);
            } else if (verb == u"down") {   // the next history entry
                w->cmbDirList->setFocus();
                QTest::keyClick(w->cmbDirList, Qt::Key_Down);
            } else if (verb == u"remove") {
                QVERIFY(QDir(path).removeRecursively());
            } else if (verb == u"drive") {   // a volume mounted at `path`, or back to the first
                if (arg != u"first")
                    w->Drive1->addItem(path, path);
                w->Drive1->setCurrentIndex(arg == u"first" ? firstDrive : w->Drive1->count() - 1);
            } else if (verb == u"drive?") {   // the drive shown: still the first
                QCOMPARE(w->Drive1->currentIndex(), firstDrive);
            } else if (verb == u"mp3?") {
                QCOMPARE(QFile::decodeName(sMP3Folder_), path);
                QCOMPARE(w->dirPath(), sMP3Folder_);
            } else if (verb == u"folder?") {
                QCOMPARE(QString::fromUtf8(w->folderTree()->folderPath(w->Dir1->currentIndex())), path);
            } else if (verb == u"files?") {
                QCOMPARE(texts(w->File1), items(arg));
            } else if (verb == u"tops?") {   // top items of the folder tree
                QCOMPARE(w->Dir1->model()->rowCount(w->Dir1->rootIndex()), arg.toInt());
            } else if (verb == u"close") {   // by 閉じる, Enter on it, Esc or the close box
                if (arg == u"Enter")   // the focused button, not the default 追加
                    w->cmdCancel->setFocus();
                if (arg == u"閉じる")
                    QTest::mouseClick(w->cmdCancel, Qt::LeftButton);
                else if (arg == u"Enter")
                    QTest::keyClick(w->cmdCancel, Qt::Key_Enter, Qt::KeypadModifier);
                else if (arg == u"Esc")
                    QTest::keyClick(w->File1, Qt::Key_Escape);
                else
                    w->close();
                QVERIFY(!w->isVisible());
            } else if (verb == u"saved?") {   // the history as shown, saved once and read back as it was
                const QString next = QString::asprintf("%02d", int(items(arg).size()));
                QCOMPARE(ini_.ReadStr("DirList", next, "-"), "-");   // a stale key after the last is emptied
                ini_.WriteStr("DirList", next, "/marker");
                w.reset();   // saved once, on closing: nothing more is written
                QCOMPARE(ini_.ReadStr("DirList", next, ""), "/marker");
                ini_.WriteStr("DirList", next, "");
                w = open(QFile::decodeName(sMP3Folder_), 4500, 4500);
                QCOMPARE(w->pos(), QPoint(120, 90));
                QCOMPARE(relative(texts(w->cmbDirList)), items(arg));
            } else if (verb == u"pos?") {   // in pixels
                QCOMPARE(w->pos(), QPoint(items(arg)[0].toInt(), items(arg)[1].toInt()));
            } else if (verb == u"onscreen?") {
                QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(w->geometry()));
            } else if (verb == u"entries?") {   // of the history
                QCOMPARE(relative(texts(w->cmbDirList)), items(arg));
            } else if (verb == u"entry?") {
                QCOMPARE(w->cmbDirList->currentIndex(), arg.toInt());
            } else if (verb == u"list?") {   // the main window's list, relative to the test folder
                QCOMPARE(relative(lst_), items(arg));
            } else {
                QFAIL(qPrintable("unknown step: " + step));
            }
        }
    }

private:
    // The window over `mp3Folder`, as the main window at `mainTop`, `mainLeft` (twips) opens it.
    std::unique_ptr<frmFileSelect> open(const QString &mp3Folder, float mainTop = 0, float mainLeft = 0)
    {
        sMP3Folder_ = QFile::encodeName(mp3Folder);
        auto window = std::make_unique<frmFileSelect>(sMP3Folder_, ini_, mainTop, mainLeft, QIcon(), appFolder_);
        QObject::connect(window.get(), &frmFileSelect::filesChosen,
                         [this](const QList<QByteArray> &files) {
                             for (const QByteArray &file : files)
                                 lst_.append(paths::display(file));
                         });
        return window;
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
    QStringList lst_;   // what the main window's list would show
    inifile_IO ini_;
    QByteArray sMP3Folder_;
    QString appFolder_;
};

QTEST_MAIN(tst_FileSelect)
#include "tst_fileselect.moc"
