// The list commands, user actions on the file list, proposed names and
// Rename, driven through the real window and file selection window.
#include <QSignalSpy>

#include "mainwindowfixture.h"

namespace {

QList<int> selectedRows(const QListWidget *list)
{
    QList<int> rows;
    for (const QModelIndex &index : list->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

// Entries that name no file.
QString plainPath(int i) { return QStringLiteral("/none/f%1.mp3").arg(i); }
QStringList plain(int count)
{
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths << plainPath(i);
    return paths;
}

} // namespace

class TestListCommands : public QObject {
    Q_OBJECT

    WindowFixture fx_;
    frmMain *w_ = nullptr;
    std::unique_ptr<QSignalSpy> runs_; // runs of the tag display

    // "name=Singer|Title" is tagged, "name" is not.
    QString makeMp3(const QString &desc)
    {
        const QStringList tag = desc.section(u'=', 1).split(u'|');
        return fx_.file(desc.section(u'=', 0, 0), desc.contains(u'=') ? Six{tag[1], tag[0]} : Six());
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
        if (kind.startsWith(u"cmd"))
            QTest::mouseClick(w_->findChild<QPushButton *>(kind), Qt::LeftButton);
        else if (kind == u"shiftdown")
            QTest::keyClick(list, Qt::Key_Down, Qt::ShiftModifier);
        else if (kind == u"press")
            QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
        else if (kind == u"release")
            QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
        else
            QTest::mouseClick(list->viewport(), Qt::LeftButton,
                              kind == u"shift"  ? Qt::ShiftModifier
                              : kind == u"ctrl" ? Qt::ControlModifier
                                                : Qt::NoModifier,
                              at);
        QCoreApplication::processEvents();
    }

private slots:
    void init()
    {
        fx_.setUp();
        fx_.load(true);
        w_ = fx_.w.get();
        runs_ = std::make_unique<QSignalSpy>(w_, &frmMain::lstMP3FilesClickRaised);
    }

    void cleanup()
    {
        runs_.reset();
        fx_.tearDown();
    }

    // Add through the file selection window: the chosen files with their
    // proposed names after the entries there were; what does not fit past
    // 32,767 entries is left out, and the user told once.
    void add_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<QStringList>("chosen");
        const QStringList three{"a.mp3", "b.mp3", "c.mp3"};
        QTest::newRow("three to five") << 5 << three;
        QTest::newRow("nothing to five") << 5 << QStringList{};
        QTest::newRow("past the 32,767 limit") << 32765 << three;
    }

    void add()
    {
        QFETCH(int, before);
        QFETCH(QStringList, chosen);
        for (const char *desc : {"a.mp3=Singer A|Title A", "b.mp3", "c.mp3=Who?|Title C"})
            makeMp3(QString::fromUtf8(desc));
        fx_.setEntries(plain(before));
        select({});
        w_->setSMP3Folder(QFile::encodeName(fx_.dir->path()));
        QVERIFY(fx_.inFileSelect([&](frmFileSelect &fs) {
            for (int i = 0; i < fs.File1->count(); ++i)
                fs.File1->item(i)->setSelected(chosen.contains(fs.File1->item(i)->text()));
            if (!chosen.isEmpty())
                QTest::mouseClick(fs.cmdAddFiles, Qt::LeftButton);
        }));
        const QStringList names{"Singer A - Title A.mp3", "*[Tag info error]", "*[Filename error]"};
        const int added = std::min(int(chosen.size()), 32767 - before);
        QCOMPARE(w_->lstMP3Files->count(), before + added);
        QCOMPARE(w_->lstRename->count(), before + added);
        for (int i = 0; i < added; ++i) {
            QCOMPARE(w_->lstMP3Files->item(before + i)->text(), fx_.path(chosen[i]));
            QCOMPARE(w_->lstRename->item(before + i)->text(), names[i]);
        }
        QCOMPARE(w_->lstRename->item(before - 1)->text(), QStringLiteral("name %1").arg(before - 1));
        QCOMPARE(fx_.messages.filter(QStringLiteral("32767")).size(), chosen.size() > added);
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
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QList<int>>("kept");
        QTest::addColumn<QList<int>>("selectedAfter");
        QTest::addColumn<bool>("frame");
        const QList<int> none, four{0, 1, 2, 3}, five{0, 1, 2, 3, 4};
        QList<int> even, odd, thousand;
        for (int i = 0; i < 1000; ++i)
            (i % 2 ? odd : even).append(i), thousand.append(i);
        const QStringList remove{"cmdRemove"}, selectAll{"cmdAllSel"};
        QTest::newRow("Remove 1 and 3") << 5 << QList<int>{1, 3} << remove << QList<int>{0, 2, 4}
                                        << QList<int>{2} << true;
        QTest::newRow("Remove none") << 5 << none << remove << five << QList<int>{4} << true;
        QTest::newRow("Remove all") << 5 << five << remove << none << none << true;
        // Many separate blocks take another way through the lists.
        QTest::newRow("Remove every second of 1000") << 1000 << even << remove << odd
                                                     << QList<int>{499} << true;
        QTest::newRow("Select All, empty") << 0 << none << selectAll << none << none << false;
        QTest::newRow("Select All, 1000") << 1000 << none << selectAll << thousand << thousand
                                          << false;
        QTest::newRow("Clear") << 3 << QList<int>{1} << QStringList{"cmdClear"} << none << none
                               << true;
        QTest::newRow("shift click to two")
            << 4 << none << QStringList{"click:1", "shift:2"} << four << QList<int>{1, 2} << false;
        QTest::newRow("ctrl click back to one") << 4 << none
            << QStringList{"click:1", "shift:2", "ctrl:2"} << four << QList<int>{1} << true;
        QTest::newRow("click on one of three selected") << 4 << none
            << QStringList{"click:0", "shift:2", "press:1", "release:1"} << four << QList<int>{1}
            << true;
        QTest::newRow("keyboard leaves the frame")
            << 4 << none << QStringList{"click:0", "shiftdown"} << four << QList<int>{0, 1} << true;
    }

    void actions()
    {
        QFETCH(int, count);
        QFETCH(QList<int>, selected);
        QFETCH(QStringList, actions);
        QFETCH(QList<int>, kept);
        QFETCH(QList<int>, selectedAfter);
        QFETCH(bool, frame);
        fx_.setEntries(plain(count));
        select(selected);
        w_->Frame1->setEnabled(true);
        w_->txtTrackName->setText(QStringLiteral("kept"));
        for (const QString &action : actions) {
            const qsizetype before = runs_->size();
            act(action);
            const bool runs = !action.startsWith(u"press") && !selectedRows(w_->lstMP3Files).isEmpty();
            QVERIFY2(runs_->size() - before == runs, qPrintable(action));
        }
        QStringList files, names;
        for (int i : kept) {
            files << plainPath(i);
            names << QStringLiteral("name %1").arg(i);
        }
        QCOMPARE(texts(w_->lstMP3Files), files);
        QCOMPARE(texts(w_->lstRename), names);
        QCOMPARE(selectedRows(w_->lstMP3Files), selectedAfter);
        if (actions[0] == "cmdRemove" && !kept.isEmpty())
            QCOMPARE(w_->lstMP3Files->currentRow(), selectedAfter[0]);
        QCOMPARE(w_->Frame1->isEnabled(), frame);
        QVERIFY(w_->lstRename->isEnabled() == (actions[0] == "cmdAllSel"));
        QCOMPARE(w_->txtTrackName->text(), QStringLiteral("kept"));
    }

    // Files as makeMp3 takes them; "!..." is made but not listed, "name~"
    // is listed but missing. Renamed entries keep their rows, selection and
    // proposed names; the report lists the failures as the list shows them.
    void rename_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QStringList>("after");  // list entries after, by name
        QTest::addColumn<QList<int>>("failed");  // rows in the message
        QTest::newRow("no selection") << QStringList{"a.mp3=S|A"} << QList<int>{}
                                      << QStringList{"a.mp3"} << QList<int>{};
        QTest::newRow("markers")
            << QStringList{"gone.mp3~", "untagged.mp3", "bad.mp3=S|Why?"} << QList<int>{0, 1, 2}
            << QStringList{"gone.mp3", "untagged.mp3", "bad.mp3"} << QList<int>{0, 1, 2};
        QTest::newRow("first fails, second renamed")
            << QStringList{"x.mp3", "y.mp3=S|Y"} << QList<int>{0, 1}
            << QStringList{"x.mp3", "S - Y.mp3"} << QList<int>{0};
        QTest::newRow("target exists, unselected left alone")
            << QStringList{"!S - T.mp3=Other|One", "t.mp3=S|T", "u.mp3=S|U"} << QList<int>{0}
            << QStringList{"t.mp3", "u.mp3"} << QList<int>{0};
        QTest::newRow("same name twice")
            << QStringList{"1.mp3=S|T", "2.mp3=S|T"} << QList<int>{0, 1}
            << QStringList{"S - T.mp3", "2.mp3"} << QList<int>{1};
        QTest::newRow("already named") << QStringList{"S - T.mp3=S|T"} << QList<int>{0}
                                       << QStringList{"S - T.mp3"} << QList<int>{};
    }

