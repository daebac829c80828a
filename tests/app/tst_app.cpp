// The main window through the real settings file, genre list, windows and MP3 files: start-up and
// shutdown, the tag frame, list commands, Rename, Cancel, Undo, and names that are not UTF-8.
#include <fstream>

#include "app/mainwindowfixture.h"
#include "gui/ui/twips.h"
#include "core/paths/paths.h"
#include "gui/ui/progressrun.h"
#include "gui/ui/windowposition.h"

namespace {

// The share of a widget's drawn pixels in the fields' light yellow.
double yellowShare(QWidget *widget)
{
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto *pixels = reinterpret_cast<const QRgb *>(image.constBits());
    const qsizetype size = image.width() * image.height();
    return double(std::count(pixels, pixels + size, qRgb(255, 255, 192))) / size;
}

// A CP932 folder "音楽データ"; its files, from [names]: name bytes, the text shown for them, title.
const QByteArray kFolder = "\x89\xB9\x8A\x79\x83\x66\x81\x5B\x83\x5E";
struct NamedFile {
    QByteArray name;
    QString shown, title;
};

} // namespace

class TestApp : public QObject {
    Q_OBJECT

    WindowFixture fx_;
    frmMain *w_ = nullptr;
    std::unique_ptr<QSignalSpy> runs_; // runs of the tag display

    // Loads the window, in place of the one shown if any.
    void open()
    {
        fx_.w.reset();
        fx_.load();
        w_ = fx_.w.get();
        w_->Frame1->setEnabled(true); // as a click on one file leaves it
        runs_ = std::make_unique<QSignalSpy>(w_, &frmMain::lstMP3FilesClickRaised);
    }

    // Makes `row` current with entry 0 the one selected (`row` or not), then reports a click.
    void click(int row)
    {
        QItemSelectionModel *model = w_->lstMP3Files->selectionModel();
        QSignalBlocker block(model);
        model->setCurrentIndex(w_->lstMP3Files->model()->index(row, 0), QItemSelectionModel::NoUpdate);
        model->select(w_->lstMP3Files->model()->index(0, 0), QItemSelectionModel::ClearAndSelect);
        block.unblock();
        w_->lstMP3Files_Click();
    }

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
        QByteArrayList out;
        for (int i = 0; i < n; ++i) {
            const QString name = QStringLiteral("%1/%2.mp3").arg(folder).arg(i, 3, 10, QChar(u'0'));
            out << QFile::encodeName(fx_.file(name, {"Title 000", "Singer"}));
        }
        return out;
    }

    // `n` entries that name no file, "/none/fN.mp3".
    void plainEntries(int n)
    {
        QStringList entries;
        for (int i = 0; i < n; ++i)
            entries << QStringLiteral("/none/f%1.mp3").arg(i);
        fx_.setEntries(entries);
    }

    // Selects `rows`, lets the notifications run, then forgets them.
    void select(const QList<int> &rows)
    {
        w_->lstMP3Files->clearSelection();
        for (int row : rows)
            w_->lstMP3Files->selectionModel()->select(w_->lstMP3Files->model()->index(row, 0), QItemSelectionModel::Select);
        QCoreApplication::processEvents();
        runs_->clear();
        fx_.messages.clear();
    }

    // A button's name, or "click:R", "shift:R", "ctrl:R", "press:R", "release:R", "shiftdown" on the
    // list; "select:R R", "menu:R" (a right click on row R, then Undo in the menu), "ctrlZ",
    // "cancel" (at the first progress report), "restart", "write:NAME" (someone else's file), or
    // "disk?:NAME,NAME", the files in the test folder.
    void act(const QString &action)
    {
        QListView *list = w_->lstMP3Files;
        const QString kind = action.section(u':', 0, 0), arg = action.section(u':', 1);
        const QPoint at = rowCentre(list, arg.toInt());
        static const QHash<QString, QTest::MouseAction> mouse{{"press", QTest::MousePress},
                                                              {"release", QTest::MouseRelease}};
        static const QHash<QString, Qt::KeyboardModifier> with{{"shift", Qt::ShiftModifier},
                                                               {"ctrl", Qt::ControlModifier}};
        if (kind.startsWith(u"cmd"))
            QTest::mouseClick(w_->findChild<QPushButton *>(kind), Qt::LeftButton);
        else if (kind == u"shiftdown")
            QTest::keyClick(list, Qt::Key_Down, Qt::ShiftModifier);
        else if (kind == u"select")
            select(rows(arg));
        else if (kind == u"menu")
            undoFromMenu(at);
        else if (kind == u"ctrlZ")
            QTest::keyClick(w_, Qt::Key_Z, Qt::ControlModifier);
        else if (kind == u"cancel")
            cancelFirst();
        else if (kind == u"restart")
            open();
        else if (kind == u"write")
            testdata::writeAll(fx_.path(arg), "someone else's");
        else if (kind == u"disk?")
            QCOMPARE(QDir(fx_.dir->path()).entryList(QDir::Files), arg.split(u','));
        else
            QTest::mouseEvent(mouse.value(kind, QTest::MouseClick), list->viewport(), Qt::LeftButton,
                              with.value(kind, Qt::NoModifier), at);
        QCoreApplication::processEvents();
    }

    // Right-clicks the list at `at`: the menu's first entry is Undo, enabled; it is chosen.
    void undoFromMenu(QPoint at)
    {
        bool menuSeen = false;
        QTimer::singleShot(0, [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            menuSeen = menu && !menu->actions().isEmpty() && menu->actions()[0]->text() == "元に戻す"
                       && menu->actions()[0]->isEnabled();
            if (menuSeen)
                menu->actions()[0]->trigger();
            if (menu)
                menu->close();
        });
        QTest::mouseClick(w_->lstMP3Files->viewport(), Qt::RightButton, {}, at);
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, w_->lstMP3Files->viewport()->mapToGlobal(at));
        QApplication::sendEvent(w_->lstMP3Files->viewport(), &menuEvent);
        QVERIFY(menuSeen);
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

    // Cancels on the first progress report.
    void cancelFirst()
    {
        ui::setProgressHookForTesting([reports = 0]() mutable {
            if (reports++ == 0)
                QVERIFY(ui::cancelProgressForTesting());
        });
    }

    QString shownPath(const QString &name) const { return fx_.dir->path() + u"/音 楽/音楽データ/"_qs + name; }

