// Renaming while another program keeps creating the same target names: a
// taken name is refused, never overwritten; every file's content is still in
// the folder afterwards, once.

#include "renamefiles.h"
#include "testdata.h"

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
