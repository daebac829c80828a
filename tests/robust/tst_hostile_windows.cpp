// Hostile files through the windows: each file of the set goes into the main
// window's list with its proposed name, is clicked (tag display), updated
// with typed fields and played from the file selection window, in a child
// process of its own under a watchdog. The child reports what the windows
// showed; the parent checks it and the file on disk. Time and memory are
// printed, never checked.

#include "frmfileselect.h"
#include "frmmain.h"
#include "frmplay.h"
#include "hostile.h"
#include "messagebox.h"
#include "testdata.h"
#include "vbmp3.h"

#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
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

constexpr int kWatchdogSeconds = kSanitized ? 180 : 60;
constexpr long kMemoryBoundKb = 200 * 1024;

// The tag frame's six fields: title, singer, album, year, genre, comment.
using Six = QStringList;
const Six kBefore{"Before", "Before singer", "Before album", "1990", "Blues", "Before"};
const Six kTyped{"Written", "Writer", "Hostile album", "2024", "Rock", "Hostile comment"};

Six shown(const frmMain &w)
{
    return {w.txtTrackName->text(), w.txtArtistName->text(), w.txtAlbumName->text(),
            w.txtYear->text(),      w.cmbGenre->currentText(), w.txtComment->text()};
}

void type(frmMain &w, const Six &f)
{
    w.txtTrackName->setText(f[0]);
    w.txtArtistName->setText(f[1]);
    w.txtAlbumName->setText(f[2]);
    w.txtYear->setText(f[3]);
    w.cmbGenre->setCurrentIndex(w.cmbGenre->findText(f[4]));
    w.txtComment->setText(f[5]);
}

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

// True when the WAV file holds a sample that is not silence.
bool hasSound(const QString &wav)
{
    const QByteArray bytes = testdata::readAll(wav);
    return bytes.size() > 44 && bytes.mid(44).count('\0') < bytes.size() - 44;
}

// Descriptors of this process open on any of `paths`.
QStringList openOn(const QStringList &paths)
{
    QStringList open;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (paths.contains(target))
            open << target;
    }
    return open;
}

QByteArray hashOf(const QString &path)
{
    QFile f(path);
    QCryptographicHash h(QCryptographicHash::Sha1);
    if (f.open(QIODevice::ReadOnly))
        h.addData(&f);
    return h.result();
}

// What kind of entry `path` is itself (not what a link leads to), and where
// a link leads: a write must not put a file in the place of a FIFO or link.
QString kind(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("missing");
    return QString::number(st.st_mode & S_IFMT, 8) + u' ' + QFile::symLinkTarget(path);
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// Plays `path` as a user would: a double-click on its File1 entry when the
// file selection window lists it, else straight through the player (the
// entry may have been replaced since it was listed). A player that opens is
// stopped with its Stop button once sound has come out.
void play(frmMain &w, const QString &path, const QString &wav, QVariantMap &seen)
{
    const QFileInfo info(path);
    QString folder = info.absolutePath();
    frmFileSelect select(w.lstMP3Files, folder, w.IniFile(), w.topTwips(), w.leftTwips(),
                         w.windowIcon(), w.AppFolder(), &w);
    select.show();
    (void)QTest::qWaitForWindowExposed(&select);
    const QList<QListWidgetItem *> items = select.File1->findItems(info.fileName(), Qt::MatchExactly);
    seen["listed"] = !items.isEmpty();

    bool played = false;
    auto whilePlaying = [&](frmPLay &player) {
        played = true;
        seen["soundWhilePlaying"] = QTest::qWaitFor([&] { return hasSound(wav); }, 10000);
        QTest::mouseClick(player.cmdStop, Qt::LeftButton);
        if (player.isVisible()) // Stop did not close it: do not hang here
            player.reject();
    };
    if (!items.isEmpty()) {
        // The player runs modally inside the double-click; a timer reaches it.
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            auto *player = qobject_cast<frmPLay *>(QApplication::activeModalWidget());
            if (player && player->isVisible() && !played)
                whilePlaying(*player);
        });
        watch.start(10);
        select.File1->scrollToItem(items.first());
        const QPoint at = select.File1->visualItemRect(items.first()).center();
        QWidget *viewport = select.File1->viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
    } else {
        frmPLay player(&w);
        player.sPlayFile = path;
        if (player.MP3_Play()) {
            player.show();
            whilePlaying(player);
        }
    }
    seen["played"] = played;
    seen["playerLeftOpen"] = QApplication::activeModalWidget() != nullptr
                             && QApplication::activeModalWidget() != &select;
    seen["stillPlaying"] = mp3lib::isPlayingForTesting();
    seen["openAfterPlay"] = openOn({info.absoluteFilePath(), QFileInfo(wav).absoluteFilePath()});
    seen["sound"] = hasSound(wav);
    select.reject();
}

