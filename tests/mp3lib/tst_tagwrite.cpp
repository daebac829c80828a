// vbmp3_setTagInfo on real files: what lands in each tag, what must survive,
// and that a refused, failed or killed write leaves the file as it was.

#include "taginfo.h"
#include "id3build.h"
#include "testdata.h"
#include "vbmp3.h"

#include <QCoreApplication>
#include <QDir>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <taglib/apetag.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace testdata;

namespace {

using namespace id3build;

QByteArray text(const QByteArray &l) { return latin1(l); }
QByteArray id3v2(int version, const QByteArray &frames, int padding) { return tag(version, frames, padding); }
int id3v2Size(const QByteArray &file) { return tagSize(file); }

QByteArray audio() { return readAll(sample(kStereoMpeg1)); }

// A file with an ID3v2.3 title "old", a genre and `padding` bytes of room.
QByteArray oldFile(int padding)
{
    return id3v2(3, frame(3, "TIT2", text("old")) + frame(3, "TCON", text("(12)")), padding) + audio();
}

QByteArray emptyId3v1(int track) { return v1({}, track); }

// The fields the helper writes, but the title, in an ID3v1 tag.
QByteArray helperId3v1(const QByteArray &title) { return v1(title, "Helper", "Album", "2024", 17); }

// A file where the helper's write changes bytes in one page only: its
// ID3v1 tag already holds what the write puts there, and its ID3v2 tag
// (a cover first, then the title) has room.
QByteArray inPlaceFile(int version = 3, int pictureSize = 200 * 1024)
{
    const QByteArray cover = frame(version, "APIC", picture(pictureSize));
    const int filler = 4096 - (10 + cover.size()) % 4096 + 100;   // the title well inside a page
    return tag(version, cover + frame(version, "PRIV", QByteArray(filler - 10, 'f')) + frame(version, "TIT2", text("old"))
                            + frame(version, "TCON", text("(17)")), 1000)
           + audio() + helperId3v1("A title longer than the old");
}

QByteArray padded(QByteArray bytes, int width) { return bytes + QByteArray(width - bytes.size(), '\0'); }

// Writes title, artist, album, year, comment and the genre number.
int write(const QString &path, const QStringList &f, int genre = 17)
{
    tags::TagInfo t;
    t.TrackName = tags::fitFieldWithNul(f[0], tags::kTextWidth);
    t.ArtistName = tags::fitFieldWithNul(f[1], tags::kTextWidth);
    t.AlbumName = tags::fitFieldWithNul(f[2], tags::kTextWidth);
    t.Year = tags::fitFieldWithNul(f[3], tags::kYearWidth);
    t.Comment = tags::fitFieldWithNul(f[4], tags::kTextWidth);
    t.GenreNo = genre;
    mp3lib::TagInfoWire wire = t.toWire();
    return vbmp3_setTagInfo(QFile::encodeName(path).constData(), wire, 0, 1);
}

QString wireText(const char *field, int width) { return QString::fromUtf8(field, qstrnlen(field, width)); }

QString readTitle(const QString &path)
{
    mp3lib::TagInfoWire back{};
    if (!vbmp3_getFileTagInfo(QFile::encodeName(path).constData(), back))
        return "(unreadable)";
    return wireText(back.TrackName, 128);
}

TagLib::String tl(const QString &s) { return TagLib::String(s.toUtf8().toStdString(), TagLib::String::UTF8); }

ino_t inode(const QString &path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_ino;
}

// A tight ID3v2 tag sized so that any growth needs one more 4 KB page; its
// ID3v1 tag is overwritten where it is.
QByteArray tightFileEndingNearPage()
{
    const QByteArray base = frame(3, "TIT2", text("old"));
    const int used = 10 + base.size() + 10 + audio().size() + 128;
    const int filler = 4000 - used % 4096 + (used % 4096 > 4000 ? 4096 : 0);
    return id3v2(3, base + frame(3, "PRIV", QByteArray(filler, 'x')), 0) + audio() + emptyId3v1(0);
}

QStringList folderEntries(const QString &dir)
{
    QStringList l = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    l.sort();
    return l;
}

QString helperPath() { return QCoreApplication::applicationDirPath() + QStringLiteral("/tagwrite_helper"); }

// Runs the helper to completion; its exit status (0 written, 1 refused).
int runHelper(const QStringList &args)
{
    QProcess p;
    p.start(helperPath(), args);
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace

class TestTagWrite : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path(const QString &name) const { return dir_.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QVERIFY(vbmp3_init());
        QVERIFY(QFileInfo::exists(helperPath()));
    }

    // The six fields land in every tag and read back, through TagLib and
    // through the binding; the audio stays where the tag ends. ID3v1 holds
    // CP932 cut at a character boundary, else Windows-1252 ('?' where a
    // character has no form in either legacy code), the year as typed, 255 for a genre without a name.
    void writesEveryTag_data()
    {
        QTest::addColumn<QByteArray>("start");   // "ape": made with TagLib
        QTest::addColumn<QStringList>("fields");   // title, artist, album, year, comment
        QTest::addColumn<int>("genre");
        QTest::addColumn<QByteArray>("v1Title");
        QTest::addColumn<QByteArray>("v1Comment");   // with the track number of ID3v1.1
        const QString kanji15 = QString("日本語").repeated(5);
        const QByteArray cp932x15 = QByteArray("\x93\xfa\x96\x7b\x8c\xea").repeated(5);
        const QByteArray komento("\x83\x52\x83\x81\x83\x93\x83\x67");
        QTest::newRow("untagged: ID3v2.3 and ID3v1, 30 bytes of CP932")
            << audio() << QStringList{kanji15, "歌手", "アルバム", "2005", "コメント"} << 17 << cp932x15 << komento;
        QTest::newRow("v2.3 with room; ID3v1 cut before a split character")
            << oldFile(700) << QStringList{"a" + kanji15, "歌手", "アルバム", "2005", "コメント"} << 0
            << "a" + cp932x15.left(28) << komento;
        QTest::newRow("v2.3 without room; Windows-1252 text; genre past the table")
            << oldFile(0) << QStringList{"Café – Live…", "Björk", "Ça", "1999", "Noël œuvre"} << 192
            << QByteArray("Caf\xe9 \x96 Live\x85") << QByteArray("No\xebl \x9c" "uvre");
        QTest::newRow("v2.4 stays 2.4; year not a number; no legacy form; last genre")
            << id3v2(4, frame(4, "TIT2", text("old")), 0) + audio() << QStringList{"é日", "A", "Al", "abc", "a😀b"}
            << 191 << QByteArray("?\x93\xfa") << QByteArray("a?b");
        QTest::newRow("v2.3 year only in TDRL and TORY, cleared")
            << id3v2(3, frame(3, "TIT2", text("old")) + frame(3, "TDRL", text("1999")) + frame(3, "TORY", text("1970")), 0)
                   + audio()
            << QStringList{"T", "A", "Al", "", "C"} << 17 << QByteArray("T") << QByteArray("C");
        QTest::newRow("APE and ID3v1; year empty; negative genre")
            << QByteArray("ape") << QStringList{"T", "A", "Al", "", "C"} << -1 << QByteArray("T") << QByteArray("C");
        QTest::newRow("ID3v1.1: track kept, comment cut to 28; spaces kept")
            << audio() + emptyId3v1(7) << QStringList{"  lead", "trail  ", " both ", " 98 ", kanji15} << 17
            << QByteArray("  lead") << cp932x15.left(28) + '\0' + '\x07';
    }

    void writesEveryTag()
    {
        QFETCH(QByteArray, start);
        QFETCH(QStringList, fields);
        QFETCH(int, genre);
        QFETCH(QByteArray, v1Title);
        QFETCH(QByteArray, v1Comment);
        const QString file = path("every.mp3");
        const bool ape = start == "ape";
        writeAll(file, ape ? audio() : start);
        if (ape) {
            TagLib::MPEG::File f(QFile::encodeName(file).constData(), false);
            f.APETag(true)->setTitle("ape title");
            f.APETag()->addValue("REPLAYGAIN_TRACK_GAIN", "-3.2 dB");
            f.ID3v1Tag(true)->setTitle("v1 title");
            QVERIFY(f.save(TagLib::MPEG::File::APE | TagLib::MPEG::File::ID3v1, TagLib::File::StripNone));
        }
        const bool named = genre >= 0 && genre <= 191;
        const TagLib::String genreName = named ? TagLib::ID3v1::genre(genre) : TagLib::String();

        QCOMPARE(write(file, fields, genre), 1);
        const QByteArray out = readAll(file);
        QCOMPARE(out.mid(id3v2Size(out), audio().size()), audio());

        const QByteArray v1 = out.right(128);
        QVERIFY(v1.startsWith("TAG"));
        QCOMPARE(v1.mid(3, 30), padded(v1Title, 30));
        QCOMPARE(v1.mid(93, 4), padded(fields[3].toLatin1(), 4));
        QCOMPARE(v1.mid(97, 30), padded(v1Comment, 30));
        QCOMPARE(int(quint8(v1[127])), named ? genre : 255);

        // ID3v2: one frame per field, none for an empty one; ISO-8859-1 only
        // for ASCII; TYER beside TDRC in 2.3.
        TagLib::MPEG::File f(QFile::encodeName(file).constData(), false);
        const bool v24 = start.startsWith("ID3\x04");
        QCOMPARE(f.ID3v2Tag()->header()->majorVersion(), v24 ? 4u : 3u);
        const char *ids[] = {"TIT2", "TPE1", "TALB", "TDRC", "TCON"};
        for (int i = 0; i < 5; ++i) {
            const TagLib::ID3v2::FrameList frames = f.ID3v2Tag()->frameList(ids[i]);
            const bool empty = i < 4 ? fields[i].isEmpty() : !named;
            QCOMPARE(frames.size(), empty ? 0u : 1u);
            if (empty || i == 4)
                continue;
            auto *frame = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame *>(frames.front());
            QVERIFY(frame && frame->toString() == tl(fields[i]));
            const bool ascii = fields[i].toLatin1() == fields[i].toUtf8();
            QCOMPARE(frame->textEncoding(), ascii ? TagLib::String::Latin1 : TagLib::String::UTF16);
        }
        QCOMPARE(out.contains("TYER"), !v24 && !fields[3].isEmpty());
        QVERIFY(f.ID3v2Tag()->comment() == tl(fields[4]));
        QVERIFY(f.ID3v2Tag()->genre() == genreName);
        if (ape) {
            const auto &items = f.APETag()->itemListMap();
            QVERIFY(f.APETag()->title() == tl(fields[0]) && items["YEAR"].toString() == tl(fields[3]));
            QVERIFY(items["REPLAYGAIN_TRACK_GAIN"].toString() == "-3.2 dB");
        }

        mp3lib::TagInfoWire back{};
        QCOMPARE(vbmp3_getFileTagInfo(QFile::encodeName(file).constData(), back), 1);
        const QStringList got{wireText(back.TrackName, 128), wireText(back.ArtistName, 128),
                              wireText(back.AlbumName, 128), wireText(back.Year, 5), wireText(back.Comment, 128)};
        for (int i = 0; i < 5; ++i)
            QCOMPARE(tags::TrimTagStr(got[i]), tags::TrimTagStr(fields[i]));
        QCOMPARE(back.GenreNo, named ? genre : 255);
    }

    // Files as other tools write them. An Update without edits leaves each
    // byte as it was; an edit of the title and the comment replaces those
    // frames only: every other frame (other comments, ID3v2.4-only frames in
    // ID3v2.3, frames of a chained tag, flagged frames) stays byte for byte,
    // and so do the fields not edited (a full date, a genre of its own).
    void keepsEveryOtherFrame_data()
    {
        QTest::addColumn<QByteArray>("tagBytes");     // the ID3v2 tag(s)
        QTest::addColumn<QByteArrayList>("kept");     // frames that must stay, as in the tag
        QTest::addColumn<QStringList>("before");      // title, artist, album, year, comment, genre
        const QByteArray jpn("\x93\xfa\x96\x7b\x8c\xea");   // CP932 in a Latin-1 frame
        const QByteArray cover = frame(3, "APIC", picture(200 * 1024));
        const QByteArrayList v23{
            frame(3, "TPE1", text("Singer")), frame(3, "TYER", text("2001")), frame(3, "TDAT", text("1205")),
            frame(3, "TCON", text("Vaporwave")), frame(3, "COMM", QByteArray("\0jpn\0", 5) + jpn),
            frame(3, "COMM", QByteArray("\0engiTunNORM\0 00000150 000001A0", 31)),
            frame(3, "COMM", QByteArray("\0engDesc\0described", 19)),
            frame(3, "RVAD", QByteArray("\x03\x10\x12\x34\x56\x78\0\0\0\0", 10)),
            frame(3, "RVA2", QByteArray("track\0\x01\xfb\x8c\0", 10)), frame(3, "TMOO", text("calm")),
            frame(3, "TSOP", text("Singer, The")), frame(3, "POPM", QByteArray("a@b\0\xc4", 5)),
            frame(3, "TPE2", QByteArray("\x01\xfe\xff\0B\0a\0n\0d", 11)), frame(3, "TPE3", text("Cond\0")),
            frame(3, "PRIV", QByteArray("owner\0\xff\xe0\xff\0\xff", 11)), frame(3, "TRCK", text("3/12")),
            cover};
        const QByteArray head23 = frame(3, "TIT2", text("old")) + frame(3, "COMM", QByteArray("\0eng\0old", 8));
        const QStringList before23{"old", "Singer", "", "2001", "old", "Vaporwave"};
        QTest::newRow("v2.3 as taggers write it") << tag(3, head23 + v23.join(), 1000) << v23 << before23;
        QTest::newRow("v2.3 without room") << tag(3, head23 + v23.join(), 0) << v23 << before23;
        QTest::newRow("v2.3 whole tag unsynchronised") << tag(3, head23 + v23.join(), 64, 0x80) << v23 << before23;
        const QByteArray crc("\0\0\0\x0a\x80\0\0\0\0\0\x12\x34\x56\x78", 14);
        QTest::newRow("v2.3 extended header with CRC")
            << tag(3, head23 + v23.join(), 100, 0x40, crc) << v23 << before23;
        QTest::newRow("v2.3 chained after a v2.3 tag")
            << tag(3, head23 + v23.mid(0, 6).join(), 0) + tag(3, v23.mid(6).join(), 30) << v23 << before23;

        const QByteArrayList v24{
            frame(4, "TPE1", QByteArray("\x03" "A\0B", 4)), frame(4, "TDRC", text("2001-05-12")),
            frame(4, "RVA2", QByteArray("track\0\x01\xfb\x8c\0", 10)),
            frame(4, "TCON", text("(17)")),
            frame(4, "TXXX", QByteArray("\0\0\0\x09\x03rg\0-3 dB", 13), 0x0001),   // length indicator
            frame(4, "PRIV", QByteArray("x\0data", 6), 0x4000),               // tag alter preservation
            frame(4, "APIC", picture(5000))};
        const QByteArray head24 = frame(4, "COMM", QByteArray("\x03" "eng\0old", 8)) + frame(4, "TIT2", text("old"));
        const QStringList before24{"old", "A B", "", "2001", "old", "Rock"};
        const QByteArray ext24("\0\0\0\x06\x01\0", 6);
        QTest::newRow("v2.4 extended header and footer")
            << tag(4, head24 + v24.join(), 0, 0x50, ext24) << v24 << before24;
        QTest::newRow("v2.4 every frame unsynchronised") << tag(4, head24 + v24.join(), 500, 0x80) << v24 << before24;

        const QByteArrayList v22{frame(2, "TP1", text("Singer")), frame(2, "TYE", text("1999")),
                                 frame(2, "PIC", QByteArray("\0JPG\x03\0", 6) + QByteArray(3000, 'p'))};
        QTest::newRow("v2.2") << tag(2, frame(2, "TT2", text("old")) + frame(2, "COM", QByteArray("\0eng\0old", 8))
                                            + v22.join(), 200)
                              << v22 << QStringList{"old", "Singer", "", "1999", "old", "Rock"};
    }

    void keepsEveryOtherFrame()
    {
        QFETCH(QByteArray, tagBytes);
        QFETCH(QByteArrayList, kept);
        QFETCH(QStringList, before);
        const QString file = path("tools.mp3");
        const QByteArray original = tagBytes + audio() + v1("v1 title", 4, 17);
        writeAll(file, original);
        const auto record = [&] {
            mp3lib::TagInfoWire wire{};
            vbmp3_getFileTagInfo(QFile::encodeName(file).constData(), wire);
            return wire;
        };
        mp3lib::TagInfoWire now = record();
        const QStringList read{wireText(now.TrackName, 128), wireText(now.ArtistName, 128),
                               wireText(now.AlbumName, 128), wireText(now.Year, 5), wireText(now.Comment, 128),
                               wireText(now.GenreName, 128)};
        QCOMPARE(read, before);

        // What the tag frame sends back unedited: the fields as shown.
        tags::TagInfo shown;
        shown.fromWire(now);
        const auto send = [&](const QString &title, const QString &comment) {
            tags::TagInfo t;
            t.TrackName = tags::fitFieldWithNul(title, tags::kTextWidth);
            t.ArtistName = tags::fitFieldWithNul(tags::TrimTagStr(shown.ArtistName), tags::kTextWidth);
            t.AlbumName = tags::fitFieldWithNul(tags::TrimTagStr(shown.AlbumName), tags::kTextWidth);
            t.Year = tags::fitFieldWithNul(tags::TrimTagStr(shown.Year).left(4), tags::kYearWidth);
            t.Comment = tags::fitFieldWithNul(comment, tags::kTextWidth);
            t.GenreNo = now.GenreNo;
            mp3lib::TagInfoWire wire = t.toWire();
            return vbmp3_setTagInfo(QFile::encodeName(file).constData(), wire, 0, 1);
        };
        QCOMPARE(send("old", "old"), 1);
        QCOMPARE(readAll(file), original);

        QCOMPARE(send("New title", "new comment"), 1);
        const QByteArray out = readAll(file);
        QByteArray written = out.left(id3v2Size(out));
        if (written[3] <= 3 && (written[5] & 0x80))
            written = undoUnsync(written);
        for (const QByteArray &raw : kept)
            QVERIFY2(written.contains(raw), raw.left(4).constData());
        QCOMPARE(out.mid(id3v2Size(out)).chopped(128), audio());
        QCOMPARE(out.right(128).mid(33, 64), original.right(128).mid(33, 64));   // artist, album, year
        QCOMPARE(out.right(2), original.right(2));                                  // track, genre
        const mp3lib::TagInfoWire after = record();
        QCOMPARE(wireText(after.TrackName, 128), QString("New title"));
        QCOMPARE(wireText(after.Comment, 128), QString("new comment"));
        QCOMPARE(wireText(after.ArtistName, 128), before[1]);
        QCOMPARE(after.GenreNo, now.GenreNo);
    }

    // Every failure: the result is 0, the file byte for byte as it was, and
    // nothing left beside it. The controls show the same set-up writes when
    // it may. Permissions are tried as an unprivileged user in a child.
    void failureLeavesFileAsItWas_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QByteArray>("bytes");   // empty: none, or a special file
        QTest::addColumn<bool>("written");
        auto row = [](const char *setup, const QByteArray &bytes, bool written = false) {
            QTest::newRow(setup) << QString(setup) << bytes << written;
        };
        for (const char *special : {"missing", "FIFO", "folder"})
            row(special, {});
        row("text file", QByteArray("just some text, not MPEG audio\n").repeated(200));
        row("ID3v2 size past the end", QByteArray("ID3\x03\0\0", 6) + syncsafe(1 << 20) + oldFile(0).mid(10));
        row("no audio after the tag", id3v2(3, frame(3, "TIT2", text("old")), 100) + QByteArray(5000, 'z'));
        row("read-only file", oldFile(0));
        row("read-only folder", oldFile(0));
        row("full disk", tightFileEndingNearPage());
        row("size limit: ID3v1 after a tag written in place", oldFile(800));
        row("control: unprivileged, writable", oldFile(0), true);
        row("no write bit for anyone, also for root", oldFile(0));
        row("APE footer claiming no size (TagLib's rewrite would take audio)",
            audio() + "APETAGEX" + QByteArray(22, '\0') + QByteArray("\0\x11", 2));
        row("chained tags of two versions", tag(3, frame(3, "TIT2", text("old")), 0)
                                                + tag(4, frame(4, "TPE1", text("S")), 0) + audio());
        row("control: read-only folder, one page changes", inPlaceFile(), true);
    }

