// Tag writes and settings writes when the system fails them: every write,
// flush, truncation and rename of the write fails in turn (faultshim,
// preloaded into a child), the disk fills up, or the writer is killed.
// Each time: a failure is reported as one, the file is exactly as it was
// (or exactly as a clean write leaves it), and no temporary file stays
// beyond the next write. Tag reads when each read of the file fails: a
// failure, never another record.

#include "hostile.h"
#include "inifile_io.h"
#include "initext.h"
#include "testdata.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

struct Run {
    int exit = -1;          // -1: crashed
    long calls = 0;         // calls the shim counted
    QString failedCall;     // "-" when none failed
    QStringList sequence;   // the names of the calls counted, in order
    QByteArray output;      // what the child printed
};

// A settings file as the program leaves it, with a long history.
QByteArray settingsText()
{
    QByteArray text = "[Position]\r\nTop=1200\r\nLeft=3400\r\nFileTop=1300\r\nFileLeft=3500\r\n\r\n"
                      "[Folder]\r\nMP3=/home/user/Music/old\r\n\r\n[DirList]\r\n";
    for (int i = 0; i < 10; ++i)
        text += QByteArray("0") + QByteArray::number(i) + "=/home/user/Music/" + QByteArray(60, char('a' + i)) + "\r\n";
    return text;
}

QByteArray mp3(bool roomForTag)
{
    const QByteArray audio = testdata::readAll(testdata::sample(testdata::kStereoMpeg1));
    if (!roomForTag)
        return hostile::id3v2Tag(3, {{"TIT2", "old"}}) + audio;
    QByteArray v1 = "TAG" + QByteArray(125, '\0');
    v1[127] = char(255);
    return hostile::id3v2Tag(3, {{"TIT2", "old"}, {"TPE1", "singer"}}, 1000) + audio + v1;
}

} // namespace

using hostile::entries;

class TestFaults : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString folder_;

    QString target(const QString &kind) const
    {
        return folder_ + (kind == "ini" ? "/settings.ini" : "/song.mp3");
    }

    // A clean folder holding `original` (nothing at all when it is null).
    void setUp(const QString &kind, const QByteArray &original)
    {
        QDir(folder_).removeRecursively();
        QDir().mkpath(folder_);
        if (!original.isNull())
            testdata::writeAll(target(kind), original);
    }

    Run run(const QString &kind, const QStringList &faults)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString report = dir_.filePath("report");
        QFile::remove(report);
        env.insert("LD_PRELOAD", DORVASU_FAULTSHIM);
        env.insert("DORVASU_FAULT_REPORT", report);
        // The shim goes before the sanitizer's run time in a sanitized build.
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        for (const QString &f : faults)
            env.insert(f.section(u'=', 0, 0), f.section(u'=', 1));
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(DORVASU_FAULT_CHILD, kind == "ini" ? QStringList{"ini", target(kind), "/home/user/Music/new"}
                                                   : QStringList{kind, target(kind)});
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit) {
            qWarning("child: %s", p.readAllStandardError().constData());
            return {};
        }
        const QList<QByteArray> lines = testdata::readAll(report).split('\n');
        const QList<QByteArray> words = lines.value(0).split(' ');
        return {p.exitCode(), words.value(0).toLong(), QString::fromLatin1(words.value(1)),
                QString::fromLatin1(lines.value(1)).split(u' ', Qt::SkipEmptyParts), p.readAllStandardOutput()};
    }

    QByteArray current(const QString &kind) const
    {
        return QFile::exists(target(kind)) ? testdata::readAll(target(kind)) : QByteArray();
    }

