// Proposed names from real files and tags, the rename that never replaces
// (here, and on NTFS and exFAT mounted through FUSE), and Undo from the
// rename journal.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include "existence.h"
#include "newname.h"
#include "noreplace.h"
#include "renamefiles.h"
#include "renamejournal.h"
#include "renamelist.h"
#include "taginfo.h"
#include "testdata.h"
#include "vbmp3.h"

using namespace renaming;

namespace {

// Makes a folder entry from a short form: "name/" a folder, "name|" a FIFO,
// "name@" a link to nowhere, "name=ARTIST|TITLE" a sample with an ID3v2 tag
// ("-" leaves a field out), "name~CODEPAGE=ARTIST|TITLE" one with an ID3v1
// tag in that code page, "name=" an untagged sample, else a file holding its
// own name.
void make(const QString &dir, const QString &form)
{
    const QChar kind = form.contains(u'=') ? u'=' : form.back();
    const QString name = kind == u'=' ? form.left(form.indexOf(QRegularExpression("[~=]")))
                         : QStringLiteral("/|@").contains(kind) ? form.chopped(1) : form;
    const QString file = dir + u'/' + name;
    const QByteArray path = QFile::encodeName(file);
    const QStringList fields = form.section(u'=', 1).split(u'|');
    if (kind == u'/') {
        QVERIFY(QDir(dir).mkdir(name));
    } else if (kind == u'|' || kind == u'@') {
        QCOMPARE(kind == u'|' ? ::mkfifo(path, 0644) : ::symlink("nowhere", path), 0);
    } else if (kind != u'=') {
        testdata::writeAll(file, name.toUtf8());
    } else if (fields.size() == 1) {
        testdata::copySample(dir, testdata::kMonoMpeg1, name);
    } else if (form.contains(u'~')) {
        QStringEncoder encoder(form.section(u'~', 1).section(u'=', 0, 0).toLatin1().constData());
        const auto field = [&](const QString &text) { return QByteArray(encoder(text)).leftJustified(30, '\0'); };
        testdata::copySample(dir, testdata::kStereoMpeg2, name);
        QFile tagged(file);
        QVERIFY(tagged.open(QIODevice::Append));
        tagged.write("TAG" + field(fields[1]) + field(fields[0]) + QByteArray(64, '\0') + char(255));
    } else {
        testdata::copySample(dir, testdata::kStereoMpeg2, name);
        TagLib::MPEG::File mpeg(path.constData());
        TagLib::ID3v2::Tag *tag = mpeg.ID3v2Tag(true);
        if (fields[0] != u"-")
            tag->setArtist(TagLib::String(fields[0].toStdString(), TagLib::String::UTF8));
        if (fields[1] != u"-")
            tag->setTitle(TagLib::String(fields[1].toStdString(), TagLib::String::UTF8));
        QVERIFY(mpeg.save(TagLib::MPEG::File::ID3v2));
    }
}

// The folder's entries, sorted, in the forms of make(); a regular file as
// "name=content".
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

// The names of the regular files in `folder` as bytes, sorted.
QByteArrayList fileNames(const QByteArray &folder)
{
    QByteArrayList out;
    if (DIR *d = ::opendir(folder.constData())) {
        while (const dirent *e = ::readdir(d)) {
            if (e->d_type == DT_REG)
                out << QByteArray(e->d_name);
        }
        ::closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool run(const QString &program, const QStringList &args, QByteArray *out = nullptr)
{
    QProcess p;
    p.start(QStandardPaths::findExecutable(program, {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}), args);
    const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (out)
        *out = p.readAllStandardOutput().trimmed();
    return ok;
}

// A 16 MB image of `kind` ("exfat": no hard links, letter case ignored;
// "ntfs": hard links) formatted and mounted through FUSE for the life of
// the object; `whyNot` tells why not where that needs root or tools missing.
class Mount {
public:
    explicit Mount(const QString &kind)
    {
        const QString image = dir_.filePath("fs.img");
        testdata::writeAll(image, {});
        QDir(dir_.path()).mkdir("mnt");
        if (::geteuid() != 0)
            whyNot = "mounting needs root";
        else if (!QFile::resize(image, 16 << 20))
            whyNot = "cannot make the image";
        else if (kind == "ntfs" && !run("mkfs.ntfs", {"-F", "-q", image}))
            whyNot = "ntfs-3g is not installed";
        else if (kind == "exfat" && (!run("mkfs.exfat", {image})   // exfat-fuse mounts devices only
                                     || !run("losetup", {"-f", "--show", image}, &loop_)))
            whyNot = "exfatprogs or a loop device is missing";
        else if (!run(kind == "exfat" ? "mount.exfat-fuse" : "ntfs-3g",
                      {loop_.isEmpty() ? image : QString::fromLocal8Bit(loop_), path()}))
            whyNot = "the FUSE mount failed";
    }
    ~Mount()
    {
        if (whyNot.isEmpty())
            run("fusermount", {"-u", path()});
        if (!loop_.isEmpty())
            run("losetup", {"-d", QString::fromLocal8Bit(loop_)});
    }
    QString path() const { return dir_.filePath("mnt"); }
    QString whyNot;

private:
    QTemporaryDir dir_;
    QByteArray loop_;
};

} // namespace

class TestRename : public QObject {
    Q_OBJECT

    std::map<QString, std::unique_ptr<Mount>> mounts_;

private slots:
    void initTestCase()
    {
        QVERIFY(vbmp3_init() != 0);
        for (const QString kind : {"exfat", "ntfs"})
            mounts_[kind] = std::make_unique<Mount>(kind);
    }
    void cleanupTestCase() { vbmp3_free(); }

    void composeNewName_data()
    {
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected");
        QTest::newRow("singer first, trimmed") << "  ABC " << " XYZ  " << "ABC - XYZ.mp3";
        QTest::newRow("only spaces") << "   " << "" << " - .mp3";
        QTest::newRow("ideographic spaces trimmed, inner kept") << u"\u3000歌 手\u3000"_qs << u"曲名\u3000"_qs
                                                                << u"歌 手 - 曲名.mp3"_qs;
        QTest::newRow("period apostrophe ampersand") << "Mr. Big & Co" << "Don't Stop." << "Mr. Big & Co - Don't Stop..mp3";
        QTest::newRow("full-width question mark passes") << u"誰"_qs << u"何？"_qs << u"誰 - 何？.mp3"_qs;
        QTest::newRow("text after NUL ignored") << QString(u"Sing\0?junk"_qs) << QString(u"Song  \0/x"_qs) << "Sing - Song.mp3";
        for (QChar c : u"\"><:;*|?/\\\n\t\x1f\x7f"_qs) {
            QTest::addRow("U+%04X in title", c.unicode()) << "Singer" << u"Ti"_qs + c + u"tle"_qs << kFilenameError;
            QTest::addRow("U+%04X in singer", c.unicode()) << c + u"Singer"_qs << "Title" << kFilenameError;
        }
    }

    void composeNewName()
    {
        QFETCH(QString, artist);
        QFETCH(QString, title);
        QFETCH(QString, expected);
        tags::TagInfo tag;
        tag.ArtistName = tags::fitField(artist, tags::kTextWidth);
        tag.TrackName = tags::fitField(title, tags::kTextWidth);
        QCOMPARE(ComposeNewName(tag), expected);
    }

    // The existence test and the proposed name of one entry (`path` is
    // relative to the folder of `entries`, except "/...").
    void proposedName_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QString>("name");
        using L = QStringList;
        QTest::newRow("tagged") << L{"a.mp3=  ABC |XYZ  "} << "a.mp3" << true << "ABC - XYZ.mp3";
        QTest::newRow("upper-case extension") << L{u"X.MP3=歌手|曲名"_qs} << "X.MP3" << true << u"歌手 - 曲名.mp3"_qs;
        QTest::newRow("title only") << L{"t.mp3=-|Title"} << "t.mp3" << true << " - Title.mp3";
        QTest::newRow("Western ID3v1") << L{u"w.mp3~windows-1252=Édith Piaf|L’hymne à l’amour"_qs} << "w.mp3"
                                       << true << u"Édith Piaf - L’hymne à l’amour.mp3"_qs;
        QTest::newRow("Japanese ID3v1") << L{u"j.mp3~CP932=中島ゆき|時代"_qs} << "j.mp3" << true << u"中島ゆき - 時代.mp3"_qs;
        QTest::newRow("rejected character in tag") << L{"r.mp3=AC/DC|Song"} << "r.mp3" << true << kFilenameError;
        QTest::newRow("no tag at all") << L{"u.mp3="} << "u.mp3" << true << kTagInfoError;
        QTest::newRow("text file") << L{"a.mp3"} << "a.mp3" << true << kTagInfoError;
        QTest::newRow("missing") << L{"a.mp3"} << "b.mp3" << false << kFileNotFound;
        QTest::newRow("folder") << L{"d.mp3/"} << "d.mp3" << false << kFileNotFound;
        QTest::newRow("hidden file") << L{".a.mp3=S|T"} << ".a.mp3" << false << kFileNotFound;
        QTest::newRow("file in hidden folder") << L{".d/", ".d/a.mp3=S|T"} << ".d/a.mp3" << true << "S - T.mp3";
        QTest::newRow("FIFO, not opened") << L{"p.mp3|"} << "p.mp3" << false << kFileNotFound;
        QTest::newRow("dangling link") << L{"l.mp3@"} << "l.mp3" << false << kFileNotFound;
        QTest::newRow("wildcard not expanded") << L{"a.mp3"} << "*.mp3" << false << kFileNotFound;
        QTest::newRow("literal star") << L{"a*.mp3"} << "a*.mp3" << true << kTagInfoError;
        QTest::newRow("trailing separator") << L{"a.mp3"} << "a.mp3/" << false << kFileNotFound;
        QTest::newRow("NUL inside") << L{"a.mp3"} << QString(u"a.mp3\0.txt"_qs) << false << kFileNotFound;
        QTest::newRow("letter case differs") << L{"a.mp3"} << "A.mp3" << false << kFileNotFound;
        QTest::newRow("device") << L{} << "/dev/null" << false << kFileNotFound;
        QTest::newRow("empty") << L{} << "" << false << kFileNotFound;
    }

    void proposedName()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, path);
        QFETCH(bool, exists);
        QFETCH(QString, name);
        QTemporaryDir dir;
        for (const QString &form : entries)
            make(dir.path(), form);
        const QByteArray native = QFile::encodeName(path.isEmpty() || path.startsWith(u'/') ? path : dir.filePath(path));
        QCOMPARE(tags::fileExists(native), exists);
        QCOMPARE(proposedNameFor(native), name);
        QCOMPARE(makeRenameNames({native}), QStringList{name});
    }

    // A few hundred entries of every kind next to every other, read in
    // parallel, in both orders: nothing of one file's tag reaches another's
    // name (a title-only tag follows a full one).
    void parallelReading()
    {
        const QList<QPair<QString, QString>> kinds = {
            {"=Singer %1|Title %1", "Singer %1 - Title %1.mp3"}, {"=-|Only title %1", " - Only title %1.mp3"},
            {"missing", kFileNotFound}, {"=", kTagInfoError}, {"=A%1|B%1", "A%1 - B%1.mp3"},
            {"", kTagInfoError}, {"=Bad?%1|x", kFilenameError}, {"empty", kFileNotFound},
            {u"=%1 歌|曲 %1"_qs, u"%1 歌 - 曲 %1.mp3"_qs}};
        QTemporaryDir dir;
        QList<QByteArray> paths;
        QStringList expected;
        for (int i = 0; i < 301; ++i) {
            const auto &[kind, name] = kinds[(i * 7 + i / 9) % kinds.size()];
            const QString file = QString::number(i) + ".mp3";
            if (kind != "missing" && kind != "empty")
                make(dir.path(), file + QString(kind).replace("%1", QString::number(i)));
            paths << (kind == "empty" ? QByteArray() : QFile::encodeName(dir.filePath(file)));
            expected << QString(name).replace("%1", QString::number(i));
        }
        QCOMPARE(makeRenameNames(paths), expected);
        std::reverse(paths.begin(), paths.end());
        std::reverse(expected.begin(), expected.end());
        QCOMPARE(makeRenameNames(paths), expected);
    }

    // Cancelled in the middle, proposed names cover a prefix of the list, and
    // a Rename stops between files: those before renamed, the rest not.
    void cancelInTheMiddle_data()
    {
        QTest::addColumn<bool>("rename");
        QTest::newRow("reading") << false;
        QTest::newRow("renaming") << true;
    }

    void cancelInTheMiddle()
    {
        QFETCH(bool, rename);
        QTemporaryDir dir;
        const auto file = [&](const char *prefix, int i) {
            return dir.filePath(prefix + QStringLiteral("%1.mp3").arg(i, 4, 10, QChar(u'0')));
        };
        make(dir.path(), "0000.mp3=S|T");
        QList<QByteArray> paths;
        QList<RenameJob> jobs;
        for (int i = 0; i < 3000; ++i) {
            QVERIFY(i == 0 || QFile::copy(file("", 0), file("", i)));
            paths << QFile::encodeName(file("", i));
            jobs.append({i, paths.last(), QFileInfo(file("r", i)).fileName()});
        }
        NameProgress names;
        RenameProgress renames;
        QStringList got;
        RenameResult result;
        std::thread work([&] {
            if (rename)
                result = renaming::renameFiles(jobs, nullptr, &renames);
            else
                got = makeRenameNames(paths, &names);
        });
        while ((rename ? qsizetype(renames.done.load()) : names.done.load()) < 50)
            std::this_thread::yield();
        (rename ? renames.cancel : names.cancel) = true;
        work.join();
        if (!rename) {
            QVERIFY(got.size() >= 50 && got.size() < 3000);
            QCOMPARE(got, QStringList(got.size(), "S - T.mp3"));
            return;
        }
        const int renamed = 3000 - result.notTried;
        QVERIFY(result.notTried > 0 && renamed >= 50 && result.failed.isEmpty());
        QCOMPARE(QDir(dir.path()).entryList({"r*.mp3"}).size(), renamed);
        QVERIFY(QFile::exists(file("r", renamed - 1)) && QFile::exists(file("", renamed)));
    }

    // One run of renames in a folder here ("") or on a FUSE mount; files
    // hold their own names, so the folder afterwards shows what went where.
    void renameFiles_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("jobs");       // current name, new name, in pairs
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QList<int>>("failedJobs");
        using L = QStringList;
        using F = QList<int>;
        // NTFS takes the hard-link way, exFAT the reserved-empty-file way.
        for (const char *where : {"", "exfat", "ntfs"}) {
            const char *label = *where ? where : "here";
            QTest::addRow("%s: renamed", label) << where << L{"a.mp3"} << L{"a.mp3", u"歌手 - 曲名.mp3"_qs}
                                                << L{u"歌手 - 曲名.mp3=a.mp3"_qs} << F{};
            QTest::addRow("%s: target exists", label) << where << L{"a.mp3", "b.mp3"} << L{"a.mp3", "b.mp3"}
                                                      << L{"a.mp3=a.mp3", "b.mp3=b.mp3"} << F{0};
            QTest::addRow("%s: letter case only", label) << where << L{"abc.mp3"} << L{"abc.mp3", "ABC.mp3"}
                                                         << L{"ABC.mp3=abc.mp3"} << F{};
            QTest::addRow("%s: same proposed name twice: first wins", label)
                << where << L{"a.mp3", "b.mp3"} << L{"a.mp3", "n.mp3", "b.mp3", "n.mp3"}
                << L{"b.mp3=b.mp3", "n.mp3=a.mp3"} << F{1};
        }
        // A folder that ignores case: a name differing in case only is still
        // another file.
        QTest::newRow("exfat: target exists in other letter case") << "exfat" << L{"a.mp3", "B.mp3"} << L{"a.mp3", "b.mp3"}
                                                                   << L{"B.mp3=B.mp3", "a.mp3=a.mp3"} << F{0};
        QTest::newRow("exfat: case change, then a new name in the old case")
            << "exfat" << L{"x.mp3", "y.mp3"} << L{"x.mp3", "X.mp3", "y.mp3", "x.mp3"}
            << L{"X.mp3=x.mp3", "y.mp3=y.mp3"} << F{1};
        QTest::newRow("own name again") << "" << L{"a.mp3"} << L{"a.mp3", "a.mp3"} << L{"a.mp3=a.mp3"} << F{};
        QTest::newRow("target is a dangling link") << "" << L{"a.mp3", "l.mp3@"} << L{"a.mp3", "l.mp3"}
                                                   << L{"a.mp3=a.mp3", "l.mp3@"} << F{0};
        QTest::newRow("letter case only, both names taken") << "" << L{"a.mp3", "A.mp3"} << L{"a.mp3", "A.mp3"}
                                                            << L{"A.mp3=A.mp3", "a.mp3=a.mp3"} << F{0};
        QTest::newRow("markers") << "" << L{"a.mp3", "b.mp3", "c.mp3"}
                                 << L{"a.mp3", kFileNotFound, "b.mp3", kTagInfoError, "c.mp3", kFilenameError}
                                 << L{"a.mp3=a.mp3", "b.mp3=b.mp3", "c.mp3=c.mp3"} << F{0, 1, 2};
        QTest::newRow("names that leave the folder or hold rejected characters")
            << "" << L{"a.mp3", "x/"}
            << L{"a.mp3", "x/y.mp3", "a.mp3", "..", "a.mp3", ".", "a.mp3", "", "a.mp3", "a\\b.mp3",
                 "a.mp3", "q?.mp3", "a.mp3", "new\nline.mp3", "a.mp3", u"del\x7f.mp3"_qs}
            << L{"a.mp3=a.mp3", "x/"} << F{0, 1, 2, 3, 4, 5, 6, 7};
        QTest::newRow("missing, folder or FIFO as the file") << "" << L{"d.mp3/", "p.mp3|"}
                                                             << L{"gone.mp3", "n.mp3", "d.mp3", "e.mp3", "p.mp3", "f.mp3"}
                                                             << L{"d.mp3/", "p.mp3|"} << F{0, 1, 2};
        QTest::newRow("the same file twice") << "" << L{"a.mp3"} << L{"a.mp3", "x.mp3", "a.mp3", "y.mp3"}
                                             << L{"x.mp3=a.mp3"} << F{1};
        QTest::newRow("cycle of three refused") << "" << L{"a.mp3", "b.mp3", "c.mp3"}
                                                << L{"a.mp3", "b.mp3", "b.mp3", "c.mp3", "c.mp3", "a.mp3"}
                                                << L{"a.mp3=a.mp3", "b.mp3=b.mp3", "c.mp3=c.mp3"} << F{0, 1, 2};
        QTest::newRow("chain, first link first: it fails, the next goes on")
            << "" << L{"a.mp3", "b.mp3"} << L{"a.mp3", "b.mp3", "b.mp3", "c.mp3"} << L{"a.mp3=a.mp3", "c.mp3=b.mp3"} << F{0};
        QTest::newRow("chain, last link first") << "" << L{"a.mp3", "b.mp3"} << L{"b.mp3", "c.mp3", "a.mp3", "b.mp3"}
                                                << L{"b.mp3=a.mp3", "c.mp3=b.mp3"} << F{};
    }

    void renameFiles()
    {
        QFETCH(QString, where);
        QFETCH(QStringList, before);
        QFETCH(QStringList, jobs);
        QFETCH(QStringList, after);
        QFETCH(QList<int>, failedJobs);
        if (!where.isEmpty() && !mounts_[where]->whyNot.isEmpty())
            QSKIP(qPrintable(mounts_[where]->whyNot));
        static int serial = 0;   // a fresh folder on the mount for each row
        QTemporaryDir tmp;
        const QString dir = where.isEmpty() ? tmp.path() : mounts_[where]->path() + "/t" + QString::number(++serial);
        QVERIFY(QDir().mkpath(dir));
        for (const QString &form : before)
            make(dir, form);

        QList<RenameJob> list;
        QStringList expectedFailed;
        QList<RenameResult::NewPath> expectedNewPaths;
        for (int j = 0; j + 1 < jobs.size(); j += 2) {
            const int row = 100 + 3 * j;   // rows of the list need not be consecutive
            const QString from = dir + u'/' + jobs[j];
            list.append({row, QFile::encodeName(from), jobs[j + 1]});
            if (failedJobs.contains(j / 2))
                expectedFailed << from;
            else if (jobs[j + 1] != jobs[j])
                expectedNewPaths.append({row, QFile::encodeName(dir + u'/' + jobs[j + 1])});
        }
        const RenameResult result = renaming::renameFiles(list);
        QCOMPARE(result.failed, expectedFailed);
        QCOMPARE(result.newPaths, expectedNewPaths);
        QCOMPARE(entries(dir), after);   // no temporary name or reserved empty file left
    }

    void messagesAndFolders()
    {
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.filePath("a.mp3"));
        QVERIFY(!renameNoReplace(path, path).ok());   // the own name needs the file
        testdata::writeAll(path, "x");
        QVERIFY(renameNoReplace(path, path).ok());
        QCOMPARE(GetFolderPath("/m/a.mp3"), "/m/");
        QCOMPARE(GetFolderPath("C:\\m\\a.mp3"), "");   // a backslash is no separator
        QCOMPARE(renameFailureMessage({}), QString());
        QCOMPARE(renameFailureMessage({"/m/b.mp3", u"/m/曲.mp3"_qs}),
                 u"以下のファイルは変更できませんでした。\r\n\r\n/m/b.mp3\r\n/m/曲.mp3\r\n"_qs);
    }

    // Files a -> A, b -> B, "c\xff" -> C; the batch stops after `renamed`
    // of them with `noted` of those in the journal. Then `meanwhile`
    // happens and a new run undoes the batch.
    void undo_data()
    {
        QTest::addColumn<int>("renamed");
        QTest::addColumn<int>("noted");
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QByteArrayList>("after");   // the folder after Undo
        QTest::addColumn<int>("failed");
        QTest::addColumn<int>("gone");
        const QByteArrayList start{"a", "b", "c\xff"};
        QTest::newRow("whole batch") << 3 << 3 << "" << start << 0 << 0;
        QTest::newRow("batch over, one rename failed, same file under its name")
            << 2 << 2 << "link C, end" << QByteArrayList{"C", "a", "b", "c\xff"} << 0 << 0;
        QTest::newRow("crash before any note") << 3 << 0 << "" << start << 0 << 0;
        QTest::newRow("crash in the middle") << 2 << 1 << "" << start << 0 << 0;
        QTest::newRow("crash before the first rename") << 0 << 0 << "" << start << 0 << 0;
        QTest::newRow("an old name taken meanwhile")
            << 3 << 3 << "take b" << QByteArrayList{"B", "a", "b", "c\xff"} << 1 << 0;
        QTest::newRow("a renamed file deleted meanwhile") << 3 << 3 << "delete A" << QByteArrayList{"b", "c\xff"} << 0 << 1;
        QTest::newRow("another file under a new name, not noted")
            << 3 << 2 << "replace C" << QByteArrayList{"C", "a", "b"} << 0 << 0;
    }

    void undo()
    {
        QFETCH(int, renamed);
        QFETCH(int, noted);
        QFETCH(QString, meanwhile);
        QFETCH(QByteArrayList, after);
        QFETCH(int, failed);
        QFETCH(int, gone);
        QTemporaryDir tmp;
        const QByteArray dir = QFile::encodeName(tmp.path()) + '/';
        const QString journalPath = tmp.filePath("config/journal.txt");
        QList<JournalEntry> batch;
        const QByteArrayList from{"a", "b", "c\xff"}, to{"A", "B", "C"};
        for (int i = 0; i < 3; ++i) {
            QVERIFY(::close(::open(dir + from[i], O_WRONLY | O_CREAT, 0644)) == 0);
            batch.append({dir + from[i], dir + to[i]});
        }
        {
            RenameJournal journal(journalPath);
            QVERIFY(journal.begin(batch));
            for (int i = 0; i < renamed; ++i) {
                QCOMPARE(::rename(batch[i].from, batch[i].to), 0);
                if (i < noted)
                    journal.markDone(i);
            }
        }   // the program ends (or crashes) here
        if (meanwhile == "link C, end") {
            // The third rename failed: a hard link of the same file had the
            // name. The batch ended; that file must stay where it is.
            QCOMPARE(::link(dir + "c\xff", dir + "C"), 0);
            QFile f(journalPath);
            QVERIFY(f.open(QIODevice::Append) && f.write("E\n") == 2);
        } else if (meanwhile == "take b") {
            testdata::writeAll(tmp.filePath("b"), {});
        } else if (meanwhile == "delete A") {
            QVERIFY(QFile::remove(tmp.filePath("A")));
        } else if (meanwhile == "replace C") {   // made first, so it cannot take the old inode
            testdata::writeAll(tmp.filePath("C.new"), {});
            QCOMPARE(::rename(dir + "C.new", dir + "C"), 0);
        }
        QList<JournalEntry> loaded;
        QCOMPARE(RenameJournal(journalPath).load(loaded), RenameJournal::Load::Loaded);
        const UndoResult result = undoBatch(loaded);
        QCOMPARE(result.failed.size(), failed);
        QCOMPARE(result.gone, gone);
        QCOMPARE(fileNames(dir), after);
    }

    // A journal cut short or damaged is told apart from one that is fine.
    void loadJournal_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<RenameJournal::Load>("result");
        const QByteArray head = "Dorvasu rename journal 1\n", f = "F 1 2 /a%20b /c\nF 1 3 /d%FF /e\n";
        QTest::newRow("none") << QByteArray() << RenameJournal::Load::Nothing;
        QTest::newRow("fine") << head + f + "D 0\n" << RenameJournal::Load::Loaded;
        QTest::newRow("last note cut") << head + f + "D" << RenameJournal::Load::Loaded;
        QTest::newRow("not a journal") << QByteArray("\x00\x01garbage", 9) << RenameJournal::Load::Damaged;
        QTest::newRow("note past the batch") << head + f + "D 7\n" << RenameJournal::Load::Damaged;
        QTest::newRow("bad line inside") << head + "F x y\n" + f << RenameJournal::Load::Damaged;
    }

    void loadJournal()
    {
        QFETCH(QByteArray, text);
        QFETCH(RenameJournal::Load, result);
        QTemporaryDir dir;
        if (!text.isNull())
            testdata::writeAll(dir.filePath("j.txt"), text);
        QList<JournalEntry> batch;
        QCOMPARE(RenameJournal(dir.filePath("j.txt")).load(batch), result);
        if (result == RenameJournal::Load::Loaded) {
            QCOMPARE(batch.size(), 2);
            QCOMPARE(batch[0].from, QByteArray("/a b"));
            QCOMPARE(batch[1].from, QByteArray("/d\xff"));
        }
    }
};

QTEST_GUILESS_MAIN(TestRename)
#include "tst_rename.moc"