private slots:
    void init()
    {
        TABLE_FAIL_BROKEN_ROW();
        fx_.setUp();
    }

    void cleanup()
    {
        runs_.reset();
        ui::setProgressHookForTesting({});
        fx_.tearDown();
    }

    // A start in the program folder with genres sorted, each once with its number, none empty, and
    // the colours as drawn; position and folder kept as read until the window moves; no write after
    // the first unload; a failed start tells its cause, shows nothing and keeps the settings.
    void position_data()
    {
        const QPoint home = QGuiApplication::primaryScreen()->availableGeometry().topLeft();
        const int bottom = QGuiApplication::primaryScreen()->virtualGeometry().bottom() + 1;
        addRows("position", {"top", "left", "pixels", "topOut", "leftOut", "closeBy"},
                {{"$top0", QString::number(home.y() * 15)},
                 {"$left0", QString::number(home.x() * 15)},
                 {"$xy0", QStringLiteral("%1 %2").arg(home.x()).arg(home.y())},
                 {"$below", QString::number(bottom * 15)}});
    }

    void position()
    {
        QFETCH(QString, top);
        QFETCH(QString, left);
        QFETCH(QString, pixels);
        QFETCH(QString, closeBy);
        const QString folder = top.isEmpty() ? QString() : QStringLiteral("/music/日本 語/%41"); // "%41" kept
        const QString ini = QStringLiteral("[Position]\r\nTop=%1\r\nLeft=%2\r\n[Folder]\r\nMP3=%3\r\n");
        if (!top.isEmpty())
            testdata::writeAll(fx_.iniPath(), ini.arg(top, left, folder).toUtf8());
        const bool fails = closeBy == "start fails" || closeBy == "no genre names";
        mp3lib::setInitFailureForTesting(closeBy == "start fails");
        mp3lib::setEmptyGenreTableForTesting(closeBy == "no genre names");
        fx_.load(fails);
        frmMain *w = fx_.w.get();
        if (!fails) {
            QCOMPARE(w->sMP3Folder(), folder.toUtf8());
            QCOMPARE(w->pos(), QPoint(rows(pixels)[0], rows(pixels)[1]));
            QCOMPARE(QDir::current().canonicalPath(), QDir(fx_.path("app")).canonicalPath());
            QCOMPARE(fx_.messages, QStringList());
            const QComboBox *cmb = w->cmbGenre;
            QCOMPARE(cmb->itemText(cmb->findData(17)), QStringLiteral("Rock"));
            QSet<int> seen;
            for (int i = 0; i < cmb->count(); ++i) {
                QVERIFY(!seen.contains(cmb->itemData(i).toInt()) && !cmb->itemText(i).trimmed().isEmpty());
                seen.insert(cmb->itemData(i).toInt());
                QVERIFY(i == 0 || cmb->itemText(i - 1).compare(cmb->itemText(i), Qt::CaseInsensitive) <= 0);
            }
            QVERIFY(seen.size() > 100);
            QCOMPARE(w->lstRename->palette().color(QPalette::Disabled, QPalette::Text), QColor(255, 255, 128));
            QVERIFY(yellowShare(w->cmbGenre) > 0.5);
            w->cmbGenre->showPopup();
            QVERIFY(yellowShare(w->cmbGenre->view()) > 0.5);
            w->cmbGenre->hidePopup();
        }
        const QString fixed = QStringLiteral("初期化に失敗しました。");
        if (fails) { // the cause named unless the library merely said no
            QVERIFY(!w->testAttribute(Qt::WA_WState_ExplicitShowHide));
            QCOMPARE(fx_.icons, QList<QMessageBox::Icon>{QMessageBox::Critical});
            QVERIFY(fx_.messages[0].startsWith(fixed));
            QCOMPARE(fx_.messages[0] == fixed, closeBy == "start fails");
        } else if (closeBy == "Esc") {
            QTest::keyClick(w, Qt::Key_Escape);
        } else if (closeBy == "Esc in list") {
            QTest::keyClick(w->lstMP3Files, Qt::Key_Escape);
        } else if (closeBy == "close box") {
            QVERIFY(w->close());
        } else if (closeBy == "Close") {
            QTest::mouseClick(w->cmdClose, Qt::LeftButton);
        } else { // destroyed without a close, still unloads
            w->move(40, 30);
            fx_.w.reset();
        }
        inifile_IO settings;
        settings.setFileName(fx_.iniPath());
        QTEST(settings.ReadStr("Position", "Top", "<missing>"), "topOut");
        QTEST(settings.ReadStr("Position", "Left", "<missing>"), "leftOut");
        QVERIFY(testdata::readAll(fx_.iniPath()).contains("\nMP3=" + folder.toUtf8() + "\r\n")); // even empty
        QVERIFY(QFile::remove(fx_.iniPath()));
        if (fx_.w) { // closed again: no second unload
            w->cmdClose->click();
            fx_.w.reset();
            QVERIFY(!QFile::exists(fx_.iniPath()));
        }
    }

    // Stored text to twips, back to the shortest text, and to pixels.
    void positionText_data() { addRows("positionText", {"text", "twips", "written", "pixels"}); }

    void positionText()
    {
        QFETCH(QString, text);
        QFETCH(QString, twips);
        QFETCH(QString, written);
        const float read = ui::positionFromText(text).value_or(0);
        QCOMPARE(read, twips.toFloat());
        if (!written.isEmpty())
            QCOMPARE(ui::positionToText(read), written);
        QCOMPARE(ui::positionFromText(ui::positionToText(read)).value_or(0), read);
        QTEST(QString::number(ui::positionToPixels(read)), "pixels");
    }

    // The tag shown on a click, Copy and Paste, and Update writing only what was edited.
    void edit_data()
    {
        addRows("edit", {"tag", "current", "shown", "messages", "typed", "name", "stored", "readOnly", "copied", "line"});
    }

    void edit()
    {
        QFETCH(QString, tag);
        QFETCH(QString, current);
        QFETCH(QString, stored);
        QFETCH(QString, readOnly);
        const QByteArray picture = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(3000, 'p');
        const bool gone = tag == "gone";
        const QString target = gone ? fx_.path("target.mp3") : fx_.file("target.mp3", six(tag), picture);
        const QString other = fx_.file("other.mp3", kTagB);
        const QByteArray before = testdata::readAll(target), otherBytes = testdata::readAll(other);
        const QByteArray native = QFile::encodeName(target);
        if (!readOnly.isEmpty() && (::geteuid() != 0 || ::mount(native, native, nullptr, MS_BIND, nullptr) != 0))
            QSKIP("a read-only bind mount needs root");
        const auto unmount = qScopeGuard([&] { ::umount2(native.constData(), MNT_DETACH); }); // if mounted
        if (!readOnly.isEmpty())
            QCOMPARE(::mount(nullptr, native, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
        open();
        fx_.setEntries({other, target});
        click(0);
        QFETCH(QString, copied);
        if (!copied.isEmpty()) {
            WindowFixture::type(*w_, six(copied));
            w_->cmdCopy_Click();
            QTEST(QGuiApplication::clipboard()->text(), "line");
        }
        click(current.toInt());
        QTEST(WindowFixture::shown(*w_).join(u';'), "shown");
        QCOMPARE(currentRow(w_->lstRename), qMax(current.toInt(), 0));
        QVERIFY(w_->lstRename->selectionModel()->isSelected(w_->lstRename->currentIndex()));
        QFETCH(QString, typed);
        if (typed == "paste") { // the copied fields, not the clipboard; nothing written yet
            QGuiApplication::clipboard()->setText("not read by Paste");
            w_->cmdPaste_Click();
            QCOMPARE(testdata::readAll(target), before);
        } else {
            WindowFixture::type(*w_, six(typed));
        }
        w_->cmdRewrite_Click();

        QTEST(fx_.messages.join(u';'), "messages");
        QCOMPARE(fx_.icons, QList<QMessageBox::Icon>(fx_.icons.size(), QMessageBox::Warning));
        QFETCH(QString, name);
        QCOMPARE(texts(w_->lstRename), QStringList({"name 0", name}));
        QCOMPARE(testdata::readAll(other), otherBytes);
        if (gone)
            QCOMPARE(QDir(fx_.dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"other.mp3"});
        else if (stored == "-")
            QCOMPARE(testdata::readAll(target), before);
        else
            QCOMPARE(WindowFixture::readTag(target).join(u';'), stored);
        QVERIFY(gone || tag == "-" || testdata::readAll(target).contains(picture));
        // Ctrl+Z takes the Update back byte for byte, with no message, and
        // the tag frame shows the file's tag again (a file left without one
        // says so, as a click on it does).
        const bool written = !gone && testdata::readAll(target) != before;
        const qsizetype said = fx_.messages.size();
        act("ctrlZ");
        const QStringList after = fx_.messages.mid(said);
        QVERIFY2(after.isEmpty() || (written && after == QStringList{"Tag info error"}), qPrintable(after.join(u';')));
        if (!gone)
            QCOMPARE(testdata::readAll(target), before);
        if (written && after.isEmpty())
            QTEST(WindowFixture::shown(*w_).join(u';'), "shown");
    }

    // Add through the file selection window, past the 32,767 entries of old lists too; or cancelled.
    void add_data() { addRows("add", {"before", "chosen", "cancelled"}); }

    void add()
    {
        open();
        QFETCH(QString, before);
        const int n = before.toInt();
        QFETCH(QString, chosen);
        const QStringList names = list(chosen);
        QFETCH(QString, cancelled); // at once: nothing added
        const QStringList proposed{"Singer A - Title A.mp3", "*[Tag info error]", "*[Filename error]"};
        for (const char *desc : {"a.mp3=Singer A|Title A", "b.mp3", "c.mp3=Who?|Title C"})
            makeMp3(QString::fromUtf8(desc));
        files(".", 9); // more than one chunk of names for the readers
        plainEntries(n);
        select({});
        w_->setSMP3Folder(QFile::encodeName(fx_.dir->path()));
        QVERIFY(fx_.inFileSelect([&](frmFileSelect &fs) {
            for (int i = 0; i < fs.File1->count(); ++i)
                fs.File1->item(i)->setSelected(chosen == "all"
                                               || names.contains(fs.File1->item(i)->text()));
            if (!cancelled.isEmpty())
                cancelFirst();
            if (!names.isEmpty())
                QTest::mouseClick(fs.cmdAddFiles, Qt::LeftButton);
            if (cancelled.isEmpty()) // the names come while the window is still open
                QTRY_COMPARE(texts(w_->lstRename).mid(n), QStringList(proposed.first(names.size())));
        }));
        const int added = cancelled.isEmpty() ? int(names.size()) : 0;
        QCOMPARE(texts(w_->lstMP3Files).mid(n), names.first(added).replaceInStrings(QRegularExpression("^"), fx_.dir->path() + "/"));
        QCOMPARE(texts(w_->lstRename).mid(n - 1), QStringList{QStringLiteral("name %1").arg(n - 1)} + proposed.first(added));
        QCOMPARE(fx_.messages, QStringList{"File not found"}); // entry 0, current again, names no file
        QCOMPARE(currentRow(w_->lstMP3Files), 0);
        QCOMPARE(runs_->size(), 1);
    }

    // List commands, Rename and Undo on plain entries or on files: the entries, proposed names and
    // selection left, the files on disk and the messages. On plain entries each list action runs
    // the tag display once (a press or an empty selection not at all) and leaves the boxes alone.
    void actions_data()
    {
        addRows("actions", {"entries", "selected", "actions", "kept", "selectedAfter", "frame", "onDisk", "messages"});
    }

    void actions()
    {
        open();
        QFETCH(QString, entries);
        bool plain = false;
        const int n = entries.toInt(&plain);
        QByteArrayList listed;
        for (const QString &desc : plain ? QStringList() : list(entries)) {
            const QString p = desc.endsWith(u'~') ? fx_.path(desc.chopped(1)) : makeMp3(desc.mid(desc[0] == u'!'));
            if (desc[0] != u'!')
                listed << QFile::encodeName(p);
        }
        if (plain)
            plainEntries(n);
        else
            w_->appendFiles(listed);
        const QStringList names = texts(w_->lstRename);
        QFETCH(QString, selected);
        select(rows(selected, n));
        w_->Frame1->setEnabled(true);
        w_->txtTrackName->setText(QStringLiteral("kept"));
        QFETCH(QString, actions);
        for (const QString &action : list(actions)) {
            const table::Step named(action);
            const qsizetype before = runs_->size();
            act(action);
            const bool runs = !action.startsWith(u"press") && !selectedRows(w_->lstMP3Files).isEmpty();
            QVERIFY2(!plain || runs_->size() - before == runs, qPrintable(action));
        }
        QFETCH(QString, kept); // rows of plain entries, with their proposed names; or files by name
        QStringList shown, proposed = plain ? QStringList() : names.first(list(kept).size());
        for (int i : plain ? rows(kept, n) : QList<int>()) {
            shown << QStringLiteral("/none/f%1.mp3").arg(i);
            proposed << names[i];
        }
        for (const QString &name : plain ? QStringList() : list(kept))
            shown << fx_.path(name);
        QCOMPARE(texts(w_->lstMP3Files), shown);
        for (int row = 0; row < shown.size(); ++row) // the entries follow their files
            QCOMPARE(w_->entryPath(row), QFile::encodeName(shown[row]));
        QCOMPARE(texts(w_->lstRename), proposed);
        QFETCH(QString, selectedAfter);
        QCOMPARE(selectedRows(w_->lstMP3Files), rows(selectedAfter, n));
        if (actions == "cmdRemove" && !shown.isEmpty())
            QCOMPARE(currentRow(w_->lstMP3Files), rows(selectedAfter)[0]);
        if (plain) {
            QTEST(QString::number(w_->Frame1->isEnabled()), "frame");
            QVERIFY(w_->lstRename->isEnabled() == (actions == "cmdAllSel"));
            QCOMPARE(w_->txtTrackName->text(), QStringLiteral("kept"));
            return;
        }
        QTEST(QDir(fx_.dir->path()).entryList(QDir::Files).join(u';'), "onDisk");
        QFETCH(QString, messages); // the messages' beginnings, $dir the test folder
        messages.replace("$dir", fx_.dir->path());
        QCOMPARE(fx_.messages.size(), list(messages).size());
        QCOMPARE(fx_.messages.join(u';').left(messages.size()), messages);
    }

    // 中止 in the middle of a Rename of 300 files stops it at once: the files renamed so far
    // keep their new names and are undone by Undo; an Undo stopped before it began keeps the
    // batch, and the next Undo puts every file back.
    void cancelRename()
    {
        open();
        QByteArrayList paths;
        QStringList renamed;
        for (int i = 0; i < 300; ++i) {
            const QString title = QStringLiteral("T%1").arg(i, 3, 10, QChar(u'0'));
            paths << QFile::encodeName(fx_.file(title + u".mp3"_qs, {title, "S"}));
            renamed << fx_.path(u"S - "_qs + title + u".mp3"_qs);
        }
        w_->appendFiles(paths);
        w_->cmdAllSel_Click();
        std::atomic<bool> reached = false, pressed = false;
        frmMain::setRenameStepForTesting([&](int file) {
            reached = reached || file == 100;
            while (reached && !pressed)
                QThread::yieldCurrentThread();
        });
        ui::setProgressHookForTesting([&] {
            if (reached && !pressed)
                pressed = ui::cancelProgressForTesting();
        });
        act("cmdRename");
        frmMain::setRenameStepForTesting({});
        QCOMPARE(fx_.messages, QStringList{u"中止したため、199 件のファイルは変更していません。"_qs});
        for (int i = 0; i < 300; ++i) // the entries follow their files
            QCOMPARE(w_->entryPath(i), i <= 100 ? QFile::encodeName(renamed[i]) : paths[i]);
        QCOMPARE(QDir(fx_.dir->path()).entryList({"S - *"}).size(), 101);
        fx_.messages.clear();
        cancelFirst();
        act("ctrlZ");
        QCOMPARE(fx_.messages.value(0).left(26), u"中止したため、101 件のファイルは元に戻していません。"_qs.left(26));
        QCOMPARE(QDir(fx_.dir->path()).entryList({"S - *"}).size(), 101);
        ui::setProgressHookForTesting({});
        act("ctrlZ");
        QCOMPARE(fx_.entries(), paths);
        QCOMPARE(QDir(fx_.dir->path()).entryList({"S - *"}), QStringList());
        QCOMPARE(fx_.messages.size(), 1);
    }

    // Dropped trees and files, and a tree added from the folder menu: each MP3 file once, sorted.
    void trees()
    {
        open();
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
            frmFileSelect window(folder, w_->IniFile(), 0, 0, QIcon(), fx_.path("app"), w_);
            connect(&window, &frmFileSelect::filesChosen,
                    [&](const QList<QByteArray> &files) { w_->entries()->append(files); });
            window.addFolderTree(tree + "/a");
            QCOMPARE(window.cmbDirList->itemText(window.cmbDirList->count() - 1), fx_.path("tree/a"));
        }
        QCOMPARE(fx_.entries().mid(5), inA + QByteArrayList{tree + "/a/y/000.mp3"});
    }

    // The controls of `window` that take the keyboard focus, and the names of those that look
    // the same with it as without (their pixels and those around them); `a` and `b` two of them.
    static std::pair<QList<QWidget *>, QStringList> focusShown(QWidget *window, QWidget *a, QWidget *b)
    {
        const auto look = [&](QWidget *control) {
            QApplication::processEvents();
            return window->grab(QRect(control->mapTo(window, QPoint(0, 0)), control->size()).adjusted(-3, -3, 3, 3)).toImage();
        };
        std::pair<QList<QWidget *>, QStringList> out;
        for (QWidget *control : window->findChildren<QWidget *>()) {
            if (!(control->focusPolicy() & Qt::TabFocus) || !control->isVisible() || !control->isEnabled())
                continue;
            out.first << control;
            (control == a ? b : a)->setFocus(Qt::TabFocusReason);
            const QImage before = look(control);
            control->setFocus(Qt::TabFocusReason);
            if (look(control) == before)
                out.second << control->objectName();
        }
        return out;
    }

    // Every control of the main window and the file selection window that takes the keyboard
    // focus shows it, and Enter and the keypad's Enter press a focused button, as Space does.
    void keyboard()
    {
        open();
        fx_.setEntries({"/m/a.mp3"});
        w_->lstRename->setEnabled(true);   // as Select All leaves it
        const auto [controls, unseen] = focusShown(w_, w_->cmdOpen, w_->cmdClose);
        QCOMPARE(unseen, QStringList());
        QCOMPARE(controls.size(), 17);
        QStringList unseenInFileSelect{"not opened"};
        QVERIFY(fx_.inFileSelect([&](frmFileSelect &fs) {
            unseenInFileSelect = focusShown(&fs, fs.Drive1, fs.cmdCancel).second;
        }));
        QCOMPARE(unseenInFileSelect, QStringList());
        for (QWidget *control : controls) {
            auto *button = qobject_cast<QPushButton *>(control);
            if (!button)
                continue;
            button->setFocus(Qt::TabFocusReason);
            button->disconnect(w_);   // counted, not run
            QSignalSpy clicks(button, &QPushButton::clicked);
            for (const int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
                QTest::keyClick(button, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
            QVERIFY2(clicks.size() == 3, qPrintable(control->objectName()));
        }
    }

    // The genre box, in its place, has room beside its arrow for "Soundtrack"
    // and every shorter name; the list it drops holds the longest whole.
    void genreBox()
    {
        open();
        QStyleOptionComboBox option;
        option.initFrom(w_->cmbGenre);
        const QRect text = w_->cmbGenre->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, w_->cmbGenre);
        QCOMPARE(w_->cmbGenre->geometry(), ui::twipsRect(2580, 1920, 1335, 300));
        // Latin text is drawn in the system's sans-serif font, or in the Japanese one.
        for (const QString &family : {QFontInfo(QFont("Sans Serif")).family(), QStringLiteral("Noto Sans CJK JP")}) {
            QFont font = w_->cmbGenre->font();
            font.setFamilies({family});
            const QFontMetrics metrics(font);
            QVERIFY2(text.width() >= metrics.horizontalAdvance("Soundtrack"), qPrintable(family));
            for (int i = 0; i < w_->cmbGenre->count(); ++i)
                QVERIFY(w_->cmbGenre->view()->minimumWidth() > metrics.horizontalAdvance(w_->cmbGenre->itemText(i)));
        }
    }

    // A CP932 folder from the tree: entries read, edited, renamed and played by their bytes; the
    // folder kept in the settings and the history.
    void namesNotUtf8()
    {
        open();
        QList<NamedFile> named;
        for (const table::Row &row : table::rows("app-cases.txt", "names", {"bytes", "shown", "title"})) {
            QVERIFY2(row.error.isEmpty(), qPrintable(row.error));
            named.append({QByteArray::fromPercentEncoding(row.text(0).toUtf8()), row.text(1), row.text(2)});
        }
        const QByteArray folder = QFile::encodeName(fx_.path(u"音 楽/"_qs)) + kFolder;
        QVERIFY(QDir().mkpath(fx_.path(u"音 楽"_qs)) && ::mkdir(folder.constData(), 0755) == 0);
        for (const NamedFile &f : named) // tagged under a UTF-8 name, then renamed to bytes
            QVERIFY(::rename(QFile::encodeName(fx_.file("tagging.mp3", {f.title, u"歌手"_qs})).constData(),
                             paths::join(folder, f.name).constData()) == 0);
        const QString taken = u"歌手 - 曲四.mp3"_qs;
        std::ofstream(paths::join(folder, taken.toUtf8()).constData()) << "taken";
        QStringList listed;
        w_->setSMP3Folder(QFile::encodeName(fx_.path(u"音 楽"_qs)));
        QVERIFY(fx_.inFileSelect([&](frmFileSelect &fs) {
            QAbstractItemModel *tree = fs.Dir1->model();
            QModelIndexList item; // once the tree has listed the folder
            QTRY_VERIFY(!(item = tree->match(tree->index(0, 0, fs.Dir1->currentIndex()), paths::kPathRole, folder))
                             .isEmpty());
            QCOMPARE(item[0].data().toString(), u"音楽データ"_qs);
            fs.Dir1->setCurrentIndex(item[0]);
            listed = texts(fs.File1);
            for (int i = 0; i < fs.File1->count(); ++i)
                fs.File1->item(i)->setSelected(fs.File1->item(i)->text() != taken);
            QTest::mouseClick(fs.cmdAddFiles, Qt::LeftButton);
        }));
        QCOMPARE(listed.size(), named.size() + 1);
        QCOMPARE(w_->entries()->count(), named.size());
        for (const NamedFile &f : named) {
            const int row = int(fx_.entries().indexOf(paths::join(folder, f.name)));
            QVERIFY(row >= 0 && listed.contains(f.shown));
            QCOMPARE(rowText(w_->lstMP3Files, row), shownPath(f.shown));
            QCOMPARE(rowText(w_->lstRename, row), u"歌手 - "_qs + f.title + u".mp3"_qs);
        }

        // The CP932-named file's tag shown and written through its bytes.
        const int row = int(fx_.entries().indexOf(paths::join(folder, named[0].name)));
        QTest::mouseClick(w_->lstMP3Files->viewport(), Qt::LeftButton, {},
                          rowCentre(w_->lstMP3Files, row));
        QTRY_COMPARE(w_->txtTrackName->text(), named[0].title);
        w_->txtTrackName->setText(named[0].title + u"改"_qs);
        w_->cmdRewrite->click();
        QCOMPARE(rowText(w_->lstRename, row), u"歌手 - 曲一改.mp3"_qs);
        QVERIFY(fx_.messages.isEmpty());

        w_->cmdAllSel->click();
        w_->cmdRename->click();
        for (int r = 0; r < w_->entries()->count(); ++r) { // each at its new name, but the one refused
            const QString proposed = rowText(w_->lstRename, r);
            const bool failed = proposed == taken;
            QCOMPARE(w_->entryPath(r), paths::join(folder, failed ? named[3].name : proposed.toUtf8()));
            QCOMPARE(rowText(w_->lstMP3Files, r), shownPath(failed ? named[3].shown : proposed));
            QVERIFY(::access(w_->entryPath(r).constData(), F_OK) == 0);
        }
        QCOMPARE(fx_.messages, QStringList{fx_.messages.value(0)});
        QVERIFY(fx_.messages[0].endsWith(shownPath(named[3].shown) + u"\r\n"_qs));

        // In the settings UTF-8 parts stay readable, other bytes and the blank are escaped.
        runs_.reset();
        fx_.w.reset();
        QVERIFY(testdata::readAll(fx_.iniPath())
                    .contains("MP3=file://" + QFile::encodeName(fx_.dir->path())
                              + "/音%20楽/%89%B9%8Ay%83f%81%5B%83%5E\r\n"));
        fx_.load();
        QCOMPARE(fx_.w->sMP3Folder(), folder);
        const QString wav = fx_.path(QStringLiteral("sound.wav"));
        mp3lib::setWavOutputForTesting(QFile::encodeName(wav).constData());
        bool played = false;
        QVERIFY(fx_.inFileSelect([&](frmFileSelect &fs) {
            QCOMPARE(fs.cmbDirList->count(), 1);
            QCOMPARE(fs.cmbDirList->currentText(), fx_.dir->path() + u"/音 楽/音楽データ"_qs);
            QCOMPARE(fs.File1->count(), named.size() + 1);
            WindowFixture::play(fs, named[3].shown, [&](frmPLay &player) {
                played = QTest::qWaitFor([&] { return WindowFixture::hasSound(wav, 4096); }, 5000);
                player.close();
            });
        }));
        mp3lib::setWavOutputForTesting(nullptr);
        QVERIFY(played);
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
