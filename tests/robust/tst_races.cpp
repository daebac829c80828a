// Renaming while others take the same names: another thread creating the
// targets, or another rename going for the same ones. Nothing is ever
// overwritten: every file's content is still in the folder afterwards, once.
// (Renames of one run that point at each other are in the rename tests.)

#include "renamefiles.h"

#include <QCryptographicHash>
#include <QDir>
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

// Name -> hash of the content, for every file of the folder.
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

QByteArray write(const QString &path, const QString &content)
{
    QFile f(path);
    const QByteArray bytes = content.toUtf8();
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? bytes : QByteArray();
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

private slots:
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
            QTemporaryDir dir;
            const QString folder = dir.path();
            QList<RenameJob> mine, theirs;
            QStringList targets;
            for (int i = 0; i < kFiles; ++i) {
                targets << QStringLiteral("Singer - Song %1.mp3").arg(i);
                const QString path = folder + QStringLiteral("/track%1.mp3").arg(i);
                QVERIFY(!write(path, QStringLiteral("mine %1 %2").arg(trial).arg(i)).isEmpty());
                mine.append({i, QFile::encodeName(path), targets[i]});
                const QString other = folder + QStringLiteral("/other%1.mp3").arg(i);
                if (byRename && !write(other, QStringLiteral("theirs %1 %2").arg(trial).arg(i)).isEmpty())
                    theirs.append({i, QFile::encodeName(other), targets[i]});
            }
            const QMap<QString, QByteArray> before = hashes(folder);
            QList<QByteArray> wanted = before.values();   // plus what the other program makes

            std::atomic<bool> go{false}, done{false};
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
                        const QByteArray content = QStringLiteral("intruder %1 %2").arg(trial).arg(i).toUtf8();
                        if (!tried[i] && createExclusively(QFile::encodeName(folder + u'/' + targets[i]), content))
                            tried[i] = true, wanted << sha1(content), ++takenByOther;
                        else if (errno == EEXIST)
                            tried[i] = true;   // the rename got there first
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
            QList<QByteArray> got = after.values();
            std::sort(wanted.begin(), wanted.end());
            std::sort(got.begin(), got.end());
            overwritten += got != wanted;
            QCOMPARE(got, wanted);
            // A refused file is where it was, unchanged.
            for (const QString &path : result.failed)
                QCOMPARE(after.value(QFileInfo(path).fileName()), before.value(QFileInfo(path).fileName()));
            QCOMPARE(result.newPaths.size() + result.failed.size(), qsizetype(kFiles));
            renamed += result.newPaths.size();
            refused += result.failed.size();
            if (byRename)
                takenByOther += kFiles - result.newPaths.size();
        }
        qInfo("%d trials, %d renames: %d done, %d refused (target taken by the other: %d), "
              "%d files overwritten",
              kTrials, kTrials * kFiles, renamed, refused, takenByOther, overwritten);
    }
};

QTEST_GUILESS_MAIN(TestRaces)
#include "tst_races.moc"
