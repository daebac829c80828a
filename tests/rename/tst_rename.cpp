// Proposed names, the existence test and the rename command on real files.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include "existence.h"
#include "newname.h"
#include "noreplace.h"
#include "renamefiles.h"
#include "taginfo.h"
#include "testdata.h"

using namespace renaming;

namespace {

tags::TagInfo tagWith(const QString &artist, const QString &title)
{
    tags::TagInfo tag;
    tag.ArtistName = tags::fitField(artist, tags::kTextWidth);
    tag.TrackName = tags::fitField(title, tags::kTextWidth);
    return tag;
}

// Makes the entries of a folder from short forms: "name" a regular file
// holding its own name, "name/" a folder, "name|" a FIFO, "name@" a
// symbolic link to nowhere.
void makeEntries(const QString &dir, const QStringList &forms)
{
    for (const QString &form : forms) {
        const QChar kind = form.back();
        const QString name = QStringLiteral("/|@").contains(kind) ? form.chopped(1) : form;
        const QByteArray path = QFile::encodeName(dir + u'/' + name);
        if (kind == u'/')
            QVERIFY(QDir(dir).mkdir(name));
        else if (kind == u'|' || kind == u'@')
            QCOMPARE(kind == u'|' ? ::mkfifo(path.constData(), 0644) : ::symlink("nowhere", path.constData()), 0);
        else
            testdata::writeAll(dir + u'/' + name, name.toUtf8());
    }
}

// The folder's entries in the notation of makeEntries, regular files as
// "name=content", sorted.
QStringList entries(const QString &dir)
{
    QStringList out;
    for (const QFileInfo &info :
         QDir(dir).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        out << info.fileName() + (info.isSymLink() ? "@" : info.isDir() ? "/" : info.isFile() ? "=" : "|");
        if (info.isFile() && !info.isSymLink())
            out.last() += QString::fromUtf8(testdata::readAll(info.filePath()));
    }
    out.sort();
    return out;
}

} // namespace

class TestRename : public QObject {
    Q_OBJECT

private slots:
    void composeNewName_data()
    {
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected");
        QTest::newRow("singer first, trimmed") << "  ABC " << " XYZ  " << "ABC - XYZ.mp3";
        QTest::newRow("both empty") << "" << "" << " - .mp3";
        QTest::newRow("only spaces") << "   " << " " << " - .mp3";
        QTest::newRow("ideographic spaces trimmed, inner kept") << u"\u3000歌 手\u3000"_qs << u"曲名\u3000"_qs
                                                                << u"歌 手 - 曲名.mp3"_qs;
        QTest::newRow("period apostrophe ampersand") << "Mr. Big & Co" << "Don't Stop." << "Mr. Big & Co - Don't Stop..mp3";
        QTest::newRow("full-width question mark passes") << u"誰"_qs << u"何？"_qs << u"誰 - 何？.mp3"_qs;
        QTest::newRow("text after NUL ignored") << QString(u"Sing\0?junk"_qs) << QString(u"Song  \0/x"_qs) << "Sing - Song.mp3";
        for (QChar c : QStringLiteral("\"><:;*|?/\\")) {
            QTest::addRow("'%c' in title", c.toLatin1()) << "Singer" << u"Ti"_qs + c + u"tle"_qs << kFilenameError;
            QTest::addRow("'%c' in singer", c.toLatin1()) << c + u"Singer"_qs << "Title" << kFilenameError;
        }
        QTest::newRow("newline") << "Singer" << "Two\nLines" << kFilenameError;
        QTest::newRow("tab") << "Singer\tX" << "Title" << kFilenameError;
        QTest::newRow("unit separator") << "Singer" << u"T\x1f"_qs << kFilenameError;
        QTest::newRow("DEL") << "Singer" << u"T\x7f"_qs << kFilenameError;
    }

    void composeNewName()
    {
        QFETCH(QString, artist);
        QFETCH(QString, title);
        QFETCH(QString, expected);
        QCOMPARE(ComposeNewName(tagWith(artist, title)), expected);
    }

