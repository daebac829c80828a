// Tag writes, settings writes and tag reads when the system fails them: each
// call in turn fails (faultshim, preloaded into a child), every call on one
// path fails (a disk gone bad or full), or the writer is killed. A failure is
// reported as one, the file is as it was or as a clean write leaves it, and no
// temporary file outlives the next write.

#include "id3build.h"
#include "inifile_io.h"
#include "initext.h"
#include "testdata.h"

using namespace id3build;

namespace {

struct Run {
    int exit = -1;          // -1: crashed
    long calls = 0;         // calls the shim counted
    QString failedCall;     // "-" when none failed
    QStringList sequence;   // the names of the calls counted, in order
    QByteArray output;      // what the child printed
};

// A settings file as the program leaves it, with a long history.
QByteArray settingsText() { return testdata::table("hostile.txt", "settings").value(0).value(1); }

// A tag without padding: the new one goes through a copy of the file.
QByteArray throughCopy() { return tag(3, frame(3, "TIT2", latin1("old")), 0) + testdata::audio(); }

} // namespace

class TestFaults : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    const QString folder_ = dir_.filePath("work");

    QString target(const QByteArray &kind) const
    {
        return folder_ + (kind == "ini" ? "/settings.ini" : "/song.mp3");
    }

    // A clean folder holding `original` (nothing at all when it is null).
    void setUp(const QByteArray &kind, const QByteArray &original)
    {
        QDir(folder_).removeRecursively();
        QDir().mkpath(folder_);
        if (!original.isNull())
            testdata::writeAll(target(kind), original);
    }

    Run run(const QByteArray &kind, const QStringList &faults)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString report = dir_.filePath("report");
        QFile::remove(report);
        env.insert("LD_PRELOAD", DORVASU_FAULTSHIM);
        env.insert("DORVASU_FAULT_REPORT", report);
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");   // shim first
        if (kind == "read")
            env.insert("DORVASU_FAULT_READS", "1");
        for (const QString &f : faults)
            env.insert(f.section(u'=', 0, 0), f.section(u'=', 1));
        QProcess p;
        p.setProcessEnvironment(env);
        const QStringList value(kind == "ini" ? 1 : 0, "/new");
        p.start(DORVASU_FAULT_CHILD, QStringList{QString::fromLatin1(kind), target(kind)} + value);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
            return {};
        const QStringList words = QString::fromLatin1(testdata::readAll(report)).split(u' ', Qt::SkipEmptyParts);
        return {p.exitCode(), words.value(0).toLong(), words.value(1), words.mid(2), p.readAllStandardOutput()};
    }

    QByteArray current(const QByteArray &kind) const { return testdata::readAll(target(kind)); }   // null: no file

    QStringList entries() const
    {
        return QDir(folder_).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    // A file as a clean write leaves it, with one letter of the title changed:
    // the next write changes that letter alone, in place.
    QByteArray inPlace()
    {
        setUp("tag", throughCopy() + v1());
        run("tag", {});
        const QByteArray written = current("tag");
        return QByteArray(written).replace(written.indexOf("A title"), 1, "B");
    }

private slots:
    void faults_data()
    {
        testdata::addRows("hostile.txt", "faults", {"original", "kind", "onPath", "error"}, 1,
                          {{"copy", throughCopy()}, {"inPlace", inPlace()}});
    }

    // The Nth call fails, for every N the clean run makes; or every call on a
    // path fails (a disk gone bad or full for good).
    void faults()
    {
        QFETCH(QByteArray, original);
        QFETCH(QByteArray, kind);
        QFETCH(QByteArray, onPath);
        QFETCH(QByteArray, error);
        if (original == "@none")
            original.clear();   // null: no file yet
        const QString name = QFileInfo(target(kind)).fileName();
        setUp(kind, original);
        if (!onPath.isEmpty()) {
            const Run r = run(kind, {"DORVASU_FAULT_PATH=" + onPath,
                                     "DORVASU_FAULT_ERRNO=" + QString::number(error == "ENOSPC" ? ENOSPC : EIO)});
            QVERIFY(r.exit == 1 && r.failedCall != "-");
            QCOMPARE(current(kind), original);
            QCOMPARE(entries(), QStringList{name});
            return;
        }
        const Run clean = run(kind, {});
        const QByteArray written = current(kind);
        QVERIFY(clean.exit == 0 && clean.calls > 1 && (kind == "read") == (written == original));
        int reported = 0;
        for (long n = 1; n <= clean.calls; ++n) {
            setUp(kind, original);
            const Run r = run(kind, {QStringLiteral("DORVASU_FAULT_NTH=%1").arg(n)});
            const QString step = QStringLiteral("call %1 (%2)").arg(n).arg(r.failedCall);
            QVERIFY2(r.exit == 0 || r.exit == 1, qPrintable(step + " crashed the child"));
            reported += r.exit;
            // Success only when the failed call did not matter: a failed flush
            // only after an earlier flush had succeeded.
            const bool flushedBefore = !clean.sequence.mid(0, n - 1).filter("sync").isEmpty();
            QVERIFY2(r.exit == 1 || (!r.failedCall.contains("sync") || flushedBefore),
                     qPrintable(step + ": a failed flush reported as success"));
            const bool asBefore = current(kind) == original && QFile::exists(target(kind)) == !original.isNull();
            QVERIFY2(r.exit == 1 ? asBefore : current(kind) == written && r.output == clean.output,
                     qPrintable(step + (r.exit ? ": failed, file changed" : ": success, file differs")));
            if (entries() != (QFile::exists(target(kind)) ? QStringList{name} : QStringList{})) {
                QCOMPARE(run(kind, {}).exit, 0);   // what a failure left behind goes with the next write
                QVERIFY2(entries() == QStringList{name}, qPrintable(step + ": " + entries().join(", ")));
            }
        }
        qInfo("%ld calls (%s) failed in turn: %d reported as failure", clean.calls,
              qPrintable(clean.sequence.join(u' ')), reported);
    }

    // Killed at random moments while it writes the settings file over and
    // over: the file is always one complete version, readable.
    void killedSettingsWrite()
    {
        int leftBehind = 0;
        for (int trial = 0; trial < 200; ++trial) {
            setUp("ini", settingsText());
            QProcess p;
            p.start(DORVASU_FAULT_CHILD, {"ini-loop", target("ini")});
            QVERIFY(p.waitForReadyRead(30000));   // "go"
            QThread::usleep(QRandomGenerator::global()->bounded(20000));
            p.kill();
            p.waitForFinished(-1);
            inifile_IO ini;
            ini.setFileName(target("ini"));
            const QString value = ini.ReadStr("Loop", "Counter", "");
            const auto stored = initext::withValue(settingsText(), "Loop", "Counter", value);
            QCOMPARE(current("ini"), value.isEmpty() ? settingsText() : *stored);
            leftBehind += entries().size() - 1;
        }
        // A kill between QSaveFile naming its file and the rename leaves that name (harmless).
        qInfo("200 kills while writing settings: %d temporary files left", leftBehind);
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
