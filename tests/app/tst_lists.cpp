// The file list through the real windows and files: Add, Remove, Select
// All, Clear and user actions, proposed names and Rename, trees dropped or
// added from the folder menu, Cancel, Undo, and names that are not UTF-8.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "frmplay.h"
#include "mainwindowfixture.h"
#include "paths.h"
#include "progressrun.h"
#include "textcodec.h"

namespace {

QString plainPath(int i) { return QStringLiteral("/none/f%1.mp3").arg(i); } // names no file

// A CP932 folder name ("音楽データ"); the files put in it: name bytes, the
// text shown for them ("" where the decoder decides alone), their title.
const QByteArray kFolder = "\x89\xB9\x8A\x79\x83\x66\x81\x5B\x83\x5E";
struct NamedFile {
    const char *kind;
    QByteArray name;
    QString shown, title;
};
const QList<NamedFile> kFiles = {
    {"cp932", "\x93\xFA\x96\x7B\x82\xCC\x89\xCC.mp3", u"日本の歌.mp3"_qs, u"曲一"_qs},
    {"windows-1252", "Caf\xE9 M\xFCller.mp3", u"Café Müller.mp3"_qs, u"Café"_qs},
    {"euc-jp", "\xC6\xFC\xCB\xDC\xA4\xCE\xB2\xCE.MP3", QString(), u"曲三"_qs},
    {"no encoding", "\xFF\x80\xC0\xAF\xED\xA0\x80z.mp3", QString(), u"曲四"_qs},
    {"utf-8", "\xE6\xAD\x8C.mp3", u"歌.mp3"_qs, u"曲五"_qs},
};

QString shownName(const NamedFile &f)
{
    return f.shown.isEmpty() ? mp3lib::detail::decodeLegacy(f.name) : f.shown;
}

} // namespace

class TestLists : public QObject {
    Q_OBJECT

    WindowFixture fx_;
    frmMain *w_ = nullptr;
    std::unique_ptr<QSignalSpy> runs_; // runs of the tag display
    int reports_ = 0;                  // progress reports seen
    QByteArray folder_;                // the CP932 folder of kFiles

    // "name=Singer|Title" is tagged, "name" is not.
    QString makeMp3(const QString &desc)
    {
        const QStringList tag = desc.section(u'=', 1).split(u'|');
        return fx_.file(desc.section(u'=', 0, 0), desc.contains(u'=') ? Six{tag[1], tag[0]} : Six());
    }

    // `n` files "NNN.mp3" with one tag in `folder` (made): their paths.
    QByteArrayList files(const QString &folder, int n)
    {
        QDir().mkpath(fx_.path(folder));
        const QString first = fx_.file(folder + "/000.mp3", {"Title 000", "Singer"});
        QByteArrayList out{QFile::encodeName(first)};
        for (int i = 1; i < n; ++i) {
            out << QFile::encodeName(fx_.path(QStringLiteral("%1/%2.mp3").arg(folder).arg(i, 3, 10, QChar(u'0'))));
            QFile::copy(first, QFile::decodeName(out.last()));
        }
        return out;
    }

    // Selects `rows`, lets the notifications run, then forgets them.
    void select(const QList<int> &rows)
    {
        w_->lstMP3Files->clearSelection();
        for (int row : rows)
            w_->lstMP3Files->item(row)->setSelected(true);
        QCoreApplication::processEvents();
        runs_->clear();
        fx_.messages.clear();
    }

