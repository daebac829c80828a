// Renaming while others take the same names: another thread creating the
// targets, or another rename going for the same ones; and renames within
// one run that point at each other. Nothing is ever overwritten: every
// file's content is still in the folder afterwards, once.

#include "renamefiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using renaming::RenameJob;
using renaming::renameFiles;

namespace {

QByteArray sha1(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

// Name -> hash of the content, for every entry of the folder.
QMap<QString, QByteArray> hashes(const QString &folder)
{
    QMap<QString, QByteArray> map;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        QFile f(folder + u'/' + name);
        if (f.open(QIODevice::ReadOnly))
            map.insert(name, sha1(f.readAll()));
    }
    return map;
}

void write(const QString &path, const QByteArray &content)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(content), content.size());
}

// Creates `path` only if nothing is there, as another program would.
bool createExclusively(const QByteArray &path, const QByteArray &content)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, content.constData(), content.size()) == content.size();
    ::close(fd);
    return ok;
}

} // namespace

class TestRaces : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString freshFolder(const QString &name)
    {
        const QString folder = dir_.filePath(name);
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        return folder;
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void targetTakenMeanwhile_data()
    {
        QTest::addColumn<bool>("byRename");
        QTest::newRow("another program creates the targets") << false;
        QTest::newRow("another rename takes the same names") << true;
    }

    // Many trials of a run of renames while a second thread keeps taking
    // the same target names.
    void targetTakenMeanwhile()
    {
        QFETCH(bool, byRename);
        constexpr int kTrials = 500, kFiles = 8;
        int renamed = 0, refused = 0, overwritten = 0, takenByOther = 0;
        for (int trial = 0; trial < kTrials; ++trial) {
            const QString folder = freshFolder("race");
            QList<RenameJob> mine, theirs;
            QStringList targets;
            for (int i = 0; i < kFiles; ++i) {
                const QString target = QStringLiteral("Singer - Song %1.mp3").arg(i);
                targets << target;
                const QString path = folder + QStringLiteral("/track%1.mp3").arg(i);
                write(path, QStringLiteral("mine %1 %2").arg(trial).arg(i).toUtf8());
                mine.append({i, path, target});
                if (byRename) {
                    const QString other = folder + QStringLiteral("/other%1.mp3").arg(i);
                    write(other, QStringLiteral("theirs %1 %2").arg(trial).arg(i).toUtf8());
                    theirs.append({i, other, target});
                }
            }
            const QMap<QString, QByteArray> before = hashes(folder);

            std::atomic<bool> go{false}, done{false};
            QStringList created;   // by the other program, with their contents
            std::thread other([&] {
                while (!go.load())
                    std::this_thread::yield();
                if (byRename) {
                    renameFiles(theirs);
                    return;
                }
                // Keep trying every free name until the renames are over.
                QList<bool> tried(kFiles, false);
                while (!done.load()) {
                    for (int i = kFiles - 1; i >= 0; --i) {
                        if (tried[i])
                            continue;
                        const QByteArray content = QStringLiteral("intruder %1 %2").arg(trial).arg(i).toUtf8();
                        if (createExclusively(QFile::encodeName(folder + u'/' + targets[i]), content)) {
                            created << QString::fromUtf8(content);
                            tried[i] = true;
                        } else if (errno == EEXIST) {
                            tried[i] = true;   // the rename got there first
                        }
                    }
                }
            });
            go = true;
            const renaming::RenameResult result = renameFiles(mine);
            done = true;
            other.join();

            // Every content that was there, and every file the other
            // program made, is still there exactly once.
            const QMap<QString, QByteArray> after = hashes(folder);
            QList<QByteArray> wanted = before.values();
            for (const QString &c : created)
                wanted << sha1(c.toUtf8());
            QList<QByteArray> got = after.values();
            std::sort(wanted.begin(), wanted.end());
            std::sort(got.begin(), got.end());
            if (got != wanted)
                ++overwritten;
            QCOMPARE(got, wanted);
            // A refused file is where it was, unchanged.
            for (const QString &path : result.failed)
                QCOMPARE(after.value(QFileInfo(path).fileName()), before.value(QFileInfo(path).fileName()));
            renamed += result.newPaths.size();
            refused += result.failed.size();
            takenByOther += byRename ? kFiles - result.newPaths.size() : created.size();
            QCOMPARE(result.newPaths.size() + result.failed.size(), qsizetype(kFiles));
        }
        qInfo("%d trials, %d renames: %d done, %d refused (target taken by the other: %d), "
              "%d files overwritten",
              kTrials, kTrials * kFiles, renamed, refused, takenByOther, overwritten);
    }

    void namesWithinOneRun_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("jobs");      // "from>to", in order
        QTest::addColumn<QStringList>("failed");
        QTest::addColumn<QStringList>("after");     // "name=content" of every file afterwards
        QTest::newRow("swap") << QStringList{"A", "B"} << QStringList{"A>B", "B>A"}
                              << QStringList{"A", "B"} << QStringList{"A=A", "B=B"};
        QTest::newRow("chain") << QStringList{"A", "B"} << QStringList{"A>B", "B>C"}
                               << QStringList{"A"} << QStringList{"A=A", "C=B"};
        QTest::newRow("chain, last link first") << QStringList{"A", "B"} << QStringList{"B>C", "A>B"}
                                                << QStringList{} << QStringList{"B=A", "C=B"};
        QTest::newRow("cycle of three") << QStringList{"A", "B", "C"} << QStringList{"A>B", "B>C", "C>A"}
                                        << QStringList{"A", "B", "C"} << QStringList{"A=A", "B=B", "C=C"};
        QTest::newRow("two files, one name") << QStringList{"A", "B"} << QStringList{"A>X", "B>X"}
                                             << QStringList{"B"} << QStringList{"B=B", "X=A"};
        QTest::newRow("the same file twice") << QStringList{"A"} << QStringList{"A>X", "A>Y"}
                                             << QStringList{"A"} << QStringList{"X=A"};
    }

    // Renames of one run that point at each other's names: failures
    // listed, no file moved onto another.
    void namesWithinOneRun()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, jobs);
        QFETCH(QStringList, failed);
        QFETCH(QStringList, after);
        const QString folder = freshFolder("within");
        for (const QString &name : files)
            write(folder + "/" + name + ".mp3", name.toUtf8());
        QList<RenameJob> list;
        for (int i = 0; i < jobs.size(); ++i)
            list.append({i, folder + "/" + jobs[i].section(u'>', 0, 0) + ".mp3", jobs[i].section(u'>', 1) + ".mp3"});

        const renaming::RenameResult result = renameFiles(list);
        QStringList failedNames;
        for (const QString &path : result.failed)
            failedNames << QFileInfo(path).completeBaseName();
        QCOMPARE(failedNames, failed);
        QStringList now;
        for (const auto &[name, hash] : hashes(folder).asKeyValueRange()) {
            QString content;
            for (const QString &f : files)
                content = sha1(f.toUtf8()) == hash ? f : content;
            now << QFileInfo(name).completeBaseName() + "=" + content;
        }
        QCOMPARE(now, after);
    }
};

QTEST_GUILESS_MAIN(TestRaces)
#include "tst_races.moc"
