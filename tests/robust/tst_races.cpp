// Renaming while another program keeps creating the same target names: a
// taken name is refused, never overwritten; every file's content is still in
// the folder afterwards, once. Another program acting at a chosen step of a
// batch, or of a tag write through a copy.

#include "common/id3build.h"
#include "core/rename/renamefiles.h"
#include "core/rename/renamejournal.h"
#include "core/tags/taginfo.h"
#include "common/table.h"
#include "core/tags/vbmp3.h"
#include "core/tags/write_files.h"

namespace {

// Every file and link under `root` but the journal's folder: "path=content", "path>target".
QString state(const QString &root)
{
    QStringList out;
    for (QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        const QFileInfo info(it.nextFileInfo());
        const QString path = QDir(root).relativeFilePath(info.filePath());
        if (info.isSymLink())
            out << path + u'>' + info.symLinkTarget().section(u'/', -1);
        else if (info.isFile() && !path.startsWith("config/"))
            out << path + u'=' + QString::fromUtf8(testdata::readAll(info.filePath()));
    }
    out.sort();
    return out.join(", ");
}

} // namespace

class TestRaces : public QObject {
    Q_OBJECT

    // Name -> content, for every file of the folder.
    static QMap<QString, QByteArray> contents(const QString &folder)
    {
        QMap<QString, QByteArray> map;
        for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
            map.insert(name, testdata::readAll(folder + u'/' + name));
        return map;
    }

private slots:
    void init() { TABLE_FAIL_BROKEN_ROW(); }

    // A batch of d/a.mp3, d/b.mp3 and the link d/l.mp3 (to c.mp3), journalled,
    // with another program acting before job `step`; then Undo.
    void interference_data() { table::addRows("rename.txt", "races", {"step", "action", "after", "undone"}); }

    void interference()
    {
        QFETCH(QString, step);
        QFETCH(QString, action);
        QFETCH(QString, after);
        QFETCH(QString, undone);
        QTemporaryDir dir;
        const QString d = dir.filePath("d");
        QVERIFY(QDir().mkpath(d) && QDir().mkpath(dir.filePath("e")));
        for (const QString name : {"a.mp3", "b.mp3", "c.mp3", "o.mp3"})
            testdata::writeAll(d + u'/' + name, name.toUtf8());
        for (const QString name : {"e/A1.mp3", "e/b.mp3"})
            testdata::writeAll(dir.filePath(name), "e");
        QCOMPARE(::symlink("c.mp3", QFile::encodeName(d + "/l.mp3")), 0);
        const QByteArray in = QFile::encodeName(d) + '/';
        renaming::RenameJournal journal(dir.filePath(action == "nojournal" ? "d/o.mp3/journal.txt" : "config/journal.txt"));
        renaming::RenameProgress progress;
        progress.beforeFile = [&](int job) {
            if (job != step.toInt())
                return;
            if (action == "swap")
                QVERIFY(::rename(in.chopped(1), in.chopped(1) + ".old") == 0 && ::symlink("e", in.chopped(1)) == 0);
            else if (action == "exchange")
                QCOMPARE(::renameat2(AT_FDCWD, in + "b.mp3", AT_FDCWD, in + "o.mp3", RENAME_EXCHANGE), 0);
        };
        const renaming::RenameResult result = renaming::renameFiles(
            {{0, in + "a.mp3", "A1.mp3"}, {1, in + "b.mp3", "B1.mp3"}, {2, in + "l.mp3", "L1.mp3"}}, &journal, &progress);
        QCOMPARE(result.journalFailed, action == "nojournal");
        QCOMPARE(state(dir.path()), after);
        QList<renaming::JournalEntry> batch;
        if (journal.load(batch) == renaming::RenameJournal::Load::Loaded)
            renaming::undoBatch(batch);
        QCOMPARE(state(dir.path()), undone);
    }

    // A file moved in under the name just before a tag write's copy takes
    // its place: the write fails, and that file stays, whole.
    void tagWriteNameTaken()
    {
        QTemporaryDir dir;
        static QByteArray song, other;
        song = QFile::encodeName(dir.filePath("song.mp3")), other = QFile::encodeName(dir.filePath("other.mp3"));
        using namespace id3build;   // a tag without padding: the new one goes through a copy
        testdata::writeAll(dir.filePath("song.mp3"), tag(3, frame(3, "TIT2", latin1("old")), 0) + testdata::audio());
        testdata::writeAll(dir.filePath("other.mp3"), "another program's file");
        mp3lib::detail::beforeReplacing = [] { ::rename(other.constData(), song.constData()); };
        tags::TagInfo t;
        t.TrackName = tags::fitFieldWithNul(QStringLiteral("new"), tags::kTextWidth);
        mp3lib::TagInfoWire wire = t.toWire();
        const bool written = vbmp3_init() && vbmp3_setTagInfo(song.constData(), wire, 0, 1);
        mp3lib::detail::beforeReplacing = nullptr;
        QVERIFY(!written);
        QCOMPARE(state(dir.path()), "song.mp3=another program's file");
    }

    void targetTakenMeanwhile()
    {
        constexpr int kFiles = 8;
        int refused = 0;
        for (int trial = 0; trial < 500; ++trial) {
            QTemporaryDir dir;
            QList<renaming::RenameJob> jobs;
            QList<QByteArray> targets;
            for (int i = 0; i < kFiles; ++i) {
                const QString name = QStringLiteral("Singer - Song %1.mp3").arg(i);
                const QString path = dir.filePath(QStringLiteral("track%1.mp3").arg(i));
                testdata::writeAll(path, QStringLiteral("mine %1 %2").arg(trial).arg(i).toUtf8());
                jobs.append({i, QFile::encodeName(path), name});
                targets << QFile::encodeName(dir.filePath(name));
            }
            const QMap<QString, QByteArray> before = contents(dir.path());
            std::atomic<bool> go{false}, done{false};
            std::atomic<int> created{0};
            std::thread other([&] {   // creates each target that is still free, until the renames are over
                while (!go.load())
                    std::this_thread::yield();
                for (int i = 0; !done.load(); i = (i + 1) % kFiles) {
                    const int fd = ::open(targets[i].constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                    if (fd >= 0) {
                        created += ::write(fd, "intruder", 8) == 8;
                        ::close(fd);
                    }
                }
            });
            go = true;
            const renaming::RenameResult result = renaming::renameFiles(jobs);
            done = true;
            other.join();

            // Every content that was there is still there exactly once, next
            // to the intruders; a refused file is where it was, unchanged.
            const QMap<QString, QByteArray> after = contents(dir.path());
            QList<QByteArray> got = after.values(), wanted = before.values();
            wanted.append(QList<QByteArray>(created, "intruder"));
            std::sort(got.begin(), got.end());
            std::sort(wanted.begin(), wanted.end());
            QCOMPARE(got, wanted);
            for (const QString &path : result.failed)
                QCOMPARE(after.value(QFileInfo(path).fileName()), before.value(QFileInfo(path).fileName()));
            QCOMPARE(result.newPaths.size() + result.failed.size(), qsizetype(kFiles));
            refused += result.failed.size();
        }
        qInfo("500 trials of %d renames: %d refused, the target taken by the other program", kFiles, refused);
    }
};

QTEST_GUILESS_MAIN(TestRaces)
#include "tst_races.moc"
