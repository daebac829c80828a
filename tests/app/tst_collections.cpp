// Whole collections through the real windows and files: trees dropped or
// added from the folder menu, Cancel while tags are read or files renamed,
// Undo of the last Rename.
#include <QMenu>
#include <QMimeData>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

#include "mainwindowfixture.h"
#include "progressrun.h"

class TestCollections : public QObject {
    Q_OBJECT

    WindowFixture fx_;
    frmMain *w_ = nullptr;
    int reports_ = 0; // progress reports seen

    // `n` files "NNN.mp3" with one tag in `folder` (made): their paths.
    QByteArrayList files(const QString &folder, int n)
    {
        QDir().mkpath(fx_.path(folder));
        const QString first = fx_.file(folder + "/000.mp3", {"Title 000", "Singer"});
        QByteArrayList out{QFile::encodeName(first)};
        for (int i = 1; i < n; ++i) {
            const QString name = QStringLiteral("%1/%2.mp3").arg(folder).arg(i, 3, 10, QChar(u'0'));
            out << QFile::encodeName(fx_.path(name));
            QFile::copy(first, QFile::decodeName(out.last()));
        }
        return out;
    }

    void drop(const QList<QUrl> &urls)
    {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w_, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w_, &dropped);
        QCoreApplication::processEvents();
    }

    // Cancel on the first progress report.
    void cancelFirst()
    {
        ui::setProgressHookForTesting([this] {
            if (reports_++ == 0)
                QVERIFY(ui::cancelProgressForTesting());
        });
    }

    // `paths` listed, all selected, renamed "new N.mp3" (with `cancel`, cancelled).
    void renameAll(const QByteArrayList &paths, bool cancel = false)
    {
        w_->appendFiles(paths);
        w_->lstMP3Files->selectAll();
        QCoreApplication::processEvents();
        for (int i = 0; i < paths.size(); ++i)
            w_->lstRename->item(i)->setText(QStringLiteral("new %1.mp3").arg(i));
        if (cancel)
            cancelFirst();
        w_->cmdRename_Click();
    }

