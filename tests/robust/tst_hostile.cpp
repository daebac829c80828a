// Hostile entries named ".mp3" (broken, malicious or merely unusual files, a
// FIFO, a link to a device, a folder), each in a forked child under a
// watchdog: read by the library, listed, shown, updated and played through
// the windows. The parent checks what the child saw and the entry on disk:
// no crash, no hang, bounded memory, a refused write leaves the entry as it was.

#include "app/mainwindowfixture.h"
#include "common/table.h"
#include "core/rename/newname.h"

#include <sys/resource.h>

#ifdef DORVASU_COVERAGE
extern "C" void __gcov_dump();
#endif

namespace {

#ifdef __SANITIZE_ADDRESS__
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// What kind of entry `path` is, where a link leads, and a regular file's hash.
QString state(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("missing");
    const QByteArray content = S_ISREG(st.st_mode) ? testdata::readAll(path) : QByteArray();   // a FIFO would block
    return QString::number(st.st_mode & S_IFMT, 8) + u' ' + QFile::symLinkTarget(path) + u' '
           + QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex();
}

// Runs `work` in a forked child, killed by SIGALRM after `seconds`, and returns
// its report, passed through `file`, with "memoryKb" (peak resident memory
// above the start); or only "why" when the child hung, died or sent no report.
QVariantMap runInChild(int seconds, const std::function<QVariantMap()> &work, const QString &file)
{
    QFile f(file);
    QDataStream stream(&f);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(unsigned(seconds));
        rusage start{}, end{};
        ::getrusage(RUSAGE_SELF, &start);
        QVariantMap out = work();
        ::getrusage(RUSAGE_SELF, &end);
        out["memoryKb"] = qlonglong(end.ru_maxrss - start.ru_maxrss);
        if (f.open(QIODevice::WriteOnly))
            stream << out;
        f.close();
#ifdef DORVASU_COVERAGE
        __gcov_dump();   // _exit skips the exit handlers that would write it
#endif
        ::_exit(0);
    }
    int status = 0;
    QVariantMap report;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        return {{"why", "no child"}};
    if (WIFSIGNALED(status))
        return {{"why", WTERMSIG(status) == SIGALRM ? QStringLiteral("hung for %1 s").arg(seconds)
                                                    : QStringLiteral("died of signal %1").arg(WTERMSIG(status))}};
    if (f.open(QIODevice::ReadOnly))
        stream >> report;
    if (!report.contains("memoryKb"))
        return {{"why", QStringLiteral("exited with status %1 and no report").arg(WEXITSTATUS(status))}};
    return report;
}

const Six kBefore{"Before", "Before singer", "Before album", "1990", "Blues", "Before"};
const Six kTyped{"Written", "Writer", "Hostile album", "2024", "Rock", "Hostile comment"};

// Descriptors of this process open on any of `paths`.
QStringList openOn(const QStringList &paths)
{
    QStringList open;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot))
        if (const QString target = QFile::symLinkTarget(fds.filePath(fd)); paths.contains(target))
            open << target;
    return open;
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT

    WindowFixture f_;   // set up once: every child starts from the same state
    int rows_ = 0;   // rows run so far: each has a folder and a sound file of its own

    // The child's work: the library's reads, then the entry's way through the
    // windows, with what they showed and said at each step.
    QVariantMap throughTheWindows(const QString &path, const QString &wav)
    {
        QVariantMap seen;
        const QByteArray native = QFile::encodeName(path);
        mp3lib::TagInfoWire wire{}, byTagLib{};
        seen["read"] = vbmp3_getFileTagInfo(native.constData(), wire) != 0;
        mp3lib::setTagLibFileStreamForTesting(true);   // the same when TagLib reads the file itself
        seen["readByTagLib"] = vbmp3_getFileTagInfo(native.constData(), byTagLib) != 0;
        mp3lib::setTagLibFileStreamForTesting(false);
        seen["sameRecord"] = std::memcmp(&wire, &byTagLib, sizeof wire) == 0;

        mp3lib::setWavOutputForTesting(QFile::encodeName(wav).constData());
        auto step = [&](const QString &name) { seen[name + "Messages"] = std::exchange(f_.messages, {}); };
        f_.load();
        frmMain &w = *f_.w;   // shown and active
        auto proposed = [&] { return w.entries()->count() == 1 ? w.entries()->name(0) : "<none>"; };
        w.entries()->append({QFile::encodeName(path)});
        w.MakeRenameList(0);
        seen["proposed"] = proposed();
        step("list");

        w.Frame1->setEnabled(true);   // typed as another file's display left them; the click enables it again
        WindowFixture::type(w, kBefore);
        w.Frame1->setEnabled(false);
        QSignalSpy clicks(&w, &frmMain::lstMP3FilesClickRaised);
        const QPoint at = rowCentre(w.lstMP3Files, 0);
        QTest::mouseClick(w.lstMP3Files->viewport(), Qt::LeftButton, {}, at);
        (void)QTest::qWaitFor([&] { return !clicks.isEmpty(); }, 5000);
        seen["shown"] = WindowFixture::shown(w);
        seen["frameEnabled"] = w.Frame1->isEnabled();
        step("display");

        WindowFixture::type(w, kTyped);
        QTest::mouseClick(w.cmdRewrite, Qt::LeftButton);
        seen["proposedAfterUpdate"] = proposed();
        step("update");
        WindowFixture::type(w, kBefore);
        w.lstMP3Files_Click();
        seen["shownAfterUpdate"] = WindowFixture::shown(w);
        step("redisplay");

        // The file selection window lists regular files only; a double-click
        // plays one in a modal player, stopped with its Stop button once sound
        // has come out. An entry not listed goes to the player straight.
        const QFileInfo info(path);
        {
            QByteArray folder = QFile::encodeName(info.absolutePath());
            frmFileSelect select(folder, w.IniFile(), w.topTwips(), w.leftTwips(), w.windowIcon(),
                                 w.AppFolder(), &w);
            select.show();
            (void)QTest::qWaitForWindowExposed(&select);
            const QList<QListWidgetItem *> items = select.File1->findItems(info.fileName(), Qt::MatchExactly);
            seen["listed"] = !items.isEmpty();
            const std::function<void(frmPLay &)> stop = [&](frmPLay &player) {
                seen["played"] = QTest::qWaitFor([&] { return WindowFixture::hasSound(wav); }, 10000);
                QTest::mouseClick(player.cmdStop, Qt::LeftButton);
                seen["playerLeftOpen"] = player.isVisible();
            };
            frmPLay player(&w);
            player.sPlayFile = native;
            if (!items.isEmpty()) {
                WindowFixture::play(select, info.fileName(), stop);
            } else if (player.MP3_Play()) {
                player.show();
                stop(player);
            }
            select.reject();
        }   // the windows above go before the main window
        seen["sound"] = WindowFixture::hasSound(wav);
        seen["stillPlaying"] = mp3lib::isPlayingForTesting();
        seen["openAfterPlay"] = openOn({info.absoluteFilePath(), QFileInfo(wav).absoluteFilePath()});
        step("play");
        w.close();
        f_.w.reset();
        return seen;
    }

