// The main window's list commands, proposed names and Rename, driven through
// the real window and the real file selection window, on tagged copies of
// the sample files in a temporary folder.
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include "frmfileselect.h"
#include "frmmain.h"
#include "messagebox.h"
#include "testdata.h"

namespace {

// A copy of a sample; "name=Singer|Title" gets an ID3v2 tag, "name" none.
QString makeMp3(const QString &dir, const QString &desc)
{
    const QString path =
        testdata::copySample(dir, testdata::kStereoMpeg2, desc.section(u'=', 0, 0));
    if (desc.contains(u'=')) {
        const QStringList tag = desc.section(u'=', 1).split(u'|');
        TagLib::MPEG::File file(QFile::encodeName(path).constData());
        file.ID3v2Tag(true)->setArtist(TagLib::String(tag[0].toStdString(), TagLib::String::UTF8));
        file.ID3v2Tag()->setTitle(TagLib::String(tag[1].toStdString(), TagLib::String::UTF8));
        if (!file.save(TagLib::MPEG::File::ID3v2))
            qFatal("cannot tag %s", qPrintable(path));
    }
    return path;
}

QStringList texts(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out.append(list->item(i)->text());
    return out;
}

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

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<frmMain> w_;
    std::unique_ptr<QSignalSpy> runs_; // runs of the tag display
    QString savedCurrent_;
    QStringList messages_;