private slots:
    void init()
    {
        fx_.setUp();
        fx_.load(true);
        w_ = fx_.w.get();
        reports_ = 0;
    }

    void cleanup()
    {
        ui::setProgressHookForTesting({});
        fx_.tearDown();
    }

    // A dropped tree, a dropped file and a folder whose name is not UTF-8:
    // every MP3 file once, in path order, with its proposed name. The folder
    // tree's menu adds a folder with its subfolders and keeps it in the history.
    void trees()
    {
        files("tree/.hidden", 1);
        const QByteArray tree = QFile::encodeName(fx_.path("tree"));
        const QByteArray odd = tree + "/\x89\xb9\x8a\x79"; // CP932 "音楽"
        QVERIFY(::mkdir(odd.constData(), 0755) == 0);
        QVERIFY(::rename(files("tree/a", 3).last().constData(), (odd + "/x.mp3").constData()) == 0);
        QVERIFY(::symlink("a", (tree + "/link").constData()) == 0);
        const QString single = fx_.file("single.mp3", {"Single", "Solo"});

        drop({QUrl::fromLocalFile(fx_.path("tree")), QUrl::fromLocalFile(single)});
        const QByteArrayList inA{tree + "/a/000.mp3", tree + "/a/001.mp3"};
        QCOMPARE(fx_.entries(),
                 QByteArrayList{QFile::encodeName(single)} + inA + QByteArrayList{odd + "/x.mp3"});
        const QString tagged = "Singer - Title 000.mp3";
        QCOMPARE(texts(w_->lstRename), (QStringList{"Solo - Single.mp3", tagged, tagged, tagged}));
        drop({QUrl::fromEncoded("file://" + odd.toPercentEncoding("/"))}); // the folder by its bytes
        QCOMPARE(fx_.entries().size(), 5);
        QCOMPARE(fx_.entries().last(), odd + "/x.mp3");

        files("tree/a/y", 1);
        QByteArray folder = tree;
        {
            frmFileSelect window(w_->lstMP3Files, folder, w_->IniFile(), 0, 0, QIcon(), fx_.path("app"),
                                 w_);
            window.addFolderTree(tree + "/a");
            QCOMPARE(window.cmbDirList->itemText(window.cmbDirList->count() - 1), fx_.path("tree/a"));
        }
        QCOMPARE(fx_.entries().mid(5), inA + QByteArrayList{tree + "/a/y/000.mp3"});
    }

    // Cancel while tags are read: the entries not read are not added and the
    // lists stay in step. Cancel while files are renamed: those not yet
    // renamed keep their names, and the report says how many. (Cancel lands
    // before the work starts; where it stops in the middle is the rename
    // library's test.)
    void cancel_data()
    {
        QTest::addColumn<bool>("rename");
        QTest::newRow("reading") << false;
        QTest::newRow("renaming") << true;
    }

    void cancel()
    {
        QFETCH(bool, rename);
        const QByteArrayList all = files("many", 60);
        if (rename) {
            renameAll(all, true);
        } else {
            cancelFirst();
            w_->appendFiles(all);
        }
        QVERIFY(reports_ > 0);
        QCOMPARE(w_->lstRename->count(), w_->lstMP3Files->count());
        QCOMPARE(w_->lstMP3Files->count(), rename ? 60 : 0);
        QCOMPARE(QDir(fx_.path("many")).entryList({"???.mp3"}).size(), 60); // not tried
        QCOMPARE(fx_.messages.size(), int(rename));
        QVERIFY(!rename || fx_.messages[0].contains(QStringLiteral("60 件のファイルは変更していません")));
    }

    // Undo renames the last batch back, through Ctrl+Z or the list's menu,
    // also after a restart; a file whose old name was taken meanwhile fails
    // alone; a damaged journal is told, never a crash. A right click opens
    // the menu and leaves the selection alone.
    void undo_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QStringList>("after");
        const QStringList old{"000.mp3", "001.mp3", "002.mp3"};
        QTest::newRow("Ctrl+Z") << "keys" << QStringList() << old;
        QTest::newRow("menu") << "menu" << QStringList() << old;
        QTest::newRow("after a restart") << "restart" << QStringList() << old;
        QTest::newRow("an old name taken") << "taken" << QStringList{"以下のファイルは元に戻せませんでした。"}
                                           << QStringList{"000.mp3", "001.mp3", "002.mp3", "new 1.mp3"};
        QTest::newRow("damaged journal") << "damaged" << QStringList{"名前の変更の記録が壊れているため"}
                                         << QStringList{"new 0.mp3", "new 1.mp3", "new 2.mp3"};
    }

    void undo()
    {
        QFETCH(QString, how);
        QFETCH(QStringList, messages);
        QFETCH(QStringList, after);
        QTest::keyClick(w_, Qt::Key_Z, Qt::ControlModifier); // nothing to undo yet
        const QByteArrayList before = files("u", 3);
        renameAll(before);
        const QStringList renamed{"new 0.mp3", "new 1.mp3", "new 2.mp3"};
        QCOMPARE(QDir(fx_.path("u")).entryList(QDir::Files), renamed);
        if (how == "restart") {
            fx_.w.reset();
            fx_.load(true);
            w_ = fx_.w.get();
        } else if (how == "taken") {
            testdata::writeAll(fx_.path("u/001.mp3"), "someone else's");
        } else if (how == "damaged") {
            testdata::writeAll(fx_.path("config/journal.txt"), "no journal at all");
        }
        if (how == "menu") {
            bool menuSeen = false;
            QTimer::singleShot(0, [&] {
                auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
                menuSeen = menu && menu->actions().size() == 1
                           && menu->actions()[0]->text() == "元に戻す" && menu->actions()[0]->isEnabled();
                if (menuSeen)
                    menu->actions()[0]->trigger();
                if (menu)
                    menu->close();
            });
            const QPoint at = w_->lstMP3Files->visualItemRect(w_->lstMP3Files->item(2)).center();
            QTest::mouseClick(w_->lstMP3Files->viewport(), Qt::RightButton, {}, at);
            const QPoint global = w_->lstMP3Files->viewport()->mapToGlobal(at);
            QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, global);
            QApplication::sendEvent(w_->lstMP3Files->viewport(), &menuEvent);
            QVERIFY(menuSeen);
            QCOMPARE(w_->lstMP3Files->selectionModel()->selectedRows().size(), 3);
        } else {
            QTest::keyClick(w_, Qt::Key_Z, Qt::ControlModifier);
        }
        QStringList got;
        for (const QString &m : fx_.messages)
            got << m.left(messages.value(got.size()).size());
        QCOMPARE(got, messages);
        QCOMPARE(QDir(fx_.path("u")).entryList(QDir::Files), after);
        if (how == "keys" || how == "menu") // the entries follow their files
            QCOMPARE(fx_.entries(), before);
    }
};

QTEST_MAIN(TestCollections)
#include "tst_collections.moc"
