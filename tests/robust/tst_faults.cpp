// Tag writes, settings writes and tag reads when the system fails them: each
// call in turn fails (faultshim, preloaded into a child), every call on one
// path fails (a disk gone bad or full), or the writer is killed. A failure is
// reported as one, the file is as it was or as a clean write leaves it, and no
// temporary file outlives the next write.

#include "common/id3build.h"
#include "core/settings/inifile_io.h"
#include "core/settings/initext.h"
#include "common/table.h"

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
QByteArray settingsText() { return table::rows("hostile.txt", "settings", {table::expr("bytes")}).value(0).bytes(0); }

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

    // Runs fault_child with `args`, under `wrapper` (strace) when given; true
    // when it exits 0. `log` receives its standard error (strace's trace).
    static bool child(const QStringList &args, const QStringList &wrapper = {}, QByteArray *log = nullptr)
    {
        const QStringList command = wrapper + QStringList{DORVASU_FAULT_CHILD} + args;
        QProcess p;
        if (!wrapper.isEmpty()) {   // LeakSanitizer cannot run under strace's ptrace
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
            p.setProcessEnvironment(env);
        }
        p.start(command[0], command.mid(1));
        p.waitForFinished(-1);
        if (log)
            *log = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    // The calls of a strace `log` on files under the test's folder: name, and
    // which call of that name it was.
    QList<std::pair<QString, int>> killPoints(const QByteArray &log) const
    {
        static const QRegularExpression call(R"(^(?:\[pid +\d+\] )?(\w+)\(.*$)", QRegularExpression::MultilineOption);
        QMap<QString, int> seen;
        QList<std::pair<QString, int>> points;
        for (const QRegularExpressionMatch &m : call.globalMatch(QString::fromLocal8Bit(log))) {
            const int n = ++seen[m.captured(1)];
            if (m.captured(0).contains(dir_.path()))
                points.append({m.captured(1), n});
        }
        return points;
    }

private slots:
    void init() { TABLE_FAIL_BROKEN_ROW(); }

    void faults_data()
    {
        table::addRows("hostile.txt", "faults",
                       {table::expr("original"), table::bytes("kind"), table::bytes("onPath"), table::bytes("error")},
                       {{}, {{"copy", throughCopy()}, {"inPlace", inPlace()}}});
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

    // A rename batch, and the Undo of one, killed on entry to each of its
    // calls on the folder or the journal, on each of the three routes; then
    // the program starts again (settling the journal) and undoes the batch.
    // Every file is once under its old or its new name, nothing else is left,
    // the file outside the batch is untouched, and Undo brings every file back.
    void killedRenames_data() { table::addRows("rename.txt", "kills", {"route"}); }

    void killedRenames()
    {
        QFETCH(QString, route);
        const QString journal = dir_.filePath("journal.txt");
        const QStringList old{"c0.mp3", "c1.mp3", "a.mp3", "x.mp3"}, renamed{"c1.mp3", "c2.mp3", "A.mp3", "x.mp3"};
        const auto child = [&](const char *what, const QStringList &wrapper = {}, QByteArray *log = nullptr) {
            return TestFaults::child({what, route, journal, folder_}, wrapper, log);
        };
        const auto reset = [&](bool renamedFirst) {
            setUp("tag", QByteArray());
            QFile::remove(journal);
            for (const QString &name : old)
                testdata::writeAll(folder_ + u'/' + name, name.toUtf8());
            return !renamedFirst || child("rename");
        };
        const auto files = [&] {   // name -> content, which is the file's first name
            QMap<QString, QString> map;
            for (const QString &name : entries())
                map.insert(name, QString::fromUtf8(testdata::readAll(folder_ + u'/' + name)));
            return map;
        };
        const QString calls = "trace=openat,write,fsync,fdatasync,rename,renameat,renameat2,linkat,unlinkat";
        for (const bool undo : {false, true}) {
            QVERIFY(reset(undo));
            QByteArray log;
            QVERIFY(child(undo ? "undo" : "rename", {"strace", "-f", "-qq", "-y", "-e", calls}, &log));
            const QList<std::pair<QString, int>> points = killPoints(log);   // the calls on the folder or the journal
            int both = 0, missing = 0, left = 0, wrong = 0;
            for (const auto &[name, n] : points) {
                QVERIFY(reset(undo));
                child(undo ? "undo" : "rename",
                      {"strace", "-f", "-qq", "-e", calls, "-e", QString("inject=%1:signal=SIGKILL:when=%2").arg(name).arg(n)});
                QVERIFY(child("settle"));
                const QMap<QString, QString> now = files();
                for (int i = 0; i < old.size(); ++i) {
                    both += now.keys(old[i]).size() > 1;
                    missing += now.keys(old[i]).isEmpty();
                }
                for (auto it = now.cbegin(); it != now.cend(); ++it) {
                    const qsizetype i = old.indexOf(it.value());
                    left += i < 0 || (it.key() != old[i] && it.key() != renamed[i]);
                }
                // A file already back counts as undone: the report names no file.
                wrong += QFile::exists(journal) ? !child("undo") : !child("settle");
                const QMap<QString, QString> undone = files();   // each file under its first name, no other
                wrong += undone.keys() != undone.values() || undone.size() != old.size();
            }
            qInfo("%s, %s killed at %lld calls: %d files under both names, %d missing, %d left behind, %d wrong undos",
                  qPrintable(route), undo ? "Undo" : "batch", points.size(), both, missing, left, wrong);
            QVERIFY(points.size() > 5);
            QCOMPARE(both + missing + left + wrong, 0);
        }
    }

    // A batch of tag writes over two files (one written in place, one through
    // a copy), and its Undo, killed on entry to each of their calls on the
    // folder or the history: each file is whole, old or new, and Undo (run
    // again after a killed Undo) brings both back byte for byte.
    void killedTagBatch()
    {
        const QString history = dir_.filePath("history");
        const QByteArray a = throughCopy(), b = inPlace();
        const auto child = [&](const char *what, const QStringList &wrapper = {}, QByteArray *log = nullptr) {
            return TestFaults::child({what, history, folder_}, wrapper, log);
        };
        QByteArray writtenA, writtenB;
        const auto reset = [&](bool writtenFirst) {
            setUp("tag", QByteArray());
            QDir(history).removeRecursively();
            testdata::writeAll(folder_ + "/a.mp3", a);
            testdata::writeAll(folder_ + "/b.mp3", b);
            return !writtenFirst || child("tags");
        };
        const auto state = [&](const QByteArray &name, const QByteArray &old, const QByteArray &written) {
            const QByteArray now = testdata::readAll(folder_ + '/' + name);
            return now == old ? 0 : now == written ? 1 : 2;
        };
        QVERIFY(reset(true));
        writtenA = testdata::readAll(folder_ + "/a.mp3");
        writtenB = testdata::readAll(folder_ + "/b.mp3");
        QVERIFY(writtenA != a && writtenB != b && writtenB.size() == b.size());
        const QString calls = "trace=openat,write,pwrite64,fsync,fdatasync,rename,renameat,renameat2,linkat,unlinkat";
        for (const bool undo : {false, true}) {
            QVERIFY(reset(undo));
            QByteArray log;
            QVERIFY(child(undo ? "tagundo" : "tags", {"strace", "-f", "-qq", "-y", "-e", calls}, &log));
            const QList<std::pair<QString, int>> points = killPoints(log);
            int broken = 0, wrong = 0;
            for (const auto &[name, n] : points) {
                QVERIFY(reset(undo));
                child(undo ? "tagundo" : "tags",
                      {"strace", "-f", "-qq", "-e", calls, "-e", QString("inject=%1:signal=SIGKILL:when=%2").arg(name).arg(n)});
                broken += (state("a.mp3", a, writtenA) == 2) + (state("b.mp3", b, writtenB) == 2);
                child("tagundo");
                wrong += state("a.mp3", a, writtenA) != 0 || state("b.mp3", b, writtenB) != 0;
            }
            qInfo("tag batch%s killed at %lld calls: %d files broken, %d wrong undos", undo ? " Undo" : "",
                  points.size(), broken, wrong);
            QVERIFY(points.size() > 5);
            QCOMPARE(broken + wrong, 0);
        }
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
