// Hostile entries named ".mp3" (broken, malicious or merely unusual files, a
// FIFO, a link to a device, a folder), each in a forked child under a
// watchdog: read by the library, listed, shown, updated and played through
// the windows. The parent checks what the child saw and the entry on disk:
// no crash, no hang, bounded memory, a refused write leaves the entry as it was.

#include "frmfileselect.h"
#include "frmplay.h"
#include "id3build.h"
#include "mainwindowfixture.h"
#include "newname.h"
#include "renamelist.h"
#include "taginfo.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QRandomGenerator>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace id3build;

#ifdef DORVASU_COVERAGE
extern "C" void __gcov_dump();
#endif
using renaming::kFileNotFound;
using renaming::kTagInfoError;

namespace {

#ifdef __SANITIZE_ADDRESS__
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

struct Hostile {
    const char *what;
    QByteArray bytes;   // the content; for no regular file: "fifo", "folder" or a link's target
    bool reads, writes, plays;
    QString proposed;   // the rename list's entry: a proposed name or a marker
    bool regular = true;
};

// An APEv2 tag with header and footer (fields little-endian).
QByteArray apeTag(const QByteArray &title, const QByteArray &singer)
{
    auto le = [](quint32 n) {
        QByteArray b = be(n, 4);
        std::reverse(b.begin(), b.end());
        return b;
    };
    QByteArray body;
    for (const auto &[key, value] : {std::pair{QByteArray("Title"), title}, {QByteArray("Artist"), singer}})
        body += le(value.size()) + le(0) + key + '\0' + value;
    auto header = [&](quint32 flags) {
        return "APETAGEX" + le(2000) + le(body.size() + 32) + le(2) + le(flags) + QByteArray(8, '\0');
    };
    return header(0xA0000000) + body + header(0x80000000);
}

QList<Hostile> hostileSet()
{
    const QByteArray audio = testdata::readAll(testdata::sample(testdata::kStereoMpeg1));
    auto named = [](int v, const QByteArray &title, const QByteArray &singer) {
        const bool v2 = v == 2;
        return frame(v, v2 ? "TT2" : "TIT2", latin1(title)) + frame(v, v2 ? "TP1" : "TPE1", latin1(singer));
    };
    const QByteArray title = named(3, "Title", "Singer");
    QByteArray noise(256 * 1024, '\0');
    QRandomGenerator(20240607).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    QByteArray xing(417, '\0');   // a first frame whose Xing header claims 2^32-1 frames and bytes
    xing.replace(0, 4, audio.left(4));
    xing.replace(36, 16, "Xing" + be(3, 4) + be(0xFFFFFFFF, 4) + be(0xFFFFFFFF, 4));
    const QString ok = QStringLiteral("Singer - Title.mp3");
    const QByteArray bomb = qCompress(QByteArray(64 << 20, '\0'), 9).mid(4);   // a zlib stream, no length
    return {
        // No MPEG audio, or a tag the guard refuses: never handed to TagLib, never written.
        {"empty", "", false, false, false, kTagInfoError},
        {"random bytes", noise, false, false, false, kTagInfoError},
        {"text named .mp3", QByteArray("This is not an MP3 file.\n").repeated(400), false, false, false,
         kTagInfoError},
        {"ID3v2 size past the end", QByteArray("ID3\x03\0\0", 6) + syncsafe(1 << 20) + title + audio, false,
         false, false, kTagInfoError},
        {"compressed frame inflating to 64 MB",
         tag(3, title + frame(3, "PRIV", be(1000, 4) + bomb, 0x0080), 0) + audio, false, false, true, kTagInfoError},
        {"500,000 tiny frames", tag(3, title + frame(3, "TXXX", latin1({})).repeated(500000), 0) + audio, false,
         false, true, kTagInfoError},
        // Unusual but valid shapes: read, written and played.
        {"invalid text-encoding byte", tag(3, title + frame(3, "TALB", "\x07" "Al\xff\xfe" "bum"), 0) + audio,
         true, true, true, ok},
        {"Xing header claiming 2^32-1 frames", tag(3, title, 0) + xing + audio, true, true, true, ok},
        {"ID3v2.2", tag(2, named(2, "Title", "Singer"), 0) + audio, true, true, true, ok},
        {"unsynchronised frames",
         tag(4, frame(4, "TIT2", QByteArray("\0Title", 6), 0x0002)
                    + frame(4, "PRIV", QByteArray("owner\0\xff\0\xff\0\xe0", 11), 0x0002)
                    + frame(4, "TPE1", latin1("Singer")), 0, 0x80) + audio,
         true, true, true, ok},
        {"extended header",
         tag(4, named(4, "Title", "Singer"), 0, 0x40, syncsafe(6) + QByteArray("\x01\0", 2)) + audio, true, true,
         true, ok},
        {"two ID3v2 tags", tag(3, title, 0) + tag(3, named(3, "Second", "Other"), 0) + audio, true, true, true,
         ok},
        {"junk before the first frame", tag(3, title, 0) + QByteArray(3000, '\x55') + audio, true, true, true,
         ok},
        {"APEv2 and ID3v1",
         audio + apeTag("Ape title", "Ape singer") + v1("v1 title", "v1 singer", "Album", "1999", 17), true, true,
         true, QStringLiteral("Ape singer - Ape title.mp3")},
        {"FIFO", "fifo", false, false, false, kFileNotFound, false},
        {"link to /dev/zero", "/dev/zero", false, false, false, kFileNotFound, false},
        {"folder named .mp3", "folder", false, false, false, kFileNotFound, false},
    };
}

// Makes the entry `name` in `folder` and returns its path.
QString create(const QString &folder, const QString &name, const Hostile &h)
{
    const QString path = folder + u'/' + name;
    const QByteArray native = QFile::encodeName(path);
    if (h.regular)
        testdata::writeAll(path, h.bytes);
    else if (h.bytes == "fifo")
        ::mkfifo(native.constData(), 0644);
    else if (h.bytes == "folder")
        QDir().mkdir(path);
    else
        (void)!::symlink(h.bytes.constData(), native.constData());
    return path;
}

// What kind of entry `path` is, where a link leads, and a regular file's hash.
QString state(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("missing");
    const QByteArray hash = S_ISREG(st.st_mode)
                                ? QCryptographicHash::hash(testdata::readAll(path), QCryptographicHash::Sha1)
                                : QByteArray();
    return QString::number(st.st_mode & S_IFMT, 8) + u' ' + QFile::symLinkTarget(path) + u' ' + hash.toHex();
}

// Runs `work` in a forked child, killed by SIGALRM after `seconds`; its report,
// passed through `file`, gets "memoryKb" (peak resident memory above the start).
// False, with `why`, when the child hung, died or sent no report.
bool runInChild(int seconds, const std::function<QVariantMap()> &work, const QString &file, QVariantMap &report,
                QString &why)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(unsigned(seconds));
        rusage start{}, end{};
        ::getrusage(RUSAGE_SELF, &start);
        QVariantMap out = work();
        ::getrusage(RUSAGE_SELF, &end);
        out["memoryKb"] = qlonglong(end.ru_maxrss - start.ru_maxrss);
        QFile f(file);
        QDataStream stream(&f);
        if (f.open(QIODevice::WriteOnly))
            stream << out;
        f.close();
#ifdef DORVASU_COVERAGE
        __gcov_dump();   // _exit skips the exit handlers that would write it
#endif
        ::_exit(0);
    }
    int status = 0;
    QFile f(file);
    QDataStream stream(&f);
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        why = QStringLiteral("no child");
    else if (WIFSIGNALED(status))
        why = WTERMSIG(status) == SIGALRM ? QStringLiteral("hung for %1 s").arg(seconds)
                                          : QStringLiteral("died of signal %1").arg(WTERMSIG(status));
    else if (f.open(QIODevice::ReadOnly))
        stream >> report;
    if (why.isEmpty() && !report.contains("memoryKb"))
        why = QStringLiteral("exited with status %1 and no report").arg(WEXITSTATUS(status));
    return why.isEmpty();
}

