// vbmp3_setTagInfo on real files built from tests/data/tagwrite.txt: what lands
// in each tag, what must survive, and that a refused, failed or killed write
// leaves the file as it was. "test_mp3lib_write --write PATH TITLE [--as-nobody]
// [--file-size-limit BYTES] [--exit-at-once]" makes one write in a process of
// its own, to be killed, run unprivileged or limited in the size of its files.

#include "common/id3build.h"
#include "core/tags/tagfields.h"
#include "common/table.h"
#include "core/tags/textcodec.h"
#include "core/tags/vbmp3.h"
#include "core/tags/write_files.h"

#include <taglib/apetag.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include <grp.h>
#include <sys/file.h>
#include <sys/resource.h>

using namespace testdata;

namespace {

QStringList fieldsOf(const QByteArray &bytes) { return QString::fromUtf8(bytes).split(';'); }
// The rows of [section], every column an expression.
void rows(const char *section, std::initializer_list<const char *> names)
{
    QList<table::Column> columns;
    for (const char *name : names)
        columns.append(table::expr(name));
    table::addRows("tagwrite.txt", section, columns);
}

// Writes title, artist, album, year, comment and the genre number.
int write(const QString &path, const QStringList &f, int genre = 17)
{
    tags::TagInfo t;
    QString *texts[] = {&t.TrackName, &t.ArtistName, &t.AlbumName, &t.Year, &t.Comment};
    for (int i = 0; i < 5; ++i)
        *texts[i] = tags::fitFieldWithNul(f.value(i), i == 3 ? tags::kYearWidth : tags::kTextWidth);
    t.GenreNo = genre;
    mp3lib::TagInfoWire wire = t.toWire();
    return vbmp3_setTagInfo(QFile::encodeName(path).constData(), wire, 0, 1);
}

// Title, artist, album, year, comment, genre name and number as read back.
QStringList readBack(const QString &path)
{
    using mp3lib::detail::wireText;
    mp3lib::TagInfoWire w{};
    if (!vbmp3_getFileTagInfo(QFile::encodeName(path).constData(), w))
        return {"(unreadable)"};
    return {wireText(w.TrackName, 128), wireText(w.ArtistName, 128), wireText(w.AlbumName, 128),
            wireText(w.Year, 5),        wireText(w.Comment, 128),    wireText(w.GenreName, 128),
            QString::number(w.GenreNo)};
}

TagLib::String tl(const QString &s) { return TagLib::String(s.toUtf8().toStdString(), TagLib::String::UTF8); }

struct stat statOf(const QString &path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

QStringList folderEntries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The write of a process of its own: the title given, the other fields of
// helperV1 in tests/data/tagwrite.txt. Exit status 0 written, 1 refused, 2 set-up failed.
int writeAlone(int argc, char **argv)
{
    for (int i = 4; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--as-nobody" && ::geteuid() == 0
            && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            return 2;
        if (QByteArray(argv[i]) == "--file-size-limit" && i + 1 < argc) {
            const rlim_t limit = std::strtoull(argv[++i], nullptr, 10);
            const rlimit r{limit, RLIM_INFINITY};
            std::signal(SIGXFSZ, SIG_IGN);   // writes past the limit fail with EFBIG instead
            if (::setrlimit(RLIMIT_FSIZE, &r) != 0)
                return 2;
        }
    }
    const QStringList fields{QString::fromUtf8(argv[3]), "Helper", "Album", "2024"};
    const int status = write(QString::fromLocal8Bit(argv[2]), fields) ? 0 : 1;
    // The exit handlers' own writes (a coverage build's counters) may not be
    // cut by the size limit, nor counted and killed under strace.
    const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    ::setrlimit(RLIMIT_FSIZE, &unlimited);
    if (QByteArray(argv[argc - 1]) == "--exit-at-once")
        ::_exit(status);
    return status;
}

// Runs writeAlone on `file` with the title "A title longer than the old",
// under `wrapper` when given; true when the write succeeded.
bool writeInChild(const QString &file, const QStringList &args, const QStringList &wrapper = {},
                  QByteArray *log = nullptr)
{
    const QStringList command = wrapper + QStringList{QCoreApplication::applicationFilePath(), "--write", file,
                                                      "A title longer than the old"} + args;
    QProcess p;
    p.start(command[0], command.mid(1));
    const bool ok = p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (log)
        *log = p.readAllStandardError();
    return ok;
}

} // namespace

class TestTagWrite : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path(const QString &name) const { return dir_.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid() && vbmp3_init()); }
    void init() { TABLE_FAIL_BROKEN_ROW(); }

    // The six fields land in every tag and read back, through TagLib and through the binding;
    // ID3v2 has one frame a field (none when empty), ISO-8859-1 only for ASCII.
    void writesEveryTag_data() { rows("writes", {"start", "fields", "genre", "v1Title", "v1Comment", "kept"}); }

    void writesEveryTag()
    {
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, fields);
        QFETCH(QByteArray, genre);
        QFETCH(QByteArray, v1Title);
        QFETCH(QByteArray, v1Comment);
        QFETCH(QByteArray, kept);
        const QStringList f = fieldsOf(fields);
        const int genreNo = genre.toInt();
        const bool named = genreNo >= 0 && genreNo <= 191, v24 = start.startsWith("ID3\x04");
        const QString file = path("every.mp3");
        writeAll(file, start);

        QCOMPARE(write(file, f, genreNo), 1);
        const QByteArray out = readAll(file), v1 = out.right(128);
        QVERIFY(out.contains(kept));
        // The audio as it was (a small file's part of the sample between its two tags).
        const QByteArray audioKept = start.contains(audio()) ? audio() : start.mid(id3build::tagSize(start)).chopped(128);
        QCOMPARE(out.mid(id3build::tagSize(out), audioKept.size()), audioKept);
        QCOMPARE(v1.left(33), "TAG" + v1Title.leftJustified(30, '\0'));
        QCOMPARE(v1.mid(93), f[3].toLatin1().leftJustified(4, '\0') + v1Comment.leftJustified(30, '\0')
                                 + char(named ? genreNo : 255));
        QCOMPARE(out.contains("TYER"), !v24 && !f[3].isEmpty());

        TagLib::MPEG::File t(QFile::encodeName(file).constData(), false);
        QCOMPARE(t.ID3v2Tag()->header()->majorVersion(), v24 ? 4u : 3u);
        const char *ids[] = {"TIT2", "TPE1", "TALB", "TDRC", "TCON"};
        for (int i = 0; i < 5; ++i) {
            const TagLib::ID3v2::FrameList frames = t.ID3v2Tag()->frameList(ids[i]);
            const bool empty = i < 4 ? f[i].isEmpty() : !named;
            QCOMPARE(frames.size(), empty ? 0u : 1u);
            if (empty || i == 4)
                continue;
            auto *frame = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame *>(frames.front());
            QVERIFY(frame && frame->toString() == tl(f[i]));
            const bool ascii = f[i].toLatin1() == f[i].toUtf8();
            QCOMPARE(frame->textEncoding(), ascii ? TagLib::String::Latin1 : TagLib::String::UTF16);
        }
        QVERIFY(t.ID3v2Tag()->comment() == tl(f[4]));
        QVERIFY(t.ID3v2Tag()->genre() == (named ? TagLib::ID3v1::genre(genreNo) : TagLib::String()));
        if (start.contains("APETAGEX")) {
            const auto &items = t.APETag()->itemListMap();
            QVERIFY(t.APETag()->title() == tl(f[0]) && items["YEAR"].toString() == tl(f[3]));
            QVERIFY(items["REPLAYGAIN_TRACK_GAIN"].toString() == "-3.2 dB");
        }
        const QStringList got = readBack(file);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(tags::TrimTagStr(got[i]), tags::TrimTagStr(f[i]));
        QCOMPARE(got[6], QString::number(named ? genreNo : 255));
    }

    // Files as other tools write them. Sending back the fields as the tag frame
    // shows them leaves every byte; a new title and comment replace those frames
    // only: every other frame (broken ones too), and the fields not edited (cut
    // by their boxes, a full date, a genre of its own), stay. "-": fields as read.
    void keepsEveryOtherFrame_data() { rows("keeps", {"tagBytes", "kept", "before"}); }

    void keepsEveryOtherFrame()
    {
        QFETCH(QByteArray, tagBytes);
        QFETCH(QByteArray, kept);
        QFETCH(QByteArray, before);
        const QString file = path("tools.mp3");
        const QByteArray original = tagBytes + audio() + id3build::v1("v1 title", {}, {}, {}, 17, {}, 4);
        writeAll(file, original);
        const QStringList shown = readBack(file);
        if (before != "-")
            QCOMPARE(shown, fieldsOf(before));

        // What the tag window sends back: the fields as its boxes show them, the title and comment given.
        mp3lib::TagInfoWire now{};
        QVERIFY(vbmp3_getFileTagInfo(QFile::encodeName(file).constData(), now));
        tags::TagInfo t;
        t.fromWire(now);
        const tags::TagFieldTexts box = tags::displayTexts(t);
        const auto send = [&](const QString &title, const QString &comment) {
            mp3lib::TagInfoWire wire =
                tags::recordForUpdate({title, box.ArtistName, box.AlbumName, box.Year, comment}, {now.GenreNo, {}})
                    .toWire();
            return vbmp3_setTagInfo(QFile::encodeName(file).constData(), wire, 0, 1);
        };
        QCOMPARE(send(box.TrackName, box.Comment), 1);
        QCOMPARE(readAll(file), original);

        QCOMPARE(send("New title", "new comment"), 1);
        const QByteArray out = readAll(file);
        QByteArray written = out.left(id3build::tagSize(out));
        if (written[3] <= 3 && (written[5] & 0x80))   // undo the whole tag's unsynchronisation
            written.replace(QByteArray("\xFF\0", 2), "\xFF");
        QVERIFY(written.contains(kept));
        QCOMPARE(out.mid(id3build::tagSize(out)).chopped(128), audio());
        QCOMPARE(out.right(128).mid(33, 64), original.right(128).mid(33, 64));   // artist, album, year
        QCOMPARE(out.right(2), original.right(2));                                  // track, genre
        const QStringList edited{"New title", shown[1], shown[2], shown[3], "new comment", shown[5], shown[6]};
        QCOMPARE(readBack(file), edited);
    }

    // A failure gives 0 and leaves the file byte for byte as it was, nothing
    // beside it. Permissions and a file size limit are tried in a child.
    void failureLeavesFileAsItWas_data() { rows("failures", {"bytes", "written"}); }

    void failureLeavesFileAsItWas()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, written);
        const QString setup = table::rowName();
        const QString folder = path("fail"), file = folder + "/song.mp3";
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        QDir(folder).removeRecursively();
        QVERIFY(QDir().mkpath(folder));
        const QByteArray folderName = QFile::encodeName(folder), fileName = QFile::encodeName(file);
        if (setup == "FIFO")
            QCOMPARE(::mkfifo(fileName.constData(), 0644), 0);
        else if (setup == "folder")
            QVERIFY(QDir().mkdir(file));
        else if (setup.contains("link")) {   // the file behind it in a folder of its own, mode 0640, owned by nobody
            QVERIFY(QDir().mkdir(folder + "/real"));
            QCOMPARE(::symlink("real/song.mp3", fileName.constData()), 0);
            writeAll(file, bytes);
            ::chmod(fileName.constData(), 0640);
            (void)!::chown(fileName.constData(), 65534, 65534);   // unless run by root, the owner stays
        } else if (bytes != "@")
            writeAll(file, bytes);
        const struct stat before = statOf(file);
        QStringList args;
        if (setup.startsWith("no write bit"))
            ::chmod(fileName.constData(), 0444);
        if (setup.startsWith("size limit"))
            args << "--file-size-limit" << QString::number(bytes.size());
        if (setup.contains("read-only") || setup.contains("unprivileged")) {
            ::chmod(QFile::encodeName(dir_.path()).constData(), 0755);
            ::chmod(folderName.constData(), setup.contains("folder") ? 0555 : 0777);
            (void)!::chown(fileName.constData(), 65534, 65534);
            ::chmod(fileName.constData(), setup == "read-only file" ? 0444 : 0644);
            args << "--as-nobody";
        }
        const QStringList entries = folderEntries(folder);
        const QString title = "A title longer than the old";
        const bool result = args.isEmpty() ? write(file, {title, "S"}) == 1 : writeInChild(file, args);
        QCOMPARE(result, written == "1");
        QCOMPARE(folderEntries(folder), entries);
        if (setup.contains("link")) {   // the link kept; the file behind it replaced, its mode and owner kept
            const struct stat now = statOf(file);
            QVERIFY(QFileInfo(file).isSymLink() && now.st_ino != before.st_ino);
            QVERIFY(now.st_mode == before.st_mode && now.st_uid == before.st_uid && now.st_gid == before.st_gid);
            QCOMPARE(folderEntries(folder + "/real"), QStringList{"song.mp3"});
        }
        if (result)
            QCOMPARE(readBack(file).value(0), title);
        else if (bytes != "@")
            QCOMPARE(readAll(file), bytes);
    }

    // A writer killed on entry to any of its file-changing system calls leaves
    // the old file or the new one, and nothing beside it once the folder is read.
    // The hidden copies killed writes left go at the folder's first read, whatever
    // their file's name; not a copy whose writer holds its lock, nor one whose file
    // is gone, nor look-alikes without the mark.
    void killedAtEveryCallLeavesOldOrNew_data() { rows("kills", {"old", "inPlace"}); }

    void killedAtEveryCallLeavesOldOrNew()
    {
        QFETCH(QByteArray, old);
        QFETCH(QByteArray, inPlace);
        const QString folder = path(table::rowName()), file = folder + "/song.mp3";   // read first here
        QVERIFY(QDir().mkpath(folder));
        // Left behind: copies with this program's mark whose file is there, also under a shortened name.
        const QString longName = QString(250, u'n') + ".mp3";
        const auto copyOf = [](const QString &name) { return QString(mp3lib::detail::newCopyName(name.toUtf8())); };
        const QStringList left{copyOf("song.mp3"), copyOf(longName)};
        const QStringList others{".song.mp3.dorvasu-abc", "song.mp3.dorvasu-Ab12Cd", ".x.dorvasu-Ab1-Cd",
                                 ".song.mp3.dorvasu-Ab12Cd3e", ".diary.txt.dorvasu-abc123", copyOf("gone.mp3"),
                                 longName, copyOf("song.mp3")};   // the last one's writer still runs
        for (const QString &name : left + others)
            writeAll(folder + "/" + name, "half a copy");
        QFile live(folder + "/" + others.last());
        QVERIFY(live.open(QIODevice::ReadOnly) && ::flock(live.handle(), LOCK_EX) == 0);
        QStringList entries = others + QStringList{"song.mp3"};
        entries.sort();
        const QString calls = "trace=write,pwrite64,copy_file_range,ftruncate,fsync,fdatasync,fchmod,fchown,"
                              "link,linkat,rename,renameat,renameat2,unlink,unlinkat";
        ino_t before = 0;
        QByteArray log;
        const auto run = [&](const QStringList &inject) {
            writeAll(file, old);
            before = statOf(file).st_ino;
            writeInChild(file, {"--exit-at-once"}, QStringList{"strace", "-f", "-qq", "-e", calls} + inject,
                         &log);
        };
        run({});   // counts each call, and makes the new file
        const QByteArray fresh = readAll(file);
        QCOMPARE(readBack(file).value(0), "A title longer than the old");
        QCOMPARE(folderEntries(folder), entries);
        QCOMPARE(statOf(file).st_ino == before, inPlace == "1");
        QMap<QString, int> count;   // strace's lines: "[pid N] call(arguments) = result"
        static const QRegularExpression call(R"(^(?:\[pid +\d+\] )?(\w+)\()", QRegularExpression::MultilineOption);
        for (const QRegularExpressionMatch &m : call.globalMatch(QString::fromLatin1(log)))
            ++count[m.captured(1)];
        QVERIFY(count.value("pwrite64") + count.value("write") > 0);
        QCOMPARE(count.value("renameat") + count.value("rename") + count.value("renameat2") > 0, inPlace == "0");
        for (auto it = count.cbegin(); it != count.cend(); ++it) {
            for (int n = 1; n <= it.value(); ++n) {
                run({"-e", QString("inject=%1:signal=SIGKILL:when=%2").arg(it.key()).arg(n)});
                const QByteArray now = readAll(file);
                const QString at = QString("%1 #%2").arg(it.key()).arg(n);
                QVERIFY2(now == old || now == fresh, qPrintable(at));
                mp3lib::removeLeftoverCopies(QFile::encodeName(folder).constData());
                QVERIFY2(folderEntries(folder) == entries, qPrintable(at));
            }
        }
    }
};

int main(int argc, char **argv)
{
    if (argc > 3 && QByteArray(argv[1]) == "--write")
        return writeAlone(argc, argv);
    QCoreApplication app(argc, argv);
    TestTagWrite test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tagwrite.moc"