private slots:
    void initTestCase() { folder_ = dir_.filePath("work"); }

    void faults_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("original");   // null: no file yet
        QTest::addColumn<QString>("onPath");        // "PATTERN ERRNO"; empty: each call in turn
        QTest::newRow("tag rewritten through a copy") << "tag" << mp3(false) << "";
        QTest::newRow("tag written in place") << "tag" << mp3(true) << "";
        QTest::newRow("settings file replaced") << "ini" << settingsText() << "";
        QTest::newRow("settings file created") << "ini" << QByteArray() << "";
        QTest::newRow("tag: the copy, disk full") << "tag" << mp3(false) << QStringLiteral(".dorvasu- %1").arg(ENOSPC);
        QTest::newRow("tag: the file, I/O error") << "tag" << mp3(true) << QStringLiteral("song.mp3 %1").arg(EIO);
        QTest::newRow("settings: the file, disk full") << "ini" << settingsText()
                                                       << QStringLiteral("settings.ini %1").arg(ENOSPC);
    }

    // The Nth call fails, for every N the write makes; or every call on a
    // path fails (a disk that has gone bad or full for good).
    void faults()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, original);
        QFETCH(QString, onPath);
        setUp(kind, original);
        if (!onPath.isEmpty()) {
            const Run r = run(kind, {"DORVASU_FAULT_PATH=" + onPath.section(u' ', 0, 0),
                                     "DORVASU_FAULT_ERRNO=" + onPath.section(u' ', 1)});
            QVERIFY(r.exit == 1 && r.failedCall != "-");
            QCOMPARE(current(kind), original);
            QCOMPARE(entries(folder_), QStringList{QFileInfo(target(kind)).fileName()});
            return;
        }
        const Run clean = run(kind, {});
        const QByteArray written = current(kind);
        QVERIFY(clean.exit == 0 && clean.calls > 0 && written != original);

        int reported = 0, harmless = 0, leftBehind = 0;
        for (long n = 1; n <= clean.calls; ++n) {
            setUp(kind, original);
            const Run r = run(kind, {QStringLiteral("DORVASU_FAULT_NTH=%1").arg(n)});
            const QString step = QStringLiteral("call %1 (%2)").arg(n).arg(r.failedCall);
            QVERIFY2(r.exit == 0 || r.exit == 1, qPrintable(step + " crashed the writer"));
            if (r.exit == 1) {
                QVERIFY2(current(kind) == original && QFile::exists(target(kind)) == !original.isNull(),
                         qPrintable(step + ": reported failure, file changed"));
                ++reported;
            } else {
                // Success is only true when the failed call did not matter:
                // a failed flush only after an earlier flush had succeeded.
                QVERIFY2(current(kind) == written, qPrintable(step + ": reported success, file differs"));
                const bool flushedBefore = clean.sequence.mid(0, n - 1).filter("sync").size() > 0;
                QVERIFY2(!r.failedCall.contains("sync") || flushedBefore,
                         qPrintable(step + ": a failed flush reported as success"));
                ++harmless;
            }
            const QString name = QFileInfo(target(kind)).fileName();
            if (entries(folder_) != (QFile::exists(target(kind)) ? QStringList{name} : QStringList{})) {
                ++leftBehind;
                QCOMPARE(run(kind, {}).exit, 0);
                QVERIFY2(entries(folder_) == QStringList{name}, qPrintable(step + ": " + entries(folder_).join(", ")));
            }
        }
        qInfo("%ld calls (%s) failed one at a time: %d reported as failure, %d harmless, "
              "%d left a file behind (removed by the next write)",
              clean.calls, qPrintable(clean.sequence.join(u' ')), reported, harmless, leftBehind);
    }

    // Each read of a tagged file with a cover fails in turn, then all of
    // them: the read fails, or gives the record a clean read gives.
    void readFaults()
    {
        const QByteArray file = hostile::id3v2Tag(3, {{"TIT2", "Title"}, {"TPE1", "Singer"},
                                                      {"APIC", QByteArray(100000, 'p')}}, 500)
                                + mp3(false).mid(hostile::id3v2Tag(3, {{"TIT2", "old"}}).size()).repeated(20)
                                + "TAG" + QByteArray(125, ' ');
        setUp("read", file);
        const Run clean = run("read", {"DORVASU_FAULT_READS=1"});
        QVERIFY(clean.exit == 0 && clean.calls >= 2 && !clean.output.isEmpty());
        int failed = 0;
        for (long n = 1; n <= clean.calls; ++n) {
            const Run r = run("read", {"DORVASU_FAULT_READS=1", QStringLiteral("DORVASU_FAULT_NTH=%1").arg(n)});
            QVERIFY2(r.exit == 1 || (r.exit == 0 && r.output == clean.output),
                     qPrintable(QStringLiteral("read %1 failing: exit %2").arg(n).arg(r.exit)));
            failed += r.exit == 1;
        }
        QCOMPARE(run("read", {"DORVASU_FAULT_READS=1", "DORVASU_FAULT_PATH=song.mp3"}).exit, 1);
        QCOMPARE(current("read"), file);
        qInfo("%ld reads failed one at a time: %d failed the tag read, %ld gave the same record",
              clean.calls, failed, clean.calls - failed);
    }

    // A real full disk: a small tmpfs with room for part of the new file.
    void settingsOnFullDisk()
    {
        setUp("ini", QByteArray());
        const QByteArray mountPoint = QFile::encodeName(folder_);
        if (::geteuid() != 0 || ::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=256k") != 0)
            QSKIP("cannot mount a tmpfs here (needs root)");
        const auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });
        const QByteArray original = settingsText();
        testdata::writeAll(target("ini"), original);
        struct statvfs vfs {};
        ::statvfs(mountPoint.constData(), &vfs);   // leave 8 KB of room
        testdata::writeAll(folder_ + "/filler", QByteArray(qint64(vfs.f_bavail) * vfs.f_frsize - 8192, 'f'));
        const QStringList before = entries(folder_);

        inifile_IO ini;
        ini.setFileName(target("ini"));
        const QString big(60000, u'x');   // needs far more than the room left
        QVERIFY(!ini.WriteStr("Folder", "MP3", big));
        QCOMPARE(testdata::readAll(target("ini")), original);
        QCOMPARE(entries(folder_), before);
        QCOMPARE(ini.ReadStr("Folder", "MP3", ""), QString("/home/user/Music/old"));

        QVERIFY(QFile::remove(folder_ + "/filler"));
        QVERIFY(ini.WriteStr("Folder", "MP3", big));
        QCOMPARE(ini.ReadStr("Folder", "MP3", "").size(), 1023);   // a read gives 1023 bytes at most
    }

    // Killed at random moments while it writes the settings file over and
    // over: the file is always one complete version, readable.
    void killedSettingsWrite()
    {
        const QByteArray base = settingsText();
        const QRegularExpression counter("^\\d+x*$");
        constexpr int kTrials = 200;
        int neverWritten = 0, leftBehind = 0;
        for (int trial = 0; trial < kTrials; ++trial) {
            setUp("ini", base);
            QProcess p;
            p.start(DORVASU_FAULT_CHILD, {"ini-loop", target("ini")});
            QVERIFY(p.waitForReadyRead(30000));   // "go"
            QThread::usleep(QRandomGenerator::global()->bounded(20000));
            p.kill();
            p.waitForFinished(-1);

            inifile_IO ini;
            ini.setFileName(target("ini"));
            QCOMPARE(ini.ReadStr("Folder", "MP3", ""), QString("/home/user/Music/old"));
            const QString value = ini.ReadStr("Loop", "Counter", "");
            neverWritten += value.isEmpty();
            QVERIFY2(value.isEmpty() || counter.match(value).hasMatch(), qPrintable(value));
            // Exactly the file that storing this value into the old one makes.
            QCOMPARE(current("ini"), value.isEmpty() ? base : *initext::withValue(base, "Loop", "Counter", value));
            leftBehind += entries(folder_).size() - 1;
        }
        // QSaveFile names its file just before the rename; a kill in between
        // leaves that name behind (harmless, and rare outside this loop).
        qInfo("%d kills while writing settings: every file old or new and readable "
              "(%d never written), %d temporary files left",
              kTrials, neverWritten, leftBehind);
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
