// Renaming while another thread takes the same names, by creating the targets
// or by renaming other files to them: nothing is ever overwritten, every
// file's content is still in the folder afterwards, once.

#include "renamefiles.h"
#include "testdata.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using renaming::RenameJob;

namespace {

// Name -> hash of the content, for every file of the folder.
QMap<QString, QByteArray> hashes(const QString &folder)
{
    QMap<QString, QByteArray> map;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        map.insert(name, QCryptographicHash::hash(testdata::readAll(folder + u'/' + name), QCryptographicHash::Sha1));
    return map;
}

} // namespace

class TestRaces : public QObject {
    Q_OBJECT

private slots:
    void targetTakenMeanwhile_data()
    {
        QTest::addColumn<bool>("byRename");
        QTest::newRow("another program creates the targets") << false;
        QTest::newRow("another rename takes the same names") << true;
    }

    void targetTakenMeanwhile()
    {
        QFETCH(bool, byRename);
        constexpr int kFiles = 8;
        int refused = 0;
        for (int trial = 0; trial < 500; ++trial) {
            QTemporaryDir dir;
            QList<RenameJob> mine, theirs;
            QStringList targets;
            for (int i = 0; i < kFiles; ++i) {
                targets << dir.filePath(QStringLiteral("Singer - Song %1.mp3").arg(i));
                const QString path = dir.filePath(QStringLiteral("track%1.mp3").arg(i));
                testdata::writeAll(path, QStringLiteral("mine %1 %2").arg(trial).arg(i).toUtf8());
                mine.append({i, QFile::encodeName(path), QFileInfo(targets[i]).fileName()});
                if (byRename) {
                    const QString other = dir.filePath(QStringLiteral("other%1.mp3").arg(i));
                    testdata::writeAll(other, QStringLiteral("theirs %1 %2").arg(trial).arg(i).toUtf8());
                    theirs.append({i, QFile::encodeName(other), QFileInfo(targets[i]).fileName()});
                }
            }
            const QMap<QString, QByteArray> before = hashes(dir.path());
            std::atomic<bool> go{false}, done{false};
            std::atomic<int> created{0};
            std::thread other([&] {
                while (!go.load())
                    std::this_thread::yield();
                if (byRename)
                    renaming::renameFiles(theirs);
                // Another program: create each target that is still free, until the renames are over.
                for (int i = 0; !byRename && !done.load(); i = (i + 1) % kFiles) {
                    const int fd = ::open(QFile::encodeName(targets[i]).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                    if (fd >= 0) {
                        created += ::write(fd, "intruder", 8) == 8;
                        ::close(fd);
                    }
                }
            });
            go = true;
            const renaming::RenameResult result = renaming::renameFiles(mine);
            done = true;
            other.join();

            // Every content that was there is still there exactly once, next
            // to the intruders; a refused file is where it was, unchanged.
            const QMap<QString, QByteArray> after = hashes(dir.path());
            QList<QByteArray> got = after.values(), wanted = before.values();
            const QByteArray intruder = QCryptographicHash::hash("intruder", QCryptographicHash::Sha1);
            wanted.append(QList<QByteArray>(created, intruder));
            std::sort(got.begin(), got.end());
            std::sort(wanted.begin(), wanted.end());
            QCOMPARE(got, wanted);
            for (const QString &path : result.failed)
                QCOMPARE(after.value(QFileInfo(path).fileName()), before.value(QFileInfo(path).fileName()));
            QCOMPARE(result.newPaths.size() + result.failed.size(), qsizetype(kFiles));
            refused += result.failed.size();
        }
        qInfo("500 trials of %d renames: %d refused, the target taken by the other", kFiles, refused);
    }
};

QTEST_GUILESS_MAIN(TestRaces)
#include "tst_races.moc"
