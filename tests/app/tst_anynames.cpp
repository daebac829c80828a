// Files and folders whose names are not UTF-8 (CP932, Windows-1252, EUC-JP,
// bytes of no encoding), on disk and taken through the real windows: listed,
// added with their proposed names, tag shown and updated, renamed to UTF-8
// names, played, and their folder kept in the history across a restart.

#include "mainwindowfixture.h"

#include "foldertreemodel.h"
#include "frmfileselect.h"
#include "frmplay.h"
#include "paths.h"
#include "textcodec.h"

#include <QApplication>
#include <QTimer>
#include <QTreeView>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace {

// A CP932 folder name ("音楽データ") and the files put in it: name bytes, the
// text the windows must show for them ("" where the decoder decides alone),
// and the title of their tag.
const QByteArray kFolder = "\x89\xB9\x8A\x79\x83\x66\x81\x5B\x83\x5E";
struct NamedFile {
    const char *kind;
    QByteArray name;
    QString shown;
    QString title;
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

// The names in a folder, as bytes, sorted.
QList<QByteArray> namesIn(const QByteArray &folder)
{
    QList<QByteArray> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder.constData()))
        names << QByteArray::fromStdString(entry.path().filename().native());
    std::sort(names.begin(), names.end());
    return names;
}

bool hasSound(const QString &wav)
{
    const QByteArray bytes = testdata::readAll(wav);
    return bytes.size() > 44 + 4096 && bytes.mid(44).count('\0') < bytes.size() - 44;
}

} // namespace