private slots:
    void initTestCase()
    {
        f_.setUp();
    }

    void cleanupTestCase() { f_.tearDown(); }
    void init() { TABLE_FAIL_BROKEN_ROW(); }

    void eachEntry_data() { table::addRows("hostile.txt", "entries", {table::expr("bytes"), table::bytes("does"), table::bytes("entry")}); }

    void eachEntry()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, does);
        QFETCH(QByteArray, entry);   // the rename list's entry: a proposed name or a marker
        const QString proposed = QString::fromUtf8(entry);
        const bool regular = !bytes.startsWith('@'), reads = does.contains("read"), writes = does.contains("write"),
                   plays = does.contains("play");
        const QString folder = f_.path(QStringLiteral("set%1").arg(++rows_));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + "/entry.mp3";
        testdata::make(path, bytes);
        const QString before = state(path);

        const QString wav = f_.path(QStringLiteral("sound%1.wav").arg(rows_));
        const auto work = [&] { return throughTheWindows(path, wav); };
        const QVariantMap seen = runInChild(kSanitized ? 180 : 60, work, wav + ".report");
        QVERIFY2(!seen.contains("why"), qPrintable(seen["why"].toString()));
        const long kb = long(seen["memoryKb"].toLongLong());
        qInfo("peak memory +%ld KB", kb);

        // A tag that cannot be read leaves the fields as they were; one that
        // is written shows back; a refused write leaves the entry untouched.
        const QStringList readErrors(reads ? 0 : 1, regular ? "Tag info error" : "File not found");
        const QString base = proposed.chopped(4);   // "Singer - Title"
        const Six display = reads ? Six{base.section(" - ", 1), base.section(" - ", 0, 0)} : kBefore;
        const QVariantMap expected{
            {"read", reads}, {"readByTagLib", reads}, {"sameRecord", true},
            {"proposed", proposed}, {"displayMessages", readErrors}, {"frameEnabled", true},
            {"updateMessages", regular && !writes ? QStringList{"Tag write error"} : QStringList()},
            {"proposedAfterUpdate", writes ? QStringLiteral("Writer - Written.mp3") : proposed},
            {"redisplayMessages", writes ? QStringList() : readErrors},
            {"shownAfterUpdate", writes ? kTyped : seen["shown"].toStringList()},
            {"listed", regular}, {"played", plays ? QVariant(true) : QVariant()}, {"sound", plays},
            {"playMessages", regular && !plays ? QStringList{"Open Error"} : QStringList()},
            {"playerLeftOpen", plays ? QVariant(false) : QVariant()}, {"stillPlaying", false},
            {"openAfterPlay", QStringList()},
        };
        for (const auto &[key, want] : expected.asKeyValueRange())
            QVERIFY2(seen.value(key) == want, qPrintable(key + ": " + QDebug::toString(seen.value(key))));
        QCOMPARE(seen["shown"].toStringList().mid(0, display.size()), display);
        if (writes)
            QVERIFY2(testdata::readAll(path).contains(testdata::audio()), "audio lost");
        else
            QCOMPARE(state(path), before);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 QStringList{"entry.mp3"});
        if (!kSanitized)
            QVERIFY2(kb < 200 * 1024, qPrintable(QString::number(kb) + " KB"));
    }
};

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