    void getFolderPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::newRow("full path") << "/home/user/music/a.mp3" << "/home/user/music/";
        QTest::newRow("bare name") << "a.mp3" << "";
        QTest::newRow("ends in separator") << "/home/user/music/" << "/home/user/music/";
        QTest::newRow("root file") << "/a.mp3" << "/";
        QTest::newRow("backslash is no separator") << "C:\\music\\a.mp3" << "";
    }

    void getFolderPath()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QCOMPARE(GetFolderPath(path), folder);
    }

    void fileExists_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("path");   // relative to the folder, except "/..."
        QTest::addColumn<bool>("exists");
        QTest::newRow("regular file") << QStringList{"a.mp3"} << "a.mp3" << true;
        QTest::newRow("missing") << QStringList{"a.mp3"} << "b.mp3" << false;
        QTest::newRow("folder") << QStringList{"d.mp3/"} << "d.mp3" << false;
        QTest::newRow("hidden file") << QStringList{".a.mp3"} << ".a.mp3" << false;
        QTest::newRow("file in hidden folder") << QStringList{".d/", ".d/a.mp3"} << ".d/a.mp3" << true;
        QTest::newRow("FIFO, not opened") << QStringList{"p.mp3|"} << "p.mp3" << false;
        QTest::newRow("dangling link") << QStringList{"l.mp3@"} << "l.mp3" << false;
        QTest::newRow("wildcard not expanded") << QStringList{"a.mp3"} << "*.mp3" << false;
        QTest::newRow("literal star") << QStringList{"a*.mp3"} << "a*.mp3" << true;
        QTest::newRow("trailing separator") << QStringList{"a.mp3"} << "a.mp3/" << false;
        QTest::newRow("NUL inside") << QStringList{"a.mp3"} << QString(u"a.mp3\0.txt"_qs) << false;
        QTest::newRow("letter case differs") << QStringList{"a.mp3"} << "A.mp3" << false;
        QTest::newRow("device") << QStringList{} << "/dev/null" << false;
        QTest::newRow("empty") << QStringList{} << "" << false;
    }

    void fileExists()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, path);
        QFETCH(bool, exists);
        QTemporaryDir dir;
        makeEntries(dir.path(), entries);
        QCOMPARE(tags::fileExists(QFile::encodeName(path.isEmpty() || path.startsWith(u'/') ? path : dir.filePath(path))), exists);
    }

    void renameFiles_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("jobs");       // "current name" then "new name", in pairs
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QList<int>>("failedJobs");
        using L = QStringList;
        QTest::newRow("renamed") << L{"a.mp3"} << L{"a.mp3", u"歌手 - 曲名.mp3"_qs} << L{u"歌手 - 曲名.mp3=a.mp3"_qs}
                                 << QList<int>{};
        QTest::newRow("own name again") << L{"a.mp3"} << L{"a.mp3", "a.mp3"} << L{"a.mp3=a.mp3"} << QList<int>{};
        QTest::newRow("target exists") << L{"a.mp3", "b.mp3"} << L{"a.mp3", "b.mp3"} << L{"a.mp3=a.mp3", "b.mp3=b.mp3"}
                                       << QList<int>{0};
        QTest::newRow("target is a dangling link") << L{"a.mp3", "l.mp3@"} << L{"a.mp3", "l.mp3"}
                                                   << L{"a.mp3=a.mp3", "l.mp3@"} << QList<int>{0};
        QTest::newRow("letter case only") << L{"a.mp3"} << L{"a.mp3", "A.mp3"} << L{"A.mp3=a.mp3"} << QList<int>{};
        QTest::newRow("letter case only, both names taken") << L{"a.mp3", "A.mp3"} << L{"a.mp3", "A.mp3"}
                                                            << L{"A.mp3=A.mp3", "a.mp3=a.mp3"} << QList<int>{0};
        QTest::newRow("markers") << L{"a.mp3", "b.mp3", "c.mp3"}
                                 << L{"a.mp3", kFileNotFound, "b.mp3", kTagInfoError, "c.mp3", kFilenameError}
                                 << L{"a.mp3=a.mp3", "b.mp3=b.mp3", "c.mp3=c.mp3"} << QList<int>{0, 1, 2};
        QTest::newRow("names that leave the folder or hold rejected characters")
            << L{"a.mp3", "x/"}
            << L{"a.mp3", "x/y.mp3", "a.mp3", "..", "a.mp3", ".", "a.mp3", "", "a.mp3", "a\\b.mp3",
                 "a.mp3", "q?.mp3", "a.mp3", "new\nline.mp3", "a.mp3", "tab\t.mp3", "a.mp3", u"del\x7f.mp3"_qs}
            << L{"a.mp3=a.mp3", "x/"} << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8};
        QTest::newRow("missing, folder or FIFO as the file") << L{"d.mp3/", "p.mp3|"}
                                                             << L{"gone.mp3", "n.mp3", "d.mp3", "e.mp3", "p.mp3", "f.mp3"}
                                                             << L{"d.mp3/", "p.mp3|"} << QList<int>{0, 1, 2};
        // Renames of one run that point at each other: failures listed, no
        // file moved onto another.
        QTest::newRow("same proposed name twice: first wins") << L{"a.mp3", "b.mp3"} << L{"a.mp3", "n.mp3", "b.mp3", "n.mp3"}
                                                              << L{"b.mp3=b.mp3", "n.mp3=a.mp3"} << QList<int>{1};
        QTest::newRow("the same file twice") << L{"a.mp3"} << L{"a.mp3", "x.mp3", "a.mp3", "y.mp3"} << L{"x.mp3=a.mp3"}
                                             << QList<int>{1};
        QTest::newRow("swap refused") << L{"a.mp3", "b.mp3"} << L{"a.mp3", "b.mp3", "b.mp3", "a.mp3"}
                                      << L{"a.mp3=a.mp3", "b.mp3=b.mp3"} << QList<int>{0, 1};
        QTest::newRow("cycle of three refused") << L{"a.mp3", "b.mp3", "c.mp3"}
                                                << L{"a.mp3", "b.mp3", "b.mp3", "c.mp3", "c.mp3", "a.mp3"}
                                                << L{"a.mp3=a.mp3", "b.mp3=b.mp3", "c.mp3=c.mp3"} << QList<int>{0, 1, 2};
        QTest::newRow("chain, first link first: it fails, the next goes on") << L{"a.mp3", "b.mp3"}
                                                                             << L{"a.mp3", "b.mp3", "b.mp3", "c.mp3"}
                                                                             << L{"a.mp3=a.mp3", "c.mp3=b.mp3"} << QList<int>{0};
        QTest::newRow("chain, last link first") << L{"a.mp3", "b.mp3"} << L{"b.mp3", "c.mp3", "a.mp3", "b.mp3"}
                                                << L{"b.mp3=a.mp3", "c.mp3=b.mp3"} << QList<int>{};
    }

    void renameFiles()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, jobs);
        QFETCH(QStringList, after);
        QFETCH(QList<int>, failedJobs);
        QTemporaryDir dir;
        makeEntries(dir.path(), before);

        QList<RenameJob> list;
        QStringList expectedFailed;
        QList<RenameResult::NewPath> expectedNewPaths;
        for (int j = 0; j + 1 < jobs.size(); j += 2) {
            const int row = 100 + 3 * j;   // rows of the list need not be consecutive
            list.append({row, QFile::encodeName(dir.filePath(jobs[j])), jobs[j + 1]});
            if (failedJobs.contains(j / 2))
                expectedFailed << dir.filePath(jobs[j]);
            else if (jobs[j + 1] != jobs[j])
                expectedNewPaths.append({row, QFile::encodeName(dir.filePath(jobs[j + 1]))});
        }
        const RenameResult result = renaming::renameFiles(list);
        QCOMPARE(result.failed, expectedFailed);
        QCOMPARE(result.newPaths, expectedNewPaths);
        QCOMPARE(entries(dir.path()), after);
    }

    void renameToOwnPathNeedsTheFile()
    {
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.filePath("a.mp3"));
        QVERIFY(!renameNoReplace(path, path).ok());
        testdata::writeAll(path, "x");
        const RenameStatus status = renameNoReplace(path, path);
        QVERIFY(status.ok() && status.path == path);
    }

    void failureMessage()
    {
        QCOMPARE(renameFailureMessage({}), QString());
        const QByteArray sentence =
            "\xE4\xBB\xA5\xE4\xB8\x8B\xE3\x81\xAE\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB"
            "\xE3\x81\xAF\xE5\xA4\x89\xE6\x9B\xB4\xE3\x81\xA7\xE3\x81\x8D\xE3\x81\xBE\xE3\x81\x9B"
            "\xE3\x82\x93\xE3\x81\xA7\xE3\x81\x97\xE3\x81\x9F\xE3\x80\x82";
        QCOMPARE(renameFailureMessage({"/m/b.mp3", u"/m/曲.mp3"_qs}).toUtf8(),
                 sentence + "\r\n\r\n/m/b.mp3\r\n/m/\xE6\x9B\xB2.mp3\r\n");
    }
};

QTEST_GUILESS_MAIN(TestRename)
#include "tst_rename.moc"