class tst_AnyNames : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        fx_.setUp();
        folder_ = paths::join(QFile::encodeName(fx_.dir->path()), kFolder);
        QCOMPARE(::mkdir(folder_.constData(), 0755), 0);
        // Tagged under a UTF-8 name, then given its name of bytes.
        for (const NamedFile &f : kFiles) {
            const QString tagged = fx_.file(QStringLiteral("tagging.mp3"), {f.title, u"歌手"_qs});
            QCOMPARE(::rename(QFile::encodeName(tagged).constData(),
                              paths::join(folder_, f.name).constData()), 0);
        }
        fx_.load();
    }
    void cleanup() { fx_.tearDown(); }

    void settingsSpelling_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("stored");
        QTest::newRow("utf-8 as it is") << QByteArray("/m/日本 語/%41") << u"/m/日本 語/%41"_qs;
        QTest::newRow("cp932") << QByteArray("/m/\x89\xB9\x8A\x79") << "file:///m/%89%B9%8Ay";
        QTest::newRow("utf-8 parts kept readable")
            << QByteArray("/音/a b%;#?\x01/Caf\xE9") << u"file:///音/a%20b%25;%23%3F%01/Caf%E9"_qs;
    }

    // How a folder is kept in the settings file, and read back.
    void settingsSpelling()
    {
        QFETCH(QByteArray, path);
        QFETCH(QString, stored);
        QCOMPARE(paths::toSetting(path), stored);
        QCOMPARE(paths::fromSetting(stored), path);
    }

    // Add through the file selection window: the CP932 folder is found in
    // the tree, its files listed decoded; added, they are read and renamed
    // by their bytes; the folder survives a restart in the history.
    void addRenameRestart()
    {
        // A file whose proposed name is taken: its rename fails, and the
        // report names it as the list shows it.
        const QByteArray taken = paths::join(folder_, u"歌手 - 曲四.mp3"_qs.toUtf8());
        std::ofstream(taken.constData()) << "taken";

        QStringList listed, expectedListed{u"歌手 - 曲四.mp3"_qs};
        for (const NamedFile &f : kFiles)
            expectedListed << shownName(f);
        std::sort(expectedListed.begin(), expectedListed.end(),
                  [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
        QString treeText;
        fx_.w->setSMP3Folder(QFile::encodeName(fx_.dir->path()));
        QVERIFY(fx_.inFileSelect([&](frmFileSelect &fs) {
            // The folder's item appears in the tree once its parent is listed.
            const QModelIndex parent = fs.Dir1->currentIndex();
            QModelIndex item;
            QTRY_VERIFY((item = childNamed(fs, parent, kFolder)).isValid());
            treeText = item.data().toString();
            fs.Dir1->setCurrentIndex(item);
            listed = texts(fs.File1);
            for (int i = 0; i < fs.File1->count(); ++i)
                fs.File1->item(i)->setSelected(fs.File1->item(i)->text() != u"歌手 - 曲四.mp3");
            QTest::mouseClick(fs.cmdAddFiles, Qt::LeftButton);
        }));
        QCOMPARE(treeText, u"音楽データ"_qs);
        QCOMPARE(listed, expectedListed);

        frmMain &w = *fx_.w;
        QCOMPARE(w.lstMP3Files->count(), kFiles.size());
        for (int row = 0; row < w.lstMP3Files->count(); ++row) {
            const QByteArray path = w.entryPath(row);
            const auto f = std::find_if(kFiles.begin(), kFiles.end(), [&](const NamedFile &n) {
                return paths::join(folder_, n.name) == path;
            });
            QVERIFY2(f != kFiles.end(), path.toPercentEncoding().constData());
            QCOMPARE(w.lstMP3Files->item(row)->text(),
                     fx_.dir->path() + u"/音楽データ/"_qs + shownName(*f));
            QCOMPARE(w.lstRename->item(row)->text(), u"歌手 - "_qs + f->title + u".mp3"_qs);
        }

        // The CP932-named file's tag shown and written through its bytes.
        int row = 0;
        while (w.entryPath(row) != paths::join(folder_, kFiles[0].name))
            ++row;
        QTest::mouseClick(w.lstMP3Files->viewport(), Qt::LeftButton, {},
                          w.lstMP3Files->visualItemRect(w.lstMP3Files->item(row)).center());
        QTRY_COMPARE(w.txtTrackName->text(), kFiles[0].title);
        w.txtTrackName->setText(kFiles[0].title + u"改"_qs);
        w.cmdRewrite->click();
        QCOMPARE(w.lstRename->item(row)->text(), u"歌手 - "_qs + kFiles[0].title + u"改.mp3"_qs);
        QVERIFY(fx_.messages.isEmpty());

        w.cmdAllSel->click();
        w.cmdRename->click();
        QList<QByteArray> expectedNames{paths::nameOf(taken)};
        for (int row = 0; row < w.lstRename->count(); ++row) {
            const QString proposed = w.lstRename->item(row)->text();
            if (proposed == u"歌手 - 曲四.mp3") {
                expectedNames << kFiles[3].name;
                QCOMPARE(w.entryPath(row), paths::join(folder_, kFiles[3].name));
                continue;
            }
            expectedNames << proposed.toUtf8();
            QCOMPARE(w.entryPath(row), paths::join(folder_, proposed.toUtf8()));
            QCOMPARE(w.lstMP3Files->item(row)->text(), fx_.dir->path() + u"/音楽データ/"_qs + proposed);
        }
        std::sort(expectedNames.begin(), expectedNames.end());
        QCOMPARE(namesIn(folder_), expectedNames);
        QCOMPARE(fx_.messages.size(), 1);
        QVERIFY(fx_.messages[0].endsWith(fx_.dir->path() + u"/音楽データ/"_qs + shownName(kFiles[3]) + u"\r\n"_qs));

        // Restart: the folder is the MP3 folder and in the history.
        fx_.w.reset();
        const QByteArray ini = testdata::readAll(fx_.iniPath());
        QVERIFY(QByteArrayView(ini).isValidUtf8());
        QVERIFY(ini.contains("file://"));
        fx_.load();
        QCOMPARE(fx_.w->sMP3Folder(), folder_);
        QStringList history;
        int current = -1;
        QVERIFY(fx_.inFileSelect([&](frmFileSelect &fs) {
            for (int i = 0; i < fs.cmbDirList->count(); ++i)
                history << fs.cmbDirList->itemText(i);
            current = fs.cmbDirList->currentIndex();
            listed = texts(fs.File1);
        }));
        QCOMPARE(history, QStringList{fx_.dir->path() + u"/音楽データ"_qs});
        QCOMPARE(current, 0);
        QCOMPARE(listed.size(), kFiles.size() + 1);
    }

    void play_data()
    {
        QTest::addColumn<int>("file");
        for (int i = 0; i < kFiles.size(); ++i)
            QTest::newRow(kFiles[i].kind) << i;
    }

    // A double-click in the file list plays the file named by those bytes.
    void play()
    {
        QFETCH(int, file);
        const QString wav = fx_.path(QStringLiteral("sound.wav"));
        mp3lib::setWavOutputForTesting(QFile::encodeName(wav).constData());
        fx_.w->setSMP3Folder(folder_);
        bool played = false;
        QVERIFY(fx_.inFileSelect([&](frmFileSelect &fs) {
            const QList<QListWidgetItem *> items =
                fs.File1->findItems(shownName(kFiles[file]), Qt::MatchExactly);
            QCOMPARE(items.size(), 1);
            const QPoint at = fs.File1->visualItemRect(items.first()).center();
            WindowFixture::whenModal<frmPLay>(
                [&](frmPLay &player) {
                    played = QTest::qWaitFor([&] { return hasSound(wav); }, 5000);
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

private:
    static QModelIndex childNamed(frmFileSelect &fs, const QModelIndex &parent, const QByteArray &name)
    {
        QAbstractItemModel *model = fs.Dir1->model();
        for (int row = 0; row < model->rowCount(parent); ++row) {
            const QModelIndex child = model->index(row, 0, parent);
            if (paths::nameOf(child.data(paths::kPathRole).toByteArray()) == name)
                return child;
        }
        return {};
    }

    WindowFixture fx_;
    QByteArray folder_;
};

QTEST_MAIN(tst_AnyNames)
#include "tst_anynames.moc"