    void rename()
    {
        QFETCH(QStringList, files);
        QFETCH(QList<int>, selected);
        QFETCH(QStringList, after);
        QFETCH(QList<int>, failed);
        QStringList listed;
        QList<bool> missing;
        QList<QPair<QString, QByteArray>> unlisted;
        for (const QString &desc : files) {
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
        select(selected);

        QTest::mouseClick(w_->cmdRename, Qt::LeftButton);
        QStringList expected;
        for (int i = 0; i < after.size(); ++i) {
            expected << fx_.path(after[i]);
            QCOMPARE(QFile::exists(expected[i]), !missing[i]);
        }
        QCOMPARE(texts(w_->lstMP3Files), expected);
        QCOMPARE(texts(w_->lstRename), names);
        QCOMPARE(selectedRows(w_->lstMP3Files), selected);
        for (const auto &[p, bytes] : unlisted)
            QCOMPARE(testdata::readAll(p), bytes);
        QString message = QStringLiteral("以下のファイルは変更できませんでした。\r\n\r\n");
        for (int row : failed)
            message += listed[row] + QStringLiteral("\r\n");
        QCOMPARE(fx_.messages, failed.isEmpty() ? QStringList{} : QStringList{message});
    }
};

QTEST_MAIN(TestListCommands)
#include "tst_listcommands.moc"