    void failureLeavesFileAsItWas()
    {
        QFETCH(QString, setup);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, written);
        const QString folder = path("fail"), file = folder + "/song.mp3";
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        QDir(folder).removeRecursively();
        QVERIFY(QDir().mkpath(folder));
        const QByteArray folderName = QFile::encodeName(folder), fileName = QFile::encodeName(file);
        const bool asNobody = setup.contains("read-only") || setup.contains("unprivileged");
        QStringList helperArgs{file, "A title longer than the old"};   // past these two: through the helper
        if (setup == "full disk"
            && (::geteuid() != 0 || ::mount("tmpfs", folderName.constData(), "tmpfs", 0, "size=1m") != 0))
            QSKIP("mounting a small tmpfs needs root");
        const auto unmount = qScopeGuard([&] { ::umount2(folderName.constData(), MNT_DETACH); });
        if (setup == "FIFO")
            QCOMPARE(::mkfifo(fileName.constData(), 0644), 0);
        else if (setup == "folder")
            QVERIFY(QDir().mkdir(file));
        else if (!bytes.isEmpty())
            writeAll(file, bytes);
        if (setup.startsWith("no write bit"))
            ::chmod(fileName.constData(), 0444);
        if (setup.startsWith("size limit"))
            helperArgs << "--file-size-limit" << QString::number(bytes.size());
        if (asNobody) {
            ::chmod(QFile::encodeName(dir_.path()).constData(), 0755);
            ::chmod(folderName.constData(), setup.contains("folder") ? 0555 : 0777);
            (void)!::chown(fileName.constData(), 65534, 65534);
            ::chmod(fileName.constData(), setup == "read-only file" ? 0444 : 0644);
            helperArgs << "--as-nobody";
        }
        if (setup == "full disk") {
            // Room for a copy of the file as it is, not for one more page.
            const qint64 room = (bytes.size() + 4095) / 4096 * 4096;
            struct statvfs vfs {};
            ::statvfs(folderName.constData(), &vfs);
            writeAll(folder + "/filler", QByteArray(qint64(vfs.f_bavail) * vfs.f_frsize - room, '\0'));
            ::statvfs(folderName.constData(), &vfs);
            QCOMPARE(qint64(vfs.f_bavail) * vfs.f_frsize, room);
        }
        const QStringList entries = folderEntries(folder);