const Six kBefore{"Before", "Before singer", "Before album", "1990", "Blues", "Before"};
const Six kTyped{"Written", "Writer", "Hostile album", "2024", "Rock", "Hostile comment"};

Six shown(const frmMain &w)
{
    return {w.txtTrackName->text(), w.txtArtistName->text(), w.txtAlbumName->text(),
            w.txtYear->text(),      w.cmbGenre->currentText(), w.txtComment->text()};
}

void type(frmMain &w, const Six &f)
{
    for (auto [edit, text] : {std::pair{w.txtTrackName, f[0]}, {w.txtArtistName, f[1]}, {w.txtAlbumName, f[2]},
                              {w.txtYear, f[3]}, {w.txtComment, f[5]}})
        edit->setText(text);
    w.cmbGenre->setCurrentIndex(w.cmbGenre->findText(f[4]));
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
        if (paths.contains(QFile::symLinkTarget(fds.filePath(fd))))
            open << QFile::symLinkTarget(fds.filePath(fd));
    }
    return open;
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT

    WindowFixture f_;   // set up once: every child starts from the same state
    QList<Hostile> set_;
    QByteArray audio_;

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
        frmMain &w = *f_.w;
        w.show();
        (void)QTest::qWaitForWindowExposed(&w);
        auto proposed = [&] { return w.lstRename->count() == 1 ? w.lstRename->item(0)->text() : "<none>"; };
        w.lstMP3Files->addItem(path);
        w.MakeRenameList(0);
        seen["proposed"] = proposed();
        step("list");

        type(w, kBefore);
        int clicks = 0;
        QObject::connect(&w, &frmMain::lstMP3FilesClickRaised, [&] { ++clicks; });
        const QPoint at = w.lstMP3Files->visualItemRect(w.lstMP3Files->item(0)).center();
        QTest::mouseClick(w.lstMP3Files->viewport(), Qt::LeftButton, {}, at);
        (void)QTest::qWaitFor([&] { return clicks > 0; }, 5000);
        seen["shown"] = shown(w);
        seen["frameEnabled"] = w.Frame1->isEnabled();
        step("display");

        type(w, kTyped);
        QTest::mouseClick(w.cmdRewrite, Qt::LeftButton);
        seen["proposedAfterUpdate"] = proposed();
        step("update");
        type(w, kBefore);
        w.lstMP3Files_Click();
        seen["shownAfterUpdate"] = shown(w);
        step("redisplay");

        // The file selection window lists regular files only; a double-click
        // plays one in a modal player, stopped with its Stop button once sound
        // has come out. An entry not listed goes to the player straight.
        const QFileInfo info(path);
        {
            QByteArray folder = QFile::encodeName(info.absolutePath());
            frmFileSelect select(w.lstMP3Files, folder, w.IniFile(), w.topTwips(), w.leftTwips(), w.windowIcon(),
                                 w.AppFolder(), &w);
            select.show();
            (void)QTest::qWaitForWindowExposed(&select);
            const QList<QListWidgetItem *> items = select.File1->findItems(info.fileName(), Qt::MatchExactly);
            seen["listed"] = !items.isEmpty();
            const std::function<void(frmPLay &)> stop = [&](frmPLay &player) {
                seen["played"] = QTest::qWaitFor([&] { return hasSound(wav); }, 10000);
                QTest::mouseClick(player.cmdStop, Qt::LeftButton);
                seen["playerLeftOpen"] = player.isVisible();
            };
            frmPLay player(&w);
            player.sPlayFile = native;
            if (!items.isEmpty()) {
                const QPoint at = select.File1->visualItemRect(items.first()).center();
                WindowFixture::whenModal(stop, [&] {
                    QTest::mouseClick(select.File1->viewport(), Qt::LeftButton, {}, at);
                    QTest::mouseDClick(select.File1->viewport(), Qt::LeftButton, {}, at);
                    QTest::mouseRelease(select.File1->viewport(), Qt::LeftButton, {}, at);
                });
            } else if (player.MP3_Play()) {
                player.show();
                stop(player);
            }
            select.reject();
        }   // the windows above go before the main window
        seen["sound"] = hasSound(wav);
        seen["stillPlaying"] = mp3lib::isPlayingForTesting();
        seen["openAfterPlay"] = openOn({info.absoluteFilePath(), QFileInfo(wav).absoluteFilePath()});
        step("play");
        w.close();
        f_.w.reset();

        // Through the library alone, a tag without a year (its frames go too).
        tags::TagInfo t;
        t.TrackName = tags::fitFieldWithNul(QStringLiteral("Written"), tags::kTextWidth);
        t.ArtistName = tags::fitFieldWithNul(QStringLiteral("Writer"), tags::kTextWidth);
        mp3lib::TagInfoWire record = t.toWire();
        seen["libraryWrite"] = vbmp3_setTagInfo(native.constData(), record, 0, 1) != 0;
        return seen;
    }