// The child's work: the whole way of one file through the windows. Returns
// what the windows showed and how long each step took.
QVariantMap throughTheWindows(const QString &path, const QString &work)
{
    QVariantMap seen;
    QStringList messages;
    ui::setMessageSinkForTesting(
        [&](const QString &text, QMessageBox::Icon) { messages << text; });
    const QString wav = work + QStringLiteral("/sound.wav");
    mp3lib::setWavOutputForTesting(QFile::encodeName(wav).constData());
    frmMain::setAppFolderForTesting(work);

    QVariantMap seconds;
    QElapsedTimer clock;
    clock.start();
    auto step = [&](const char *name) { seconds[name] = double(clock.restart()) / 1000; };

    frmMain w;
    if (!w.Form_Load())
        return seen;
    w.show();
    (void)QTest::qWaitForWindowExposed(&w);
    step("start");

    auto proposed = [&] {
        return w.lstRename->count() == 1 ? w.lstRename->item(0)->text() : QStringLiteral("<none>");
    };

    // Into the list, with a proposed name.
    w.lstMP3Files->addItem(path);
    w.MakeRenameList(0);
    seen["proposed"] = proposed();
    step("list");

    // A click on the entry: the tag display.
    type(w, kBefore);
    int clicks = 0;
    QObject::connect(&w, &frmMain::lstMP3FilesClickRaised, [&] { ++clicks; });
    const QPoint at = w.lstMP3Files->visualItemRect(w.lstMP3Files->item(0)).center();
    QTest::mouseClick(w.lstMP3Files->viewport(), Qt::LeftButton, {}, at);
    (void)QTest::qWaitFor([&] { return clicks > 0; }, 5000);
    seen["displayMessages"] = std::exchange(messages, {});
    seen["shown"] = shown(w);
    seen["frameEnabled"] = w.Frame1->isEnabled();
    step("display");

    // Update with typed fields, then the display again.
    type(w, kTyped);
    QTest::mouseClick(w.cmdRewrite, Qt::LeftButton);
    seen["updateMessages"] = std::exchange(messages, {});
    seen["proposedAfterUpdate"] = proposed();
    step("update");
    type(w, kBefore);
    w.lstMP3Files_Click();
    seen["redisplayMessages"] = std::exchange(messages, {});
    seen["shownAfterUpdate"] = shown(w);
    step("redisplay");

    play(w, path, wav, seen);
    seen["playMessages"] = std::exchange(messages, {});
    step("play");

    w.close();
    step("close");
    seen["seconds"] = seconds;
    return seen;
}

// Runs throughTheWindows in a child under the watchdog and fills `seen`
// with its report. False (with `why`) when the child hung or died. The
// parent has built no window and started no thread of its own (only Qt
// Test's watchdog waits), so the child's Qt starts from a clean state.
bool inChild(const QString &path, const QString &work, QVariantMap &seen, QString &why)
{
    int fds[2];
    if (::pipe(fds) != 0) {
        why = QStringLiteral("no pipe");
        return false;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        why = QStringLiteral("no fork");
        return false;
    }
    if (pid == 0) {
        ::close(fds[0]);
        ::alarm(kWatchdogSeconds);
        const long startKb = residentKb();
        QVariantMap report = throughTheWindows(path, work);
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        report["memoryKb"] = qlonglong(usage.ru_maxrss - startKb);
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << report;
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = ::write(fds[1], bytes.constData() + done, size_t(bytes.size() - done));
            if (n <= 0)
                ::_exit(3);
            done += n;
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray got;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        got.append(buffer, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) {
        why = WTERMSIG(status) == SIGALRM
                  ? QStringLiteral("hung for %1 s").arg(kWatchdogSeconds)
                  : QStringLiteral("died of signal %1").arg(WTERMSIG(status));
        return false;
    }
    if (WEXITSTATUS(status) != 0) {
        why = QStringLiteral("exited with status %1").arg(WEXITSTATUS(status));
        return false;
    }
    QDataStream in(got);
    in >> seen;
    if (!seen.contains("seconds")) {
        why = QStringLiteral("the main window did not load");
        return false;
    }
    return true;
}

} // namespace