        const bool result = helperArgs.size() == 2 ? write(file, {helperArgs[1], "S", "", "", ""}) == 1
                                                   : runHelper(helperArgs) == 0;
        QCOMPARE(result, written);
        QCOMPARE(folderEntries(folder), entries);
        if (written)
            QCOMPARE(readTitle(file), helperArgs[1]);
        else if (!bytes.isEmpty())
            QCOMPARE(readAll(file), bytes);
    }

    // A rewrite through a link replaces the file behind it, keeping the
    // link, the file's mode and its owner.
    void rewriteThroughLinkKeepsLinkModeAndOwner()
    {
        QVERIFY(QDir().mkpath(path("real")) && QDir().mkpath(path("links")));
        const QByteArray real = QFile::encodeName(path("real/song.mp3"));
        writeAll(path("real/song.mp3"), audio());
        ::chmod(real.constData(), 0640);
        const uid_t owner = ::geteuid() == 0 ? 65534 : ::getuid();
        const gid_t group = ::geteuid() == 0 ? 65534 : ::getgid();
        QCOMPARE(::chown(real.constData(), owner, group), 0);
        QCOMPARE(::symlink("../real/song.mp3", QFile::encodeName(path("links/song.mp3")).constData()), 0);
        const ino_t before = inode(path("real/song.mp3"));

        QCOMPARE(write(path("links/song.mp3"), {"Linked", "", "", "", ""}), 1);
        QCOMPARE(QFile::symLinkTarget(path("links/song.mp3")), path("real/song.mp3"));
        struct stat st {};
        QCOMPARE(::stat(real.constData(), &st), 0);
        QVERIFY(st.st_ino != before);   // rewritten through a copy
        QVERIFY((st.st_mode & 07777) == 0640 && st.st_uid == owner && st.st_gid == group);
        QCOMPARE(folderEntries(path("real")), QStringList{"song.mp3"});
        QCOMPARE(readTitle(path("links/song.mp3")), "Linked");
    }

    // Hidden copies killed writes left behind go when the folder is read,
    // whatever their file's name, but not a copy whose writer still holds
    // its lock, nor names that only look alike.
    void leftoverCopiesRemovedWhenFolderIsRead()
    {
        const QString folder = path("left");
        QVERIFY(QDir().mkpath(folder));
        writeAll(folder + "/song.mp3", audio());
        const QStringList left{".song.mp3.dorvasu-Ab12Cd", ".gone.mp3.dorvasu-xY34zW",
                               "." + QString(200, 'n') + ".dorvasu-q1w2e3"};
        const QStringList others{".song.mp3.dorvasu-abc", "song.mp3.dorvasu-Ab12Cd", ".live.mp3.dorvasu-L1v3L1"};
        for (const QString &name : left + others)
            writeAll(folder + "/" + name, "half a copy");
        QFile live(folder + "/" + others.last());
        QVERIFY(live.open(QIODevice::ReadOnly) && ::flock(live.handle(), LOCK_EX) == 0);

        QCOMPARE(readTitle(folder + "/song.mp3"), QString("(unreadable)"));   // untagged: read all the same
        QStringList expected = others + QStringList{"song.mp3"};
        expected.sort();
        QCOMPARE(folderEntries(folder), expected);
    }

    // A writer killed on entry to any of its file-changing system calls, on
    // every route, leaves the old file or the new one, and nothing beside
    // it once the folder is read again.
    void killedAtEveryCallLeavesOldOrNew_data()
    {
        QTest::addColumn<QByteArray>("old");
        QTest::addColumn<bool>("inPlace");
        QByteArray crossing = tag(3, frame(3, "PRIV", QByteArray(65500, 'p')) + frame(3, "TIT2", text(QByteArray(60, 'o')))
                                          + frame(3, "APIC", picture(200 * 1024)), 4000)
                              + audio() + helperId3v1("A title longer than the old");
        QTest::newRow("in place: padding, 200 KB cover") << inPlaceFile() << true;
        QTest::newRow("in place: ID3v2.4") << inPlaceFile(4, 3000) << true;
        QTest::newRow("copy: text across 64 KB") << crossing << false;
        QTest::newRow("copy: no ID3v1") << tag(3, frame(3, "TIT2", text("old")), 500) + audio() << false;
        QTest::newRow("copy: tag outgrows its padding")
            << tag(3, frame(3, "TIT2", text("old")) + frame(3, "APIC", picture(200 * 1024)), 0) + audio() + v1()
            << false;
    }

    void killedAtEveryCallLeavesOldOrNew()
    {
        QFETCH(QByteArray, old);
        QFETCH(bool, inPlace);
        const QString folder = path("kill"), file = folder + "/song.mp3";
        const QString title = "A title longer than the old";
        QVERIFY(QDir().mkpath(folder));
        const QString calls = "write,pwrite64,copy_file_range,ftruncate,fsync,fdatasync,fchmod,fchown,"
                              "link,linkat,rename,renameat,renameat2,unlink,unlinkat";
        ino_t before = 0;
        const auto traced = [&](const QStringList &extra) {
            writeAll(file, old);
            before = inode(file);
            QProcess p;
            p.start("strace", QStringList{"-f", "-qq", "-e", "trace=" + calls} + extra
                                  + QStringList{helperPath(), file, title});
            p.waitForFinished(-1);
            return p.readAllStandardError();
        };
        // One run to count each call and to know the new file.
        const QByteArray log = traced({});
        const QByteArray fresh = readAll(file);
        QVERIFY(fresh != old && fresh.contains(title.toUtf8()));
        QCOMPARE(inode(file) == before, inPlace);
        QMap<QString, int> count;
        for (const QByteArray &line : log.split('\n')) {
            const QByteArray call = line.mid(line.indexOf(']') + 1).trimmed();
            if (call.contains('('))
                ++count[QString::fromLatin1(call.left(call.indexOf('(')))];
        }
        QVERIFY(count.value("pwrite64") + count.value("write") > 0);
        QCOMPARE(count.value("renameat") + count.value("rename") + count.value("renameat2") > 0, !inPlace);

        int oldSeen = 0, newSeen = 0;
        for (auto it = count.cbegin(); it != count.cend(); ++it) {
            for (int n = 1; n <= it.value(); ++n) {
                traced({"-e", QString("inject=%1:signal=SIGKILL:when=%2").arg(it.key()).arg(n)});
                const QByteArray now = readAll(file);
                const QString at = QString("%1 #%2").arg(it.key()).arg(n);
                QVERIFY2(now == old || now == fresh, qPrintable(at));
                (now == old ? oldSeen : newSeen)++;
                mp3lib::removeLeftoverCopies(QFile::encodeName(folder).constData());
                QVERIFY2(folderEntries(folder) == QStringList{"song.mp3"}, qPrintable(at));
            }
        }
        qInfo("%d kills: %d old files, %d new files", oldSeen + newSeen, oldSeen, newSeen);
    }
};

QTEST_GUILESS_MAIN(TestTagWrite)
#include "tst_tagwrite.moc"