    QString path(const QString &name) const { return dir_->filePath(name); }

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
        messages_.clear();
    }

    // Add, choosing `names` in the file selection window (none: just close).
    void add(const QStringList &names)
    {
        w_->setSMP3Folder(dir_->path());
        bool seen = false;
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&] {
            auto *fs = qobject_cast<frmFileSelect *>(QApplication::activeModalWidget());
            if (!fs)
                return;
            timer.stop();
            seen = true;
            for (int i = 0; i < fs->File1->count(); ++i)
                fs->File1->item(i)->setSelected(names.contains(fs->File1->item(i)->text()));
            if (!names.isEmpty())
                QTest::mouseClick(fs->cmdAddFiles, Qt::LeftButton);
            QTest::mouseClick(fs->cmdCancel, Qt::LeftButton);
        });
        timer.start(10);
        QTest::mouseClick(w_->cmdOpen, Qt::LeftButton);
        QVERIFY(seen);
    }

    // "click:R", "shift:R", "ctrl:R", "press:R", "release:R", "shiftdown".
    void act(const QString &action)
    {
        const QString kind = action.section(u':', 0, 0);
        QListWidget *list = w_->lstMP3Files;
        const QPoint at =
            list->visualItemRect(list->item(action.section(u':', 1).toInt())).center();
        const auto mods = kind == u"shift" ? Qt::ShiftModifier
                          : kind == u"ctrl" ? Qt::ControlModifier
                                            : Qt::NoModifier;
        if (kind == u"press")
            QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
        else if (kind == u"release")
            QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
        else if (kind == u"shiftdown")
            QTest::keyClick(list, Qt::Key_Down, Qt::ShiftModifier);
        else
            QTest::mouseClick(list->viewport(), Qt::LeftButton, mods, at);
        QCoreApplication::processEvents();
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid() && QDir(dir_->path()).mkdir(QStringLiteral("app")));
        savedCurrent_ = QDir::currentPath();
        frmMain::setAppFolderForTesting(path(QStringLiteral("app")));
        ui::setMessageSinkForTesting(
            [this](const QString &text, QMessageBox::Icon) { messages_.append(text); });
        w_ = std::make_unique<frmMain>();
        QVERIFY(w_->Form_Load());
        w_->show();
        QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
        runs_ = std::make_unique<QSignalSpy>(w_.get(), &frmMain::lstMP3FilesClickRaised);
    }

    void cleanup()
    {
        runs_.reset();
        w_.reset();
        ui::setMessageSinkForTesting({});
        frmMain::setAppFolderForTesting(QString());
        QDir::setCurrent(savedCurrent_);
        dir_.reset();
    }

    void add_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<QStringList>("chosen");
        const QStringList three{"a.mp3", "b.mp3", "c.mp3"};
        QTest::newRow("three to five") << 5 << three;
        QTest::newRow("nothing to five") << 5 << QStringList{};
        QTest::newRow("nothing to none") << 0 << QStringList{};
        QTest::newRow("past the limit") << 32765 << three;
    }

    void add()
    {
        QFETCH(int, before);
        QFETCH(QStringList, chosen);
        for (const char *desc : {"a.mp3=Singer A|Title A", "b.mp3", "c.mp3=Who?|Title C"})
            makeMp3(dir_->path(), QString::fromUtf8(desc));
        const QStringList names{"Singer A - Title A.mp3", "*[Tag info error]",
                                "*[Filename error]"};
        fillPlain(before);
        select({});

        add(chosen);
        const int added = std::min(int(chosen.size()), 32767 - before);
        QCOMPARE(w_->lstMP3Files->count(), before + added);
        QCOMPARE(w_->lstRename->count(), before + added);
        for (int i = 0; i < added; ++i) {
            QCOMPARE(w_->lstMP3Files->item(before + i)->text(), path(chosen[i]));
            QCOMPARE(w_->lstRename->item(before + i)->text(), names[i]);
        }
        if (before > 0)
            QCOMPARE(w_->lstRename->item(before - 1)->text(), plainName(before - 1));
        // What does not fit is left out, and the user is told once.
        QCOMPARE(messages_.filter(QStringLiteral("32767")).size(), chosen.size() > added ? 1 : 0);
        QCOMPARE(w_->lstMP3Files->currentRow(), before + added > 0 ? 0 : -1);
        QCOMPARE(runs_->size(), before + added > 0 ? 1 : 0);
        QVERIFY(w_->lstMP3Files->isVisible() && w_->lstMP3Files->isEnabled());
    }

    void remove_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QList<int>>("kept");
        QTest::newRow("1 and 3") << 5 << QList<int>{1, 3} << QList<int>{0, 2, 4};
        QTest::newRow("none") << 5 << QList<int>{} << QList<int>{0, 1, 2, 3, 4};
        QTest::newRow("all") << 5 << QList<int>{0, 1, 2, 3, 4} << QList<int>{};
        QTest::newRow("block and last") << 5 << QList<int>{0, 1, 2, 4} << QList<int>{3};
        // Many separate blocks take another way through the lists.
        QList<int> even, odd;
        for (int i = 0; i < 60; ++i)
            (i % 2 ? odd : even).append(i);
        QTest::newRow("every second of 60") << 60 << even << odd;
    }

    void remove()
    {
        QFETCH(int, count);
        QFETCH(QList<int>, selected);
        QFETCH(QList<int>, kept);
        fillPlain(count);
        select(selected);

        QTest::mouseClick(w_->cmdRemove, Qt::LeftButton);
        QStringList files, names;
        for (int i : kept) {
            files.append(plainPath(i));
            names.append(plainName(i));
        }
        QCOMPARE(texts(w_->lstMP3Files), files);
        QCOMPARE(texts(w_->lstRename), names);
        const int last = int(kept.size()) - 1;
        QCOMPARE(w_->lstMP3Files->currentRow(), last);
        QCOMPARE(selectedRows(w_->lstMP3Files), kept.isEmpty() ? QList<int>{} : QList<int>{last});
        QCOMPARE(runs_->size(), kept.isEmpty() ? 0 : 1);
        QVERIFY(w_->lstMP3Files->isVisible());
    }

    void selectAll_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("empty") << 0;
        QTest::newRow("1000") << 1000;
    }

    void selectAll()
    {
        QFETCH(int, count);
        fillPlain(count);
        w_->Frame1->setEnabled(true);
        select({});
        QTest::mouseClick(w_->cmdAllSel, Qt::LeftButton);
        QCOMPARE(selectedRows(w_->lstMP3Files).size(), count);
        QVERIFY(!w_->Frame1->isEnabled());
        QVERIFY(w_->lstRename->isEnabled());
        QVERIFY(w_->lstMP3Files->isVisible() && w_->lstMP3Files->isEnabled());
        QCOMPARE(runs_->size(), count > 0 ? 1 : 0);
    }

    void clearKeepsTagFrame()
    {
        fillPlain(3);
        select({1});
        w_->Frame1->setEnabled(true);
        w_->txtTrackName->setText(QStringLiteral("kept"));
        QTest::mouseClick(w_->cmdClear, Qt::LeftButton);
        QCoreApplication::processEvents();
        QCOMPARE(w_->lstMP3Files->count() + w_->lstRename->count(), 0);
        QVERIFY(w_->Frame1->isEnabled());
        QCOMPARE(w_->txtTrackName->text(), QStringLiteral("kept"));
        QCOMPARE(runs_->size(), 0);
    }

    // Each action runs the tag display exactly once, after the list has
    // taken all of it in (a press alone runs nothing yet); the tag frame
    // follows mouse releases only.
    void userActions_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<bool>("frame");
        QTest::newRow("click") << QStringList{"click:1"} << QList<int>{1} << true;
        QTest::newRow("shift click to two")
            << QStringList{"click:1", "shift:2"} << QList<int>{1, 2} << false;
        QTest::newRow("ctrl click deselecting the current")
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
        QTest::newRow("target exists")
            << QStringList{"!S - T.mp3=Other|One", "t.mp3=S|T"} << QList<int>{0}
            << QStringList{"t.mp3"} << QList<int>{0};
        QTest::newRow("same name twice")
            << QStringList{"1.mp3=S|T", "2.mp3=S|T"} << QList<int>{0, 1}
            << QStringList{"S - T.mp3", "2.mp3"} << QList<int>{1};
        QTest::newRow("already named") << QStringList{"S - T.mp3=S|T"} << QList<int>{0}
                                       << QStringList{"S - T.mp3"} << QList<int>{};
        QTest::newRow("unselected left alone")
            << QStringList{"1.mp3=S|A", "2.mp3=S|B"} << QList<int>{1}
            << QStringList{"1.mp3", "S - B.mp3"} << QList<int>{};
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
                const QString p = makeMp3(dir_->path(), desc.mid(1));
                unlisted.append({p, testdata::readAll(p)});
            } else {
                missing.append(desc.endsWith(u'~'));
                listed.append(missing.last() ? path(desc.chopped(1)) : makeMp3(dir_->path(), desc));
            }
        }
        w_->lstMP3Files->addItems(listed);
        w_->MakeRenameList(0);
        const QStringList names = texts(w_->lstRename);
        select(selected);

        QTest::mouseClick(w_->cmdRename, Qt::LeftButton);
        QStringList expected;
        for (const QString &name : after)
            expected.append(path(name));
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
        QCOMPARE(messages_, failed.isEmpty() ? QStringList{} : QStringList{message});
    }
};

QTEST_MAIN(TestListCommands)
#include "tst_listcommands.moc"
