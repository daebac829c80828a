// The list commands, proposed names and Rename, driven through the real
// window and the real file selection window on tagged copies of a sample.
#include <QSignalSpy>
#include <QTimer>

#include "frmfileselect.h"
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

QString plainPath(int i) { return QStringLiteral("/none/f%1.mp3").arg(i); }
QString plainName(int i) { return QStringLiteral("n%1").arg(i); }

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
        return fx_.file(desc.section(u'=', 0, 0),
                        desc.contains(u'=') ? Six{tag[1], tag[0]} : Six());
    }

    // Entries that name no file, with names of their own.
    void fillPlain(int count)
    {
        for (int i = 0; i < count; ++i) {
            w_->lstMP3Files->addItem(plainPath(i));
            w_->lstRename->addItem(plainName(i));
        }
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

    // Add, choosing `names` in the file selection window (none: just close).
    void add(const QStringList &names)
    {
        w_->setSMP3Folder(QFile::encodeName(fx_.dir->path()));
        QVERIFY(fx_.inFileSelect([&](frmFileSelect &fs) {
            for (int i = 0; i < fs.File1->count(); ++i)
                fs.File1->item(i)->setSelected(names.contains(fs.File1->item(i)->text()));
            if (!names.isEmpty())
                QTest::mouseClick(fs.cmdAddFiles, Qt::LeftButton);
        }));
    }

    // "click:R", "shift:R", "ctrl:R", "press:R", "release:R", "shiftdown".
    void act(const QString &action)
    {
        const QString kind = action.section(u':', 0, 0);
        QListWidget *list = w_->lstMP3Files;
        const QPoint at =
            list->visualItemRect(list->item(action.section(u':', 1).toInt())).center();
        if (kind == u"press")
            QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
        else if (kind == u"release")
            QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
        else if (kind == u"shiftdown")
            QTest::keyClick(list, Qt::Key_Down, Qt::ShiftModifier);
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
        fx_.load();
        w_ = fx_.w.get();
        w_->show();
        QVERIFY(QTest::qWaitForWindowExposed(w_));
        runs_ = std::make_unique<QSignalSpy>(w_, &frmMain::lstMP3FilesClickRaised);
    }

    void cleanup()
    {
        runs_.reset();
        fx_.tearDown();
    }

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
        const QStringList names{"Singer A - Title A.mp3", "*[Tag info error]",
                                "*[Filename error]"};
        fillPlain(before);
        select({});

        add(chosen);
        const int added = std::min(int(chosen.size()), 32767 - before);
        QCOMPARE(w_->lstMP3Files->count(), before + added);
        QCOMPARE(w_->lstRename->count(), before + added);
        for (int i = 0; i < added; ++i) {
            QCOMPARE(w_->lstMP3Files->item(before + i)->text(), fx_.path(chosen[i]));
            QCOMPARE(w_->lstRename->item(before + i)->text(), names[i]);
        }
        QCOMPARE(w_->lstRename->item(before - 1)->text(), plainName(before - 1));
        // What does not fit is left out, and the user is told once.
        QCOMPARE(fx_.messages.filter(QStringLiteral("32767")).size(), chosen.size() > added);
        QCOMPARE(w_->lstMP3Files->currentRow(), 0);
        QCOMPARE(runs_->size(), 1);
    }

    // Remove, Select All and Clear on plain entries, with the tag frame
    // enabled and holding text beforehand. After Remove the last remaining
    // entry is current and alone selected; Select All disables the frame.
    void commands_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QList<int>>("kept");
        QTest::addColumn<QList<int>>("selectedAfter");
        QTest::addColumn<bool>("frame");
        const QList<int> five{0, 1, 2, 3, 4};
        QList<int> even, odd, thousand;
        for (int i = 0; i < 1000; ++i)
            (i % 2 ? odd : even).append(i), thousand.append(i);
        QTest::newRow("Remove 1 and 3")
            << "cmdRemove" << 5 << QList<int>{1, 3} << QList<int>{0, 2, 4} << QList<int>{2} << true;
        QTest::newRow("Remove none") << "cmdRemove" << 5 << QList<int>{} << five
                                     << QList<int>{4} << true;
        QTest::newRow("Remove all") << "cmdRemove" << 5 << five << QList<int>{} << QList<int>{}
                                    << true;
        // Many separate blocks take another way through the lists.
        QTest::newRow("Remove every second of 1000")
            << "cmdRemove" << 1000 << even << odd << QList<int>{499} << true;
        QTest::newRow("Select All, empty") << "cmdAllSel" << 0 << QList<int>{} << QList<int>{}
                                           << QList<int>{} << false;
        QTest::newRow("Select All, 1000") << "cmdAllSel" << 1000 << QList<int>{} << thousand
                                          << thousand << false;
        QTest::newRow("Clear") << "cmdClear" << 3 << QList<int>{1} << QList<int>{}
                               << QList<int>{} << true;
    }

    void commands()
    {
        QFETCH(QString, button);
        QFETCH(int, count);
        QFETCH(QList<int>, selected);
        QFETCH(QList<int>, kept);
        QFETCH(QList<int>, selectedAfter);
        QFETCH(bool, frame);
        fillPlain(count);
        select(selected);
        w_->Frame1->setEnabled(true);
        w_->txtTrackName->setText(QStringLiteral("kept"));
        QTest::mouseClick(w_->findChild<QPushButton *>(button), Qt::LeftButton);
        QCoreApplication::processEvents();
        QStringList files, names;
        for (int i : kept)
            files << plainPath(i), names << plainName(i);
        QCOMPARE(texts(w_->lstMP3Files), files);
        QCOMPARE(texts(w_->lstRename), names);
        QCOMPARE(selectedRows(w_->lstMP3Files), selectedAfter);
        if (selectedAfter.size() == 1)
            QCOMPARE(w_->lstMP3Files->currentRow(), selectedAfter[0]);
        QCOMPARE(runs_->size(), selectedAfter.isEmpty() ? 0 : 1);
        QCOMPARE(w_->Frame1->isEnabled(), frame);
        QVERIFY(button != "cmdAllSel" || w_->lstRename->isEnabled());
        QCOMPARE(w_->txtTrackName->text(), QStringLiteral("kept"));
    }

    // Each action runs the tag display exactly once, after the list has
    // taken all of it in (a press alone runs nothing yet); the tag frame
    // follows mouse releases only, judged after the release.
    void userActions_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<bool>("frame");
        QTest::newRow("shift click to two")
            << QStringList{"click:1", "shift:2"} << QList<int>{1, 2} << false;
        QTest::newRow("ctrl click back to one")
            << QStringList{"click:1", "shift:2", "ctrl:2"} << QList<int>{1} << true;
        QTest::newRow("click on one of three selected")
            << QStringList{"click:0", "shift:2", "press:1", "release:1"} << QList<int>{1}
            << true;
        QTest::newRow("keyboard leaves the frame")
            << QStringList{"click:0", "shiftdown"} << QList<int>{0, 1} << true;
    }

    void userActions()
    {
        QFETCH(QStringList, actions);
        QFETCH(QList<int>, selected);
        QFETCH(bool, frame);
        fillPlain(4);
        select({});
        for (const QString &action : actions) {
            const qsizetype before = runs_->size();
            act(action);
            QVERIFY2(runs_->size() - before == (action.startsWith(u"press") ? 0 : 1),
                     qPrintable(action));
        }
        QCOMPARE(selectedRows(w_->lstMP3Files), selected);
        QCOMPARE(w_->Frame1->isEnabled(), frame);
    }

    // Files as makeMp3 takes them; "!..." is made but not listed, "name~"
    // is listed but missing.
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
                missing.append(desc.endsWith(u'~'));
                listed.append(missing.last() ? fx_.path(desc.chopped(1)) : makeMp3(desc));
            }
        }
        w_->lstMP3Files->addItems(listed);
        w_->MakeRenameList(0);
        const QStringList names = texts(w_->lstRename);
        select(selected);

        QTest::mouseClick(w_->cmdRename, Qt::LeftButton);
        QStringList expected;
        for (const QString &name : after)
            expected.append(fx_.path(name));
        QCOMPARE(texts(w_->lstMP3Files), expected);
        QCOMPARE(texts(w_->lstRename), names);
        QCOMPARE(selectedRows(w_->lstMP3Files), selected);
        for (int i = 0; i < listed.size(); ++i)
            QCOMPARE(QFile::exists(expected[i]), !missing[i]);
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
