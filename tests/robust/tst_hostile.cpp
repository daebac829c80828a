// Hostile files through the library binding and the rename list: each file
// is read, named, opened for playing and written in a child process of its
// own, under a watchdog. The right result or marker, no crash, no hang, a
// refused write leaves the file as it was; time and memory are printed.

#include "hostile.h"
#include "renamelist.h"
#include "taginfo.h"
#include "vbmp3.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

namespace {

constexpr int kWatchdogSeconds = 10;
constexpr long kMemoryBoundKb = 100 * 1024;

// What a child found, sent back through a pipe.
struct Outcome {
    int read = -1;
    int open = -1;
    int write = -1;
    char proposed[512] = {};
    char proposedAfterWrite[512] = {};
    double seconds = 0;
    long memoryKb = 0;     // peak resident set above the one at the start
};

long residentKb()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

double now()
{
    timespec t;
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void copyText(char (&to)[512], const QString &text)
{
    qstrncpy(to, text.toUtf8().constData(), sizeof to);
}

mp3lib::TagInfoWire writtenRecord()
{
    tags::TagInfo t;
    t.TrackName = tags::fitFieldWithNul(QStringLiteral("Written"), tags::kTextWidth);
    t.ArtistName = tags::fitFieldWithNul(QStringLiteral("Writer"), tags::kTextWidth);
    t.Year = tags::fitFieldWithNul(QStringLiteral("2024"), tags::kYearWidth);
    t.GenreNo = 17;
    return t.toWire();
}

// Runs `work` in a child under the watchdog. False (with `why`) when the
// child hung or died.
template <typename Work>
bool inChild(Work work, Outcome &out, QString &why)
{
    int fds[2];
    if (::pipe(fds) != 0) {
        why = QStringLiteral("no pipe");
        return false;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::alarm(kWatchdogSeconds);
        Outcome o;
        const long startKb = residentKb();
        const double start = now();
        work(o);
        o.seconds = now() - start;
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        o.memoryKb = usage.ru_maxrss - startKb;
        (void)!::write(fds[1], &o, sizeof o);
        ::_exit(0);
    }
    ::close(fds[1]);
    int status = 0;
    const bool got = ::read(fds[0], &out, sizeof out) == ssize_t(sizeof out);
    ::close(fds[0]);
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) {
        why = WTERMSIG(status) == SIGALRM
                  ? QStringLiteral("hung for %1 s").arg(kWatchdogSeconds)
                  : QStringLiteral("died of signal %1").arg(WTERMSIG(status));
        return false;
    }
    if (!got || WEXITSTATUS(status) != 0) {
        why = QStringLiteral("exited with status %1").arg(WEXITSTATUS(status));
        return false;
    }
    return true;
}

QByteArray hashOf(const QString &path)
{
    QFile f(path);
    QCryptographicHash h(QCryptographicHash::Sha1);
    if (f.open(QIODevice::ReadOnly))
        h.addData(&f);
    return h.result();
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QList<hostile::HostileFile> files_;
    double worstSeconds_ = 0;
    long worstKb_ = 0;
    QString slowest_, largest_;

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QVERIFY(vbmp3_init());
        QVERIFY(QDir(dir_.path()).mkdir("set"));
        files_ = hostile::writeHostileFiles(dir_.filePath("set"));
        mp3lib::setWavOutputForTesting(QFile::encodeName(dir_.filePath("sound.wav")).constData());
    }

    void cleanupTestCase()
    {
        mp3lib::setWavOutputForTesting(nullptr);
        qInfo("hostile files: %lld; slowest %.3f s (%s), most memory %ld KB (%s)%s",
              qlonglong(files_.size()), worstSeconds_, qPrintable(slowest_), worstKb_,
              qPrintable(largest_), kSanitized ? " [sanitized build]" : "");
    }

    void eachFile_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < files_.size(); ++i)
            QTest::newRow(qPrintable(files_[i].what)) << i;
    }

    void eachFile()
    {
        QFETCH(int, index);
        const hostile::HostileFile &file = files_[index];
        const QByteArray path = QFile::encodeName(file.path);
        const QByteArray before = file.regular ? hashOf(file.path) : QByteArray();
        const QStringList folderBefore = entries(dir_.filePath("set"));

        Outcome o;
        QString why;
        const bool finished = inChild(
            [&](Outcome &out) {
                mp3lib::TagInfoWire wire{};
                out.read = vbmp3_getFileTagInfo(path.constData(), wire);
                copyText(out.proposed, renaming::makeRenameNames({file.path}).value(0));
                mp3lib::OpenInfoWire info{};
                out.open = vbmp3_open(path.constData(), info);
                if (out.open) {
                    vbmp3_play();
                    vbmp3_stop();
                    vbmp3_close();
                }
                mp3lib::TagInfoWire record = writtenRecord();
                out.write = vbmp3_setTagInfo(path.constData(), record, 0, 1);
                if (out.write)
                    copyText(out.proposedAfterWrite, renaming::proposedNameFor(file.path));
            },
            o, why);
        QVERIFY2(finished, qPrintable(why));

        if (o.seconds > worstSeconds_) {
            worstSeconds_ = o.seconds;
            slowest_ = file.what;
        }
        if (o.memoryKb > worstKb_) {
            worstKb_ = o.memoryKb;
            largest_ = file.what;
        }
        QCOMPARE(o.read != 0, file.tagReads);
        QCOMPARE(QString::fromUtf8(o.proposed), file.proposed);
        QCOMPARE(o.open != 0, file.plays);
        QCOMPARE(o.write != 0, file.tagWrites);
        if (o.write)
            QCOMPARE(QString::fromUtf8(o.proposedAfterWrite), QStringLiteral("Writer - Written.mp3"));
        else if (file.regular)
            QCOMPARE(hashOf(file.path), before);
        QCOMPARE(entries(dir_.filePath("set")), folderBefore);
        if (!kSanitized)
            QVERIFY2(o.memoryKb < kMemoryBoundKb, qPrintable(QString::number(o.memoryKb) + " KB"));
    }

    // The whole set at once, on every core: the same names as one by one.
    void wholeSetAtOnce()
    {
        QVERIFY(QDir(dir_.path()).mkdir("whole"));
        QStringList paths, expected;
        for (const hostile::HostileFile &f : hostile::writeHostileFiles(dir_.filePath("whole"))) {
            paths << f.path;
            expected << f.proposed;
        }
        paths << QString() << dir_.filePath("whole/missing.mp3");
        expected << QStringLiteral("*[File not found]") << QStringLiteral("*[File not found]");
        Outcome o;
        QString why;
        QStringList names;
        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        const bool finished = inChild(
            [&](Outcome &) {
                const QByteArray joined = renaming::makeRenameNames(paths).join(u'\n').toUtf8();
                (void)!::write(fds[1], joined.constData(), joined.size());
            },
            o, why);
        ::close(fds[1]);
        QByteArray got;
        char buffer[4096];
        for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
            got.append(buffer, n);
        ::close(fds[0]);
        QVERIFY2(finished, qPrintable(why));
        QCOMPARE(QString::fromUtf8(got).split(u'\n'), expected);
        qInfo("whole set named at once in %.3f s", o.seconds);
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
