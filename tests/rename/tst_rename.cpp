// Proposed names from real files and tags, the rename that never replaces
// (here, and on NTFS and exFAT mounted through FUSE), and Undo from the journal.

#include <filesystem>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include "core/tags/existence.h"
#include "common/id3build.h"
#include "common/table.h"
#include "core/rename/newname.h"
#include "core/rename/noreplace.h"
#include "core/rename/renamefiles.h"
#include "core/rename/renamejournal.h"
#include "core/rename/renamelist.h"
#include "core/tags/taginfo.h"
#include "core/tags/vbmp3.h"

using namespace renaming;

namespace {

void addRows(const QString &section, const QList<table::Column> &columns) { table::addRows("rename.txt", section, columns); }

QStringList items(const QString &field) { return field.split(", ", Qt::SkipEmptyParts); }

// Makes a folder entry from its form in tests/data/rename.txt.
void make(const QString &dir, const QString &form)
{
    const QString name = form.left(form.indexOf(QRegularExpression("[~=]|/$| \\(")));
    const QString file = dir + u'/' + name;
    const QByteArray path = QFile::encodeName(file);
    const QStringList fields = form.section(u'=', 1).split(u':');
    if (!form.contains(u'=') && form.endsWith(u'/')) {
        QVERIFY(QDir(dir).mkdir(name));
    } else if (!form.contains(u'=') && form.endsWith(u')')) {
        QCOMPARE(form.endsWith("(fifo)") ? ::mkfifo(path, 0644) : ::symlink("nowhere", path), 0);
    } else if (!form.contains(u'=')) {
        testdata::writeAll(file, name.toUtf8());
    } else if (fields.size() == 1) {
        testdata::copySample(dir, testdata::kMonoMpeg1, name);
    } else if (form.contains(u'~')) {
        QStringEncoder encoder(form.section(u'~', 1).section(u'=', 0, 0).toLatin1().constData());
        testdata::copySample(dir, testdata::kStereoMpeg2, name);
        testdata::writeAll(file, testdata::readAll(file) + id3build::v1(encoder(fields[1]), encoder(fields[0])));
    } else {
        testdata::copySample(dir, testdata::kStereoMpeg2, name);
        TagLib::MPEG::File mpeg(path.constData());
        if (fields[0] != u"-")
            mpeg.ID3v2Tag(true)->setArtist(TagLib::String(fields[0].toStdString(), TagLib::String::UTF8));
        if (fields[1] != u"-")
            mpeg.ID3v2Tag(true)->setTitle(TagLib::String(fields[1].toStdString(), TagLib::String::UTF8));
        QVERIFY(mpeg.save(TagLib::MPEG::File::ID3v2));
    }
}

// The folder's entries, sorted, in the forms of make(); a file as "name=content".
QStringList entries(const QString &dir)
{
    QStringList out;
    for (const QFileInfo &info :
         QDir(dir).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        out << info.fileName()
                + (info.isSymLink() ? " (link)"
                   : info.isDir()   ? "/"
                   : info.isFile()  ? "=" + QString::fromUtf8(testdata::readAll(info.filePath()))
                                    : " (fifo)");
    }
    out.sort();
    return out;
}

// The names of the regular files in `folder` as bytes, sorted.
QByteArrayList fileNames(const QByteArray &folder)
{
    QByteArrayList out;
    for (const auto &entry : std::filesystem::directory_iterator(folder.constData()))
        out << QByteArray::fromStdString(entry.is_regular_file() ? entry.path().filename().native() : "");
    out.removeAll(QByteArray());
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
// "ntfs": hard links) mounted through FUSE for the life of the object;
// `whyNot` tells why not where that needs root or tools missing.
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
    void init() { TABLE_FAIL_BROKEN_ROW(); }
    void composeNewName_data() { addRows("names", {"singer", "title", "name"}); }

    void composeNewName()
    {
        QFETCH(QString, singer);
        QFETCH(QString, title);
        QFETCH(QString, name);
        tags::TagInfo tag;
        tag.ArtistName = tags::fitField(singer, tags::kTextWidth);
        tag.TrackName = tags::fitField(title, tags::kTextWidth);
        QCOMPARE(ComposeNewName(tag), name);
    }

    // The existence test and the proposed name of one entry.
    void proposedName_data() { addRows("proposed", {"entries", "path", "exists", "proposed"}); }

    void proposedName()
    {
        QFETCH(QString, entries);
        QFETCH(QString, path);
        QFETCH(QString, exists);
        QFETCH(QString, proposed);
        QTemporaryDir dir;
        for (const QString &form : items(entries))
            make(dir.path(), form);
        const QByteArray file = QFile::encodeName(path.isEmpty() || path.startsWith(u'/') ? path : dir.filePath(path));
        QCOMPARE(tags::fileExists(file), exists == u"1");
        QCOMPARE(proposedNameFor(file), proposed);
        QCOMPARE(makeRenameNames({file}), QStringList{proposed});
    }

    // Cancelled in the middle, proposed names cover a prefix of the list, and
    // a Rename stops between files: those before renamed, the rest not.
    void cancelInTheMiddle_data() { addRows("cancel", {}); }

    void cancelInTheMiddle()
    {
        const bool rename = table::rowName() == u"renaming";
        QTemporaryDir dir;
        const auto file = [&](const char *prefix, int i) {
            return dir.filePath(prefix + QStringLiteral("%1.mp3").arg(i, 4, 10, QChar(u'0')));
        };
        make(dir.path(), "0000.mp3=S:T");
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
        std::thread work([&] { rename ? void(result = renaming::renameFiles(jobs, nullptr, &renames))
                                      : void(got = makeRenameNames(paths, &names)); });
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

    // One run of renames in a folder here or on a FUSE mount; files hold
    // their own names, so the folder afterwards shows what went where.
    void renameFiles_data() { addRows("renames", {"before", "renames", "after", "fail"}); }

    void renameFiles()
    {
        QFETCH(QString, before);
        QFETCH(QString, renames);
        QFETCH(QString, after);
        QFETCH(QString, fail);
        const QString where = table::rowName().section(u':', 0, 0);
        if (where != u"here" && !mounts_[where]->whyNot.isEmpty())
            QSKIP(qPrintable(mounts_[where]->whyNot));
        static int serial = 0;   // a fresh folder on the mount for each row
        QTemporaryDir tmp;
        const QString dir = where == u"here" ? tmp.path() : mounts_[where]->path() + "/t" + QString::number(++serial);
        QVERIFY(QDir().mkpath(dir));
        for (const QString &form : items(before))
            make(dir, form);
        QList<RenameJob> list;
        QStringList expectedFailed;
        QList<RenameResult::NewPath> expectedNewPaths;
        const QStringList jobs = items(renames), failed = fail.split(u' ');
        for (int j = 0; j < jobs.size(); ++j) {
            const int index = 100 + 3 * j;   // rows of the list need not be consecutive
            const QString from = dir + u'/' + jobs[j].section(u'>', 0, 0), to = jobs[j].section(u'>', 1);
            list.append({index, QFile::encodeName(from), to});
            if (failed.contains(QString::number(j)))
                expectedFailed << from;
            else if (from != dir + u'/' + to)
                expectedNewPaths.append({index, QFile::encodeName(dir + u'/' + to)});
        }
        const RenameResult result = renaming::renameFiles(list);
        QCOMPARE(result.failed, expectedFailed);
        QCOMPARE(result.newPaths, expectedNewPaths);
        QCOMPARE(entries(dir), items(after));   // no temporary name or reserved empty file left
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

    // A batch stopped after some renames, some of them noted; then the steps
    // of something happening meanwhile, and a new run undoes the batch.
    void undo_data() { addRows("undo", {"renamed", "noted", "meanwhile", "folder", "failed", "gone"}); }

    void undo()
    {
        QFETCH(QString, renamed);
        QFETCH(QString, noted);
        QFETCH(QString, meanwhile);
        QFETCH(QString, folder);
        QFETCH(QString, failed);
        QFETCH(QString, gone);
        const int renamedFiles = renamed.toInt(), notedFiles = noted.toInt();
        QTemporaryDir tmp;
        const QByteArray dir = QFile::encodeName(tmp.path()) + '/';
        const QString journalPath = tmp.filePath("config/journal.txt");
        QList<JournalEntry> batch;
        OpenFolders folders;
        for (const QByteArray name : {"a", "b", "c\xff"}) {
            QVERIFY(::close(::open(dir + name, O_WRONLY | O_CREAT, 0644)) == 0);
            batch.append({dir + name, dir + name.left(1).toUpper()});
            QVERIFY(identifyAt(folders.at(dir), name, &batch.last().id));
        }
        {
            RenameJournal journal(journalPath);
            QVERIFY(journal.begin(batch));
            for (int i = 0; i < renamedFiles; ++i) {
                QCOMPARE(::rename(batch[i].from, batch[i].to), 0);
                if (i < notedFiles)
                    journal.markDone(i);
            }
        }   // the program ends (or crashes) here
        QByteArrayList reused;
        for (const QString &step : meanwhile.split("; ", Qt::SkipEmptyParts)) {
            const QByteArrayList w = QString(step).replace("\\xff", QChar(0xFF)).toLatin1().split(' ');
            QFile journal(journalPath);
            if (w[0] == "note")   // "note E": the batch ended, as after a failed rename
                QVERIFY(journal.open(QIODevice::Append) && journal.write(w.mid(1).join(' ') + '\n') > 0);
            else if (w[0] == "aside")   // under the temporary name of a case change to NAME
                QCOMPARE(::rename(dir + w[1], dir + caseTemporaryName(w[1])), 0);
            else if (w[0] == "link")
                QCOMPARE(::link(dir + w[1], dir + w[2]), 0);
            else if (w[0] == "move")
                QCOMPARE(::rename(dir + w[1], dir + w[2]), 0);
            else if (w[0] == "delete" || w[0] == "reuse")
                QCOMPARE(::unlink(dir + w[1]), 0);
            if (w[0] == "reuse")   // a new file under the name, given the deleted one's inode number
                reused << dir + w[1];
            if (w[0] == "make" || w[0] == "reuse")
                testdata::writeAll(QFile::decodeName(dir + w[1]), {});   // "make NAME"
        }
        QList<JournalEntry> loaded;
        QCOMPARE(RenameJournal(journalPath).load(loaded), RenameJournal::Load::Loaded);
        for (JournalEntry &e : loaded) {
            struct stat st;
            if (reused.contains(e.to) && ::stat(e.to, &st) == 0)
                e.id.inode = st.st_ino;
        }
        const UndoResult result = undoBatch(loaded);
        QCOMPARE(result.failed.size(), failed.toInt());
        QCOMPARE(result.gone, gone.toInt());
        QCOMPARE(fileNames(dir), folder.replace("\\xff", QChar(0xFF)).toLatin1().split(' '));
        for (const QByteArray &name : fileNames(dir))
            ::unlink(dir + name);   // QTemporaryDir cannot remove "c\xff"
    }

    // A journal whose batch holds one file twice (c1 to c2, c0 to c1, c1 to
    // c2 again), cut short after both renames: the later entry of c1 never
    // renamed it, so Undo brings both files back and reports nothing.
    void undoFileTwice()
    {
        QTemporaryDir tmp;
        const QByteArray dir = QFile::encodeName(tmp.path()) + '/';
        OpenFolders folders;
        QList<JournalEntry> batch;
        for (const char *name : {"c0", "c1"})
            testdata::writeAll(QFile::decodeName(dir + name), name);
        for (const auto &[from, to] : {std::pair{"c1", "c2"}, {"c0", "c1"}, {"c1", "c2"}}) {
            batch.append({dir + from, dir + to});
            QVERIFY(identifyAt(folders.at(dir), from, &batch.last().id));
        }
        RenameJournal journal(tmp.filePath("journal.txt"));
        QVERIFY(journal.begin(batch));
        for (int i : {0, 1}) {
            QCOMPARE(::rename(batch[i].from, batch[i].to), 0);
            journal.markDone(i);
        }
        QList<JournalEntry> loaded;
        QCOMPARE(RenameJournal(tmp.filePath("journal.txt")).load(loaded), RenameJournal::Load::Loaded);
        const UndoResult result = undoBatch(loaded);
        QCOMPARE(result.failed, QList<QByteArray>());
        QCOMPARE(result.gone, 0);
        QCOMPARE(result.moved.size(), 2);
        QCOMPARE(testdata::readAll(QFile::decodeName(dir + "c0")) + testdata::readAll(QFile::decodeName(dir + "c1")),
                 "c0c1");
    }

    // A journal whose writing is stopped (中止 before the first rename) leaves nothing behind:
    // neither the journal nor its half-written text.
    void journalStopped()
    {
        QTemporaryDir tmp;
        QList<JournalEntry> batch;
        for (int i = 0; i < 20000; ++i)   // more than one block of text
            batch.append({"/music/" + QByteArray::number(i) + ".mp3", "/music/S - T" + QByteArray::number(i) + ".mp3"});
        const std::atomic<bool> stop = true;
        RenameJournal journal(tmp.filePath("j.txt"));
        QVERIFY(!journal.begin(batch, &stop));
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Files), QStringList());
        QVERIFY(journal.begin(batch));
        QList<JournalEntry> loaded;
        QCOMPARE(RenameJournal(tmp.filePath("j.txt")).load(loaded), RenameJournal::Load::Loaded);
        QCOMPARE(loaded.size(), batch.size());
        QCOMPARE(loaded.last().to, batch.last().to);
    }

    // A journal cut short or damaged is told apart from one that is fine.
    void loadJournal_data() { addRows("journal", {"text", "loads"}); }

    void loadJournal()
    {
        QFETCH(QString, text);
        QFETCH(QString, loads);
        QTemporaryDir dir;
        if (text != u"-")
            testdata::writeAll(dir.filePath("j.txt"), text.toUtf8());
        QList<JournalEntry> batch;
        const RenameJournal::Load result = RenameJournal(dir.filePath("j.txt")).load(batch);
        QCOMPARE(result, loads == u"Nothing" ? RenameJournal::Load::Nothing
                         : loads == u"Loaded" ? RenameJournal::Load::Loaded
                                               : RenameJournal::Load::Damaged);
        if (result == RenameJournal::Load::Loaded) {
            QCOMPARE(batch.size(), 2);
            QCOMPARE(batch[0].from, QByteArray("/a b"));
            QCOMPARE(batch[1].from, QByteArray("/d\xff"));
        }
    }
};

QTEST_GUILESS_MAIN(TestRename)
#include "tst_rename.moc"