class TestHostileWindows : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QList<hostile::HostileFile> files_;
    QByteArray audio_;
    double worstSeconds_ = 0;
    long worstKb_ = 0;
    QString slowest_, largest_;

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QVERIFY(QDir(dir_.path()).mkdir("set"));
        files_ = hostile::writeHostileFiles(dir_.filePath("set"));
        audio_ = testdata::readAll(testdata::sample(testdata::kStereoMpeg1));
    }

    void cleanupTestCase()
    {
        qInfo("hostile files through the windows: %lld; slowest step %.3f s (%s), most memory "
              "%ld KB (%s)%s",
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
        const QString work = dir_.filePath(QStringLiteral("work%1").arg(index));
        QVERIFY(QDir().mkpath(work));
        const QByteArray before = file.regular ? hashOf(file.path) : QByteArray();
        const QString kindBefore = kind(file.path);
        const QStringList folderBefore = entries(dir_.filePath("set"));

        QVariantMap seen;
        QString why;
        QVERIFY2(inChild(file.path, work, seen, why), qPrintable(why));

        // Figures first: they are wanted also when a check fails.
        const QVariantMap seconds = seen["seconds"].toMap();
        QString slowStep;
        double slow = -1;
        for (auto it = seconds.begin(); it != seconds.end(); ++it) {
            if (it.value().toDouble() > slow) {
                slow = it.value().toDouble();
                slowStep = it.key();
            }
        }
        const long kb = long(seen["memoryKb"].toLongLong());
        qInfo("%-36s slowest step %-9s %.3f s, peak memory +%ld KB", qPrintable(file.what),
              qPrintable(slowStep), slow, kb);
        if (slow > worstSeconds_) {
            worstSeconds_ = slow;
            slowest_ = file.what + " / " + slowStep;
        }
        if (kb > worstKb_) {
            worstKb_ = kb;
            largest_ = file.what;
        }

        const QString readError = !file.regular ? QStringLiteral("File not found")
                                  : !file.tagReads ? QStringLiteral("Tag info error")
                                                   : QString();
        const QStringList readErrors = readError.isEmpty() ? QStringList() : QStringList{readError};

        // Proposed name and tag display: the marker or message, the fields
        // left as they were; a readable tag shows the title and singer the
        // proposed name was made of.
        QCOMPARE(seen["proposed"].toString(), file.proposed);
        QCOMPARE(seen["displayMessages"].toStringList(), readErrors);
        QVERIFY(seen["frameEnabled"].toBool());
        const Six display = seen["shown"].toStringList();
        if (file.tagReads) {
            const QString base = file.proposed.chopped(4); // "Singer - Title"
            QCOMPARE(display.mid(0, 2), Six({base.section(" - ", 1), base.section(" - ", 0, 0)}));
        } else {
            QCOMPARE(display, kBefore);
        }

        // Update: written and shown back, or refused with the file untouched
        // (nothing said for an entry that is no regular file).
        const QStringList writeErrors = file.regular && !file.tagWrites
                                            ? QStringList{"Tag write error"}
                                            : QStringList();
        QCOMPARE(seen["updateMessages"].toStringList(), writeErrors);
        if (file.tagWrites) {
            QCOMPARE(seen["proposedAfterUpdate"].toString(), QStringLiteral("Writer - Written.mp3"));
            QCOMPARE(seen["redisplayMessages"].toStringList(), QStringList());
            QCOMPARE(seen["shownAfterUpdate"].toStringList(), kTyped);
            QVERIFY2(testdata::readAll(file.path).contains(audio_), "audio bytes lost or changed");
        } else {
            QCOMPARE(seen["proposedAfterUpdate"].toString(), file.proposed);
            QCOMPARE(seen["redisplayMessages"].toStringList(), readErrors);
            QCOMPARE(seen["shownAfterUpdate"].toStringList(), display);
            if (file.regular)
                QCOMPARE(hashOf(file.path), before);
        }
        QCOMPARE(kind(file.path), kindBefore);
        QCOMPARE(entries(dir_.filePath("set")), folderBefore);

        // Playing: listed and played to sound, or "Open Error" (nothing for
        // an entry that is no regular file) and silence; stopped and closed.
        QCOMPARE(seen["listed"].toBool(), file.regular);
        QCOMPARE(seen["played"].toBool(), file.plays);
        QCOMPARE(seen["playMessages"].toStringList(),
                 file.regular && !file.plays ? QStringList{"Open Error"} : QStringList());
        if (file.plays)
            QVERIFY(seen["soundWhilePlaying"].toBool());
        QCOMPARE(seen["sound"].toBool(), file.plays);
        QVERIFY(!seen["playerLeftOpen"].toBool());
        QVERIFY(!seen["stillPlaying"].toBool());
        QCOMPARE(seen["openAfterPlay"].toStringList(), QStringList());

        if (!kSanitized)
            QVERIFY2(kb < kMemoryBoundKb, qPrintable(QString::number(kb) + " KB"));
    }
};

QTEST_MAIN(TestHostileWindows)
#include "tst_hostile_windows.moc"
