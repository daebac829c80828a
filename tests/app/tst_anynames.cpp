// Files and folders whose names are not UTF-8 (CP932, Windows-1252, EUC-JP,
// bytes of no encoding) through the real windows: listed, added with their
// proposed names, tag shown and updated, renamed to UTF-8 names, played, and
// their folder kept in the settings and the history across a restart.
#include <QTreeView>

#include <sys/stat.h>

#include <fstream>

#include "frmplay.h"
#include "mainwindowfixture.h"
#include "paths.h"
#include "textcodec.h"

namespace {

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

class tst_AnyNames : public QObject {
    Q_OBJECT

    WindowFixture fx_;
    QByteArray folder_;

    QString shown(const QString &name) const { return fx_.dir->path() + u"/音 楽/音楽データ/"_qs + name; }

    // The folder tree's child of `parent` named `name`, once listed.
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

private slots:
    void init()
    {
        fx_.setUp();
        folder_ = QFile::encodeName(fx_.path(u"音 楽/"_qs)) + kFolder;
        QVERIFY(QDir().mkpath(fx_.path(u"音 楽"_qs)) && ::mkdir(folder_.constData(), 0755) == 0);
        // Tagged under a UTF-8 name, then given its name of bytes.
        for (const NamedFile &f : kFiles) {
            const QString tagged = fx_.file(QStringLiteral("tagging.mp3"), {f.title, u"歌手"_qs});
            QCOMPARE(::rename(QFile::encodeName(tagged).constData(),
                              paths::join(folder_, f.name).constData()), 0);
        }
        fx_.load();
    }

    void cleanup() { fx_.tearDown(); }

    // Add from the CP932 folder found in the tree: the entries are read and
    // renamed by their bytes; a rename to a taken name is reported as the
    // list shows the file; the folder survives a restart in the history.
    void addRenameRestart()
    {
        const QString taken = u"歌手 - 曲四.mp3"_qs;
        std::ofstream(paths::join(folder_, taken.toUtf8()).constData()) << "taken";
        QString treeText;
        QStringList listed;
        fx_.w->setSMP3Folder(QFile::encodeName(fx_.path(u"音 楽"_qs)));
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
        frmMain &w = *fx_.w;
        QCOMPARE(w.lstMP3Files->count(), kFiles.size());
        for (const NamedFile &f : kFiles) {
            const int row = int(fx_.entries().indexOf(paths::join(folder_, f.name)));
            QVERIFY2(row >= 0 && listed.contains(shownName(f)), f.kind);
            QCOMPARE(w.lstMP3Files->item(row)->text(), shown(shownName(f)));
            QCOMPARE(w.lstRename->item(row)->text(), u"歌手 - "_qs + f.title + u".mp3"_qs);
        }

        // The CP932-named file's tag shown and written through its bytes.
        const int row = int(fx_.entries().indexOf(paths::join(folder_, kFiles[0].name)));
        QTest::mouseClick(w.lstMP3Files->viewport(), Qt::LeftButton, {},
                          w.lstMP3Files->visualItemRect(w.lstMP3Files->item(row)).center());
        QTRY_COMPARE(w.txtTrackName->text(), kFiles[0].title);
        w.txtTrackName->setText(kFiles[0].title + u"改"_qs);
        w.cmdRewrite->click();
        QCOMPARE(w.lstRename->item(row)->text(), u"歌手 - 曲一改.mp3"_qs);
        QVERIFY(fx_.messages.isEmpty());

        w.cmdAllSel->click();
        w.cmdRename->click();
        QList<QByteArray> names{taken.toUtf8()};
        for (int r = 0; r < w.lstRename->count(); ++r) {
            const QString proposed = w.lstRename->item(r)->text();
            const bool failed = proposed == taken;
            names << (failed ? kFiles[3].name : proposed.toUtf8());
            QCOMPARE(w.entryPath(r), paths::join(folder_, names.last()));
            QCOMPARE(w.lstMP3Files->item(r)->text(), shown(failed ? shownName(kFiles[3]) : proposed));
        }
        QList<QByteArray> onDisk;
        for (const auto &entry : std::filesystem::directory_iterator(folder_.constData()))
            onDisk << QByteArray::fromStdString(entry.path().filename().native());
        std::sort(names.begin(), names.end());
        std::sort(onDisk.begin(), onDisk.end());
        QCOMPARE(onDisk, names);
        QCOMPARE(fx_.messages.size(), 1);
        QVERIFY(fx_.messages[0].endsWith(shown(shownName(kFiles[3])) + u"\r\n"_qs));

        // Restart: the folder is the MP3 folder and in the history.
        fx_.w.reset();
        const QByteArray ini = testdata::readAll(fx_.iniPath());
        // UTF-8 parts stay readable, other bytes and the blank are escaped.
        QVERIFY(ini.contains("MP3=file://" + QFile::encodeName(fx_.dir->path())
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
        const auto hasSound = [&] {
            const QByteArray bytes = testdata::readAll(wav);
            return bytes.size() > 44 + 4096 && bytes.mid(44).count('\0') < bytes.size() - 44;
        };
        mp3lib::setWavOutputForTesting(QFile::encodeName(wav).constData());
        fx_.w->setSMP3Folder(folder_);
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

QTEST_MAIN(tst_AnyNames)
#include "tst_anynames.moc"