    // A button's name, or "click:R", "shift:R", "ctrl:R", "press:R", "release:R", "shiftdown".
    void act(const QString &action)
    {
        QListWidget *list = w_->lstMP3Files;
        const QString kind = action.section(u':', 0, 0);
        const QListWidgetItem *item = list->item(action.section(u':', 1).toInt());
        const QPoint at = item ? list->visualItemRect(item).center() : QPoint();
        const auto modifier = kind == u"shift" ? Qt::ShiftModifier
                              : kind == u"ctrl" ? Qt::ControlModifier : Qt::NoModifier;
        if (kind.startsWith(u"cmd"))
            QTest::mouseClick(w_->findChild<QPushButton *>(kind), Qt::LeftButton);
        else if (kind == u"shiftdown")
            QTest::keyClick(list, Qt::Key_Down, Qt::ShiftModifier);
        else if (kind == u"press")
            QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
        else if (kind == u"release")
            QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
        else
            QTest::mouseClick(list->viewport(), Qt::LeftButton, modifier, at);
        QCoreApplication::processEvents();
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

    // Counts progress reports and cancels on the first.
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

    // kFiles in their CP932 folder under "音 楽", tagged under a UTF-8 name
    // and then given their names of bytes.
    void makeNamedFiles()
    {
        folder_ = QFile::encodeName(fx_.path(u"音 楽/"_qs)) + kFolder;
        QVERIFY(QDir().mkpath(fx_.path(u"音 楽"_qs)) && ::mkdir(folder_.constData(), 0755) == 0);
        for (const NamedFile &f : kFiles) {
            const QString tagged = fx_.file(QStringLiteral("tagging.mp3"), {f.title, u"歌手"_qs});
            QCOMPARE(::rename(QFile::encodeName(tagged).constData(),
                              paths::join(folder_, f.name).constData()), 0);
        }
    }

    QString shownPath(const QString &name) const { return fx_.dir->path() + u"/音 楽/音楽データ/"_qs + name; }

    // The folder tree's child of `parent` named `name`, once listed.
    static QModelIndex childNamed(frmFileSelect &fs, const QModelIndex &parent, const QByteArray &name)
    {
        QAbstractItemModel *model = fs.Dir1->model();
        for (int row = 0; row < model->rowCount(parent); ++row)
            if (paths::nameOf(model->index(row, 0, parent).data(paths::kPathRole).toByteArray()) == name)
                return model->index(row, 0, parent);
        return {};
    }

private slots:
    void init()
    {
        fx_.setUp();
        fx_.load();
        w_ = fx_.w.get();
        runs_ = std::make_unique<QSignalSpy>(w_, &frmMain::lstMP3FilesClickRaised);
        reports_ = 0;
    }

    void cleanup()
    {
        runs_.reset();
        ui::setProgressHookForTesting({});
        fx_.tearDown();
    }

    // Add through the file selection window: the chosen files with their
    // proposed names after the entries there were; what does not fit past
    // 32,767 entries is left out, and the user told once.
    void add_data() { addRows("add", {"before", "chosen"}); }

    void add()
    {
        QFETCH(QString, before);
        const int n = before.toInt();
        QFETCH(QString, chosen);
        const QStringList names = list(chosen);
        for (const char *desc : {"a.mp3=Singer A|Title A", "b.mp3", "c.mp3=Who?|Title C"})
            makeMp3(QString::fromUtf8(desc));
        QStringList entries;
        for (int i = 0; i < n; ++i)
            entries << plainPath(i);
        fx_.setEntries(entries);
        select({});
        w_->setSMP3Folder(QFile::encodeName(fx_.dir->path()));
        QVERIFY(fx_.inFileSelect([&](frmFileSelect &fs) {
            for (int i = 0; i < fs.File1->count(); ++i)
                fs.File1->item(i)->setSelected(names.contains(fs.File1->item(i)->text()));
            if (!names.isEmpty())
                QTest::mouseClick(fs.cmdAddFiles, Qt::LeftButton);
        }));
        const QStringList proposed{"Singer A - Title A.mp3", "*[Tag info error]", "*[Filename error]"};
        const int added = std::min(int(names.size()), 32767 - n);
        QCOMPARE(w_->lstMP3Files->count(), n + added);
        QCOMPARE(w_->lstRename->count(), n + added);
        for (int i = 0; i < added; ++i) {
            QCOMPARE(w_->lstMP3Files->item(n + i)->text(), fx_.path(names[i]));
            QCOMPARE(w_->lstRename->item(n + i)->text(), proposed[i]);
        }
        QCOMPARE(w_->lstRename->item(n - 1)->text(), QStringLiteral("name %1").arg(n - 1));
        QCOMPARE(fx_.messages.filter(QStringLiteral("32767")).size(), names.size() > added);
        QCOMPARE(w_->lstMP3Files->currentRow(), 0);
        QCOMPARE(runs_->size(), 1);
    }

    // Commands and user actions on plain entries, the tag frame enabled and
    // holding text beforehand. Each action runs the tag display once after
    // the list has taken all of it in (a press alone, or a list left with no
    // selection, runs nothing); the frame follows mouse releases, enabled for
    // one selected entry; Select All disables it. After Remove the last
    // entry is current and alone selected.
    void actions_data()
    {
        addRows("actions", {"count", "selected", "actions", "kept", "selectedAfter", "frame"});
    }

    void actions()
    {
        QFETCH(QString, count);
        const int n = count.toInt();
        QFETCH(QString, actions);
        QStringList entries;
        for (int i = 0; i < n; ++i)
            entries << plainPath(i);
        fx_.setEntries(entries);
        QFETCH(QString, selected);
        select(rows(selected, n));
        w_->Frame1->setEnabled(true);
        w_->txtTrackName->setText(QStringLiteral("kept"));
        for (const QString &action : list(actions)) {
            const qsizetype before = runs_->size();
            act(action);
            const bool runs = !action.startsWith(u"press") && !selectedRows(w_->lstMP3Files).isEmpty();
            QVERIFY2(runs_->size() - before == runs, qPrintable(action));
        }
        QFETCH(QString, kept);
        QStringList files, names;
        for (int i : rows(kept, n)) {
            files << plainPath(i);
            names << QStringLiteral("name %1").arg(i);
        }
        QCOMPARE(texts(w_->lstMP3Files), files);
        QCOMPARE(texts(w_->lstRename), names);
        QFETCH(QString, selectedAfter);
        QCOMPARE(selectedRows(w_->lstMP3Files), rows(selectedAfter, n));
        if (actions == "cmdRemove" && !files.isEmpty())
            QCOMPARE(w_->lstMP3Files->currentRow(), rows(selectedAfter)[0]);
        QTEST(QString::number(w_->Frame1->isEnabled()), "frame");
        QVERIFY(w_->lstRename->isEnabled() == (actions == "cmdAllSel"));
        QCOMPARE(w_->txtTrackName->text(), QStringLiteral("kept"));
    }

    // Renamed entries keep their rows, selection and proposed names; the
    // report lists the failures as the list shows them.
    void rename_data() { addRows("rename", {"files", "selected", "after", "failed"}); }

    void rename()
    {
        QFETCH(QString, files);
        QFETCH(QString, selected);
        QFETCH(QString, after);
        QFETCH(QString, failed);
        QStringList listed;
        QList<bool> missing;
        QList<QPair<QString, QByteArray>> unlisted;
        for (const QString &desc : list(files)) {
            if (desc.startsWith(u'!')) {
                const QString p = makeMp3(desc.mid(1));
                unlisted.append({p, testdata::readAll(p)});
            } else {
                missing << desc.endsWith(u'~');
                listed << (missing.last() ? fx_.path(desc.chopped(1)) : makeMp3(desc));
            }
        }
        w_->lstMP3Files->addItems(listed);
        w_->MakeRenameList(0);
        const QStringList names = texts(w_->lstRename);
        select(rows(selected));

        QTest::mouseClick(w_->cmdRename, Qt::LeftButton);
        QStringList expected;
        for (const QString &name : list(after)) {
            expected << fx_.path(name);
            QCOMPARE(QFile::exists(expected.last()), !missing[expected.size() - 1]);
        }
        QCOMPARE(texts(w_->lstMP3Files), expected);
        QCOMPARE(texts(w_->lstRename), names);
        QCOMPARE(selectedRows(w_->lstMP3Files), rows(selected));
        for (const auto &[p, bytes] : unlisted)
            QCOMPARE(testdata::readAll(p), bytes);
        QString message = QStringLiteral("以下のファイルは変更できませんでした。\r\n\r\n");
        for (int row : rows(failed))
            message += listed[row] + QStringLiteral("\r\n");
        QCOMPARE(fx_.messages, failed.isEmpty() ? QStringList{} : QStringList{message});
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
        QCOMPARE(fx_.entries(), QByteArrayList{QFile::encodeName(single)} + inA + QByteArrayList{odd + "/x.mp3"});
        const QString tagged = "Singer - Title 000.mp3";
        QCOMPARE(texts(w_->lstRename), (QStringList{"Solo - Single.mp3", tagged, tagged, tagged}));
        drop({QUrl::fromEncoded("file://" + odd.toPercentEncoding("/"))}); // the folder by its bytes
        QCOMPARE(fx_.entries().mid(4), QByteArrayList{odd + "/x.mp3"});

        files("tree/a/y", 1);
        QByteArray folder = tree;
        {
            frmFileSelect window(w_->lstMP3Files, folder, w_->IniFile(), 0, 0, QIcon(), fx_.path("app"), w_);
            window.addFolderTree(tree + "/a");
            QCOMPARE(window.cmbDirList->itemText(window.cmbDirList->count() - 1), fx_.path("tree/a"));
        }
        QCOMPARE(fx_.entries().mid(5), inA + QByteArrayList{tree + "/a/y/000.mp3"});
    }

    void cancel_data()
    {
        QTest::addColumn<bool>("rename");
        QTest::newRow("reading") << false;
        QTest::newRow("renaming") << true;
    }

    // Cancel while tags are read: the entries not read are not added and the
    // lists stay in step. Cancel while files are renamed: those not yet
    // renamed keep their names, and the report says how many. (Cancel lands
    // before the work starts; where it stops is the rename library's test.)
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
    void undo_data() { addRows("undo", {"how", "messages", "after"}); }

    void undo()
    {
        QFETCH(QString, how);
        QTest::keyClick(w_, Qt::Key_Z, Qt::ControlModifier); // nothing to undo yet
        const QByteArrayList before = files("u", 3);
        renameAll(before);
        QCOMPARE(QDir(fx_.path("u")).entryList(QDir::Files), list("new 0.mp3;new 1.mp3;new 2.mp3"));
        if (how == "restart") {
            fx_.w.reset();
            fx_.load();
            w_ = fx_.w.get();
        }
        if (how == "taken")
            testdata::writeAll(fx_.path("u/001.mp3"), "someone else's");
        if (how == "damaged")
            testdata::writeAll(fx_.path("config/journal.txt"), "no journal at all");
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
            QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, w_->lstMP3Files->viewport()->mapToGlobal(at));
            QApplication::sendEvent(w_->lstMP3Files->viewport(), &menuEvent);
            QVERIFY(menuSeen);
            QCOMPARE(w_->lstMP3Files->selectionModel()->selectedRows().size(), 3);
        } else {
            QTest::keyClick(w_, Qt::Key_Z, Qt::ControlModifier);
        }
        QFETCH(QString, messages);
        QStringList got;
        for (const QString &m : fx_.messages)
            got << m.left(messages.size());
        QCOMPARE(got, list(messages));
        QTEST(QDir(fx_.path("u")).entryList(QDir::Files).join(u';'), "after");
        if (how == "keys" || how == "menu") // the entries follow their files
            QCOMPARE(fx_.entries(), before);
    }

    // Add from the CP932 folder found in the tree: the entries are read and
    // renamed by their bytes; a rename to a taken name is reported as the
    // list shows the file; the folder survives a restart in the history.
    void namesAddRenameRestart()
    {
        makeNamedFiles();
        const QString taken = u"歌手 - 曲四.mp3"_qs;
        std::ofstream(paths::join(folder_, taken.toUtf8()).constData()) << "taken";
        QString treeText;
        QStringList listed;
        w_->setSMP3Folder(QFile::encodeName(fx_.path(u"音 楽"_qs)));
        QVERIFY(fx_.inFileSelect([&](frmFileSelect &fs) {
            QModelIndex item;
            QTRY_VERIFY((item = childNamed(fs, fs.Dir1->currentIndex(), kFolder)).isValid());
            treeText = item.data().toString();
            fs.Dir1->setCurrentIndex(item);
            listed = texts(fs.File1);
            for (int i = 0; i < fs.File1->count(); ++i)
                fs.File1->item(i)->setSelected(fs.File1->item(i)->text() != taken);
            QTest::mouseClick(fs.cmdAddFiles, Qt::LeftButton);
        }));
        QCOMPARE(treeText, u"音楽データ"_qs);
        QCOMPARE(listed.size(), kFiles.size() + 1);
        QCOMPARE(w_->lstMP3Files->count(), kFiles.size());
        for (const NamedFile &f : kFiles) {
            const int row = int(fx_.entries().indexOf(paths::join(folder_, f.name)));
            QVERIFY2(row >= 0 && listed.contains(shownName(f)), f.kind);
            QCOMPARE(w_->lstMP3Files->item(row)->text(), shownPath(shownName(f)));
            QCOMPARE(w_->lstRename->item(row)->text(), u"歌手 - "_qs + f.title + u".mp3"_qs);
        }

        // The CP932-named file's tag shown and written through its bytes.
        const int row = int(fx_.entries().indexOf(paths::join(folder_, kFiles[0].name)));
        QTest::mouseClick(w_->lstMP3Files->viewport(), Qt::LeftButton, {},
                          w_->lstMP3Files->visualItemRect(w_->lstMP3Files->item(row)).center());
        QTRY_COMPARE(w_->txtTrackName->text(), kFiles[0].title);
        w_->txtTrackName->setText(kFiles[0].title + u"改"_qs);
        w_->cmdRewrite->click();
        QCOMPARE(w_->lstRename->item(row)->text(), u"歌手 - 曲一改.mp3"_qs);
        QVERIFY(fx_.messages.isEmpty());

        w_->cmdAllSel->click();
        w_->cmdRename->click();
        QList<QByteArray> names{taken.toUtf8()};
        for (int r = 0; r < w_->lstRename->count(); ++r) {
            const QString proposed = w_->lstRename->item(r)->text();
            const bool failed = proposed == taken;
            names << (failed ? kFiles[3].name : proposed.toUtf8());
            QCOMPARE(w_->entryPath(r), paths::join(folder_, names.last()));
            QCOMPARE(w_->lstMP3Files->item(r)->text(), shownPath(failed ? shownName(kFiles[3]) : proposed));
        }
        QList<QByteArray> onDisk;
        for (const auto &entry : std::filesystem::directory_iterator(folder_.constData()))
            onDisk << QByteArray::fromStdString(entry.path().filename().native());
        std::sort(names.begin(), names.end());
        std::sort(onDisk.begin(), onDisk.end());
        QCOMPARE(onDisk, names);
        QCOMPARE(fx_.messages.size(), 1);
        QVERIFY(fx_.messages[0].endsWith(shownPath(shownName(kFiles[3])) + u"\r\n"_qs));

        // Restart: the folder is the MP3 folder and in the history; in the
        // settings UTF-8 parts stay readable, other bytes and the blank are escaped.
        runs_.reset();
        fx_.w.reset();
        QVERIFY(testdata::readAll(fx_.iniPath())
                    .contains("MP3=file://" + QFile::encodeName(fx_.dir->path())
                              + "/音%20楽/%89%B9%8Ay%83f%81%5B%83%5E\r\n"));
        fx_.load();
        QCOMPARE(fx_.w->sMP3Folder(), folder_);
        QStringList history;
        QVERIFY(fx_.inFileSelect([&](frmFileSelect &fs) {
            for (int i = 0; i < fs.cmbDirList->count(); ++i)
                history << fs.cmbDirList->itemText(i);
            QCOMPARE(fs.cmbDirList->currentIndex(), 0);
            listed = texts(fs.File1);
        }));
        QCOMPARE(history, QStringList{fx_.dir->path() + u"/音 楽/音楽データ"_qs});
        QCOMPARE(listed.size(), kFiles.size() + 1);
    }

    void namesPlay_data()
    {
        QTest::addColumn<int>("file");
        for (int i = 0; i < kFiles.size(); ++i)
            QTest::newRow(kFiles[i].kind) << i;
    }

    // A double-click in the file list plays the file named by those bytes.
    void namesPlay()
    {
        QFETCH(int, file);
        makeNamedFiles();
        const QString wav = fx_.path(QStringLiteral("sound.wav"));
        const auto hasSound = [&] {
            const QByteArray bytes = testdata::readAll(wav);
            return bytes.size() > 44 + 4096 && bytes.mid(44).count('\0') < bytes.size() - 44;
        };
        mp3lib::setWavOutputForTesting(QFile::encodeName(wav).constData());
        w_->setSMP3Folder(folder_);
        bool played = false;
        QVERIFY(fx_.inFileSelect([&](frmFileSelect &fs) {
            const auto items = fs.File1->findItems(shownName(kFiles[file]), Qt::MatchExactly);
            QCOMPARE(items.size(), 1);
            const QPoint at = fs.File1->visualItemRect(items.first()).center();
            WindowFixture::whenModal<frmPLay>(
                [&](frmPLay &player) {
                    played = QTest::qWaitFor(hasSound, 5000);
                    player.close();
                },
                [&] {
                    QTest::mouseClick(fs.File1->viewport(), Qt::LeftButton, {}, at);
                    QTest::mouseDClick(fs.File1->viewport(), Qt::LeftButton, {}, at);
                    QTest::mouseRelease(fs.File1->viewport(), Qt::LeftButton, {}, at);
                });
        }));
        mp3lib::setWavOutputForTesting(nullptr);
        QVERIFY(played);
        QVERIFY(fx_.messages.isEmpty());
    }
};

QTEST_MAIN(TestLists)
#include "tst_lists.moc"