private slots:
    void initTestCase()
    {
        f_.setUp();
        set_ = hostileSet();
        audio_ = testdata::readAll(testdata::sample(testdata::kStereoMpeg1));
    }

    void cleanupTestCase() { f_.tearDown(); }

    void eachEntry_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < set_.size(); ++i)
            QTest::newRow(set_[i].what) << i;
    }

    void eachEntry()
    {
        QFETCH(int, index);
        const Hostile &h = set_[index];
        const QString folder = f_.path(QStringLiteral("set%1").arg(index));
        QVERIFY(QDir().mkpath(folder));
        const QString path = create(folder, QStringLiteral("entry.mp3"), h);
        const QString before = state(path);

        QVariantMap seen;
        QString why;
        const QString wav = f_.path(QStringLiteral("sound%1.wav").arg(index));
        const auto work = [&] { return throughTheWindows(path, wav); };
        QVERIFY2(runInChild(kSanitized ? 180 : 60, work, wav + ".report", seen, why), qPrintable(why));
        const long kb = long(seen["memoryKb"].toLongLong());
        qInfo("peak memory +%ld KB", kb);

        // A tag that cannot be read leaves the fields as they were; one that
        // is written shows back; a refused write leaves the entry untouched.
        const QStringList readErrors = !h.regular ? QStringList{"File not found"}
                                       : !h.reads ? QStringList{"Tag info error"}
                                                  : QStringList();
        const QString base = h.proposed.chopped(4);   // "Singer - Title"
        const Six display = h.reads ? Six{base.section(" - ", 1), base.section(" - ", 0, 0)} : kBefore;
        const QVariantMap expected{
            {"read", h.reads}, {"readByTagLib", h.reads}, {"sameRecord", true},
            {"proposed", h.proposed}, {"displayMessages", readErrors}, {"frameEnabled", true},
            {"updateMessages", h.regular && !h.writes ? QStringList{"Tag write error"} : QStringList()},
            {"proposedAfterUpdate", h.writes ? QStringLiteral("Writer - Written.mp3") : h.proposed},
            {"redisplayMessages", h.writes ? QStringList() : readErrors},
            {"shownAfterUpdate", h.writes ? kTyped : seen["shown"].toStringList()},
            {"listed", h.regular}, {"played", h.plays ? QVariant(true) : QVariant()}, {"sound", h.plays},
            {"playMessages", h.regular && !h.plays ? QStringList{"Open Error"} : QStringList()},
            {"playerLeftOpen", h.plays ? QVariant(false) : QVariant()}, {"stillPlaying", false},
            {"openAfterPlay", QStringList()}, {"libraryWrite", h.writes},
        };
        for (const auto &[key, want] : expected.asKeyValueRange())
            QVERIFY2(seen.value(key) == want, qPrintable(key + ": " + QDebug::toString(seen.value(key))));
        QCOMPARE(seen["shown"].toStringList().mid(0, display.size()), display);
        if (h.writes)
            QVERIFY2(testdata::readAll(path).contains(audio_), "audio lost");
        else
            QCOMPARE(state(path), before);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 QStringList{"entry.mp3"});
        if (!kSanitized)
            QVERIFY2(kb < 200 * 1024, qPrintable(QString::number(kb) + " KB"));
    }

    // The whole set named in one list on every core, with an empty and a missing path.
    void wholeSetAtOnce()
    {
        const QString folder = f_.path("whole");
        QVERIFY(QDir().mkpath(folder));
        QList<QByteArray> paths;
        QStringList expected;
        for (const Hostile &h : set_) {
            paths << QFile::encodeName(create(folder, QString::number(paths.size()) + ".mp3", h));
            expected << h.proposed;
        }
        paths << QByteArray() << QFile::encodeName(folder + "/missing.mp3");
        expected << kFileNotFound << kFileNotFound;
        QVariantMap o;
        QString why;
        QVERIFY2(runInChild(10, [&] { return QVariantMap{{"names", renaming::makeRenameNames(paths)}}; },
                            folder + ".report", o, why),
                 qPrintable(why));
        QCOMPARE(o["names"].toStringList(), expected);
    }
};

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
