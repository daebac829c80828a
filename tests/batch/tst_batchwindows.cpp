// The batch dialogs in the real main window: the batch edit starts at the
// values the selection shares, keeps the rest, and writes only the fields
// changed; tags from names previews, writes nothing before Apply, and never
// writes a file whose name does not match.

#include "app/mainwindowfixture.h"

#include "gui/app/frmbatchedit.h"
#include "gui/app/frmfromname.h"
#include "gui/ui/progressrun.h"

class tst_BatchWindows : public QObject {
    Q_OBJECT

    WindowFixture fx_;

    // The files as list entries, `selected` of them selected.
    void list(const QStringList &paths, const QList<int> &selected)
    {
        QList<QByteArray> files;
        for (const QString &p : paths)
            files << QFile::encodeName(p);
        fx_.w->appendFiles(files);
        fx_.w->lstMP3Files->clearSelection();
        for (const int row : selected)
            fx_.w->lstMP3Files->selectionModel()->select(fx_.w->lstMP3Files->model()->index(row, 0),
                                                         QItemSelectionModel::Select);
        QCoreApplication::processEvents();
        fx_.messages.clear();
    }

private slots:
    void init()
    {
        fx_.setUp();
        fx_.load();
    }
    void cleanup() { fx_.tearDown(); }

    void batchEdit()
    {
        Six other = kTagA;
        other[0] = QStringLiteral("別の歌");
        other[2] = QStringLiteral("別のアルバム");
        const QStringList paths{fx_.file("a.mp3", kTagA, QByteArray(3000, 'p')), fx_.file("b.mp3", other),
                                fx_.file("c.mp3", kTagB)};
        list(paths, {0, 1});
        const QByteArray untouched = testdata::readAll(paths[2]);
        const bool shown = WindowFixture::whenModal<frmBatchEdit>(
            [&](frmBatchEdit &d) {
                // Shared values shown; differing ones in the keep state.
                QCOMPARE(d.txtTrackName->text(), QString());
                QCOMPARE(d.txtTrackName->placeholderText(), QStringLiteral("(変更しない)"));
                QCOMPARE(d.txtArtistName->placeholderText(), QString());   // a shared value, emptied, clears
                QCOMPARE(d.txtAlbumName->text(), QString());
                QCOMPARE(d.txtArtistName->text(), kTagA[1]);
                QCOMPARE(d.txtYear->text(), kTagA[3]);
                QCOMPARE(d.cmbGenre->currentText(), kTagA[4]);
                d.txtArtistName->setText(QStringLiteral("新しい歌手"));
                d.txtAlbumName->setText(QStringLiteral("新しいアルバム"));
                QTest::mouseClick(d.cmdApply, Qt::LeftButton);
            },
            [&] { QTest::keyClick(fx_.w.get(), Qt::Key_E, Qt::ControlModifier); });
        QVERIFY(shown);
        QCOMPARE(fx_.messages, QStringList());
        QCOMPARE(WindowFixture::readTag(paths[0]),
                 (Six{kTagA[0], "新しい歌手", "新しいアルバム", kTagA[3], kTagA[4], kTagA[5]}));
        QCOMPARE(WindowFixture::readTag(paths[1]),
                 (Six{other[0], "新しい歌手", "新しいアルバム", kTagA[3], kTagA[4], kTagA[5]}));
        QCOMPARE(testdata::readAll(paths[2]), untouched);
        QCOMPARE(texts(fx_.w->lstRename),
                 (QStringList{"新しい歌手 - 夜明けの歌.mp3", "新しい歌手 - 別の歌.mp3", "Other Singer - Other Song.mp3"}));
        QVERIFY(testdata::readAll(paths[0]).contains(QByteArray(3000, 'p')));

        // Applied with nothing changed: nothing written.
        const QByteArray before = testdata::readAll(paths[0]);
        QVERIFY(WindowFixture::whenModal<frmBatchEdit>(
            [&](frmBatchEdit &d) { QTest::mouseClick(d.cmdApply, Qt::LeftButton); },
            [&] { fx_.w->BatchEdit(); }));
        QCOMPARE(testdata::readAll(paths[0]), before);
    }

    void fromNames()
    {
        const QStringList paths{fx_.file("中村花子 - 夜明けの歌.mp3"), fx_.file("UB40 - Red Red Wine.mp3", kTagB),
                                fx_.file("nomatch.mp3", kTagA), fx_.file("A - B.mp3", kTagA)};
        list(paths, {0, 1, 2});
        QByteArrayList before;
        for (const QString &p : paths)
            before << testdata::readAll(p);
        const bool shown = WindowFixture::whenModal<frmFromName>(
            [&](frmFromName &d) {
                QCOMPARE(d.txtPattern->text(), QStringLiteral("%artist% - %title%"));
                QCOMPARE(d.previewText(0, 1), QStringLiteral("中村花子"));
                QCOMPARE(d.previewText(0, 2), QStringLiteral("夜明けの歌"));
                QCOMPARE(d.previewText(1, 1), QStringLiteral("UB40"));
                QCOMPARE(d.previewText(2, 1), QStringLiteral("一致しません"));
                d.txtPattern->setText(QStringLiteral("%artist%%title%"));
                QVERIFY(!d.cmdApply->isEnabled());
                d.txtPattern->setText(QStringLiteral("%artist% - %title%"));
                // Nothing written while the preview is shown.
                for (int i = 0; i < paths.size(); ++i)
                    QCOMPARE(testdata::readAll(paths[i]), before[i]);
                QTest::mouseClick(d.cmdApply, Qt::LeftButton);
            },
            [&] { fx_.w->TagsFromNames(); });
        QVERIFY(shown);
        QCOMPARE(WindowFixture::readTag(paths[0]), (Six{"夜明けの歌", "中村花子", "", "", "", ""}));
        QCOMPARE(WindowFixture::readTag(paths[1]), (Six{"Red Red Wine", "UB40", kTagB[2], kTagB[3], kTagB[4], kTagB[5]}));
        QCOMPARE(testdata::readAll(paths[2]), before[2]);
        QCOMPARE(testdata::readAll(paths[3]), before[3]);   // not selected
        QCOMPARE(texts(fx_.w->lstRename).mid(0, 3),
                 (QStringList{"中村花子 - 夜明けの歌.mp3", "UB40 - Red Red Wine.mp3", "山田太郎 - 夜明けの歌.mp3"}));
    }

    // 中止 at the first report of the writes: no file is written, and the
    // one message says how many were not.
    void cancelled()
    {
        const QStringList paths{fx_.file("A - One.mp3", kTagA), fx_.file("B - Two.mp3", kTagB)};
        list(paths, {0, 1});
        const QByteArray before = testdata::readAll(paths[0]) + testdata::readAll(paths[1]);
        ui::setProgressHookForTesting([] { ui::cancelProgressForTesting(); });
        const auto unhook = qScopeGuard([] { ui::setProgressHookForTesting({}); });
        QVERIFY(WindowFixture::whenModal<frmFromName>(
            [&](frmFromName &d) { QTest::mouseClick(d.cmdApply, Qt::LeftButton); }, [&] { fx_.w->TagsFromNames(); }));
        QCOMPARE(testdata::readAll(paths[0]) + testdata::readAll(paths[1]), before);
        QCOMPARE(fx_.messages, QStringList{"中止したため、2 件のファイルは書き込んでいません。"});
        QCOMPARE(texts(fx_.w->lstRename), (QStringList{"山田太郎 - 夜明けの歌.mp3", "Other Singer - Other Song.mp3"}));
    }
};

QTEST_MAIN(tst_BatchWindows)
#include "tst_batchwindows.moc"
