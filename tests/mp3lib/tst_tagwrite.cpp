// vbmp3_setTagInfo on real files: what lands in each tag, what must survive,
// and that a refused, failed or killed write leaves the file as it was.

#include "taginfo.h"
#include "testdata.h"
#include "vbmp3.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <taglib/apetag.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace testdata;

namespace {

QByteArray syncsafe(quint32 n)
{
    const char bytes[] = {char((n >> 21) & 127), char((n >> 14) & 127), char((n >> 7) & 127), char(n & 127)};
    return QByteArray(bytes, 4);
}

QByteArray frame(int version, const char *id, const QByteArray &payload)
{
    QByteArray size(4, '\0');
    qToBigEndian<quint32>(payload.size(), size.data());
    return id + (version == 4 ? syncsafe(payload.size()) : size) + QByteArray(2, '\0') + payload;
}

QByteArray text(const QByteArray &latin1) { return '\0' + latin1; }

QByteArray id3v2(int version, const QByteArray &frames, int padding)
{
    return "ID3" + QByteArray(1, char(version)) + QByteArray(2, '\0') + syncsafe(frames.size() + padding)
           + frames + QByteArray(padding, '\0');
}

int id3v2Size(const QByteArray &file)
{
    if (!file.startsWith("ID3"))
        return 0;
    const auto b = [&](int i) { return int(quint8(file[i])); };
    return 10 + (b(6) << 21 | b(7) << 14 | b(8) << 7 | b(9));
}

// An ID3v1 tag with empty fields; a track number makes it ID3v1.1.
QByteArray emptyId3v1(int track)
{
    return "TAG" + QByteArray(123, '\0') + char(track) + char(255);
}

QByteArray padded(QByteArray bytes, int width) { return bytes + QByteArray(width - bytes.size(), '\0'); }

mp3lib::TagInfoWire record(const QStringList &f, int genre)
{
    tags::TagInfo t;
    t.TrackName = tags::fitFieldWithNul(f[0], tags::kTextWidth);
    t.ArtistName = tags::fitFieldWithNul(f[1], tags::kTextWidth);
    t.AlbumName = tags::fitFieldWithNul(f[2], tags::kTextWidth);
    t.Year = tags::fitFieldWithNul(f[3], tags::kYearWidth);
    t.Comment = tags::fitFieldWithNul(f[4], tags::kTextWidth);
    t.GenreNo = genre;
    return t.toWire();
}

int write(const QString &path, const QStringList &fields, int genre = 17)
{
    mp3lib::TagInfoWire wire = record(fields, genre);
    return vbmp3_setTagInfo(QFile::encodeName(path).constData(), wire, 0, 1);
}

QString wireText(const char *field, int width) { return QString::fromUtf8(field, qstrnlen(field, width)); }

TagLib::String tl(const QString &s) { return TagLib::String(s.toUtf8().toStdString(), TagLib::String::UTF8); }

ino_t inode(const QString &path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_ino;
}

QByteArray audio() { return readAll(sample(kStereoMpeg1)); }

// A file whose ID3v2 tag has no padding, sized so that any growth of the
// tag needs one more 4 KB page. Its ID3v1 tag is overwritten where it is:
// only TagLib's rewrite of the file needs room.
QByteArray tightFileEndingNearPage()
{
    const QByteArray base = frame(3, "TIT2", text("old"));
    const QByteArray v1 = emptyId3v1(0);
    const int used = 10 + base.size() + 10 + audio().size() + v1.size();
    const int filler = 4000 - used % 4096 + (used % 4096 > 4000 ? 4096 : 0);
    return id3v2(3, base + frame(3, "PRIV", QByteArray(filler, 'x')), 0) + audio() + v1;
}

enum Start { Untagged, V23Room, V23Tight, V24, ApeAndV1 };

QByteArray startFile(Start start, const QString &scratch)
{
    switch (start) {
    case Untagged: return audio();
    case V23Room: return id3v2(3, frame(3, "TIT2", text("old")), 700) + audio();
    case V23Tight: return id3v2(3, frame(3, "TIT2", text("old")), 0) + audio();
    case V24: return id3v2(4, frame(4, "TIT2", text("old")), 0) + audio();
    case ApeAndV1: {
        writeAll(scratch, audio());
        {
            TagLib::MPEG::File f(QFile::encodeName(scratch).constData(), false);
            f.APETag(true)->setTitle("ape title");
            f.APETag()->addValue("REPLAYGAIN_TRACK_GAIN", "-3.2 dB");
            f.ID3v1Tag(true)->setTitle("v1 title");
            f.save(TagLib::MPEG::File::APE | TagLib::MPEG::File::ID3v1, TagLib::File::StripNone);
        }
        return readAll(scratch);
    }
    }
    return {};
}

QStringList folderEntries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

QString helperPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/tagwrite_helper");
}

// Runs the helper to completion; its exit status (0 written, 1 refused).
int runHelper(const QStringList &args)
{
    QProcess p;
    p.start(helperPath(), args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit)
        return -1;
    return p.exitCode();
}

bool isRoot() { return ::geteuid() == 0; }

} // namespace

class TestTagWrite : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString path(const QString &name) const { return dir_.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QVERIFY(vbmp3_init());
        QVERIFY(QFileInfo::exists(helperPath()));
    }

    void writesEveryTag_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QStringList>("fields");   // title, artist, album, year, comment
        QTest::addColumn<QByteArray>("v1Title");
        QTest::addColumn<bool>("inPlace");
        const QStringList japanese{"日本語", "歌手", "アルバム", "2005", "コメント"};
        const QByteArray japaneseV1("\x93\xfa\x96\x7b\x8c\xea");
        QTest::newRow("untagged, ASCII") << int(Untagged)
            << QStringList{"Title", "Artist", "Album", "1999", "Comment"} << QByteArray("Title") << false;
        QTest::newRow("untagged, Japanese") << int(Untagged) << japanese << japaneseV1 << false;
        QTest::newRow("v2.3 with room: in place") << int(V23Room) << japanese << japaneseV1 << true;
        QTest::newRow("v2.3 without room, Latin-1 letters") << int(V23Tight)
            << QStringList{"Café", "Björk", "Ça", "1999", "Noël"} << QByteArray("Caf\xe9") << false;
        QTest::newRow("v2.4 stays 2.4") << int(V24) << japanese << japaneseV1 << false;
        QTest::newRow("APE and ID3v1") << int(ApeAndV1)
            << QStringList{"T", "A", "Al", "2001", "C"} << QByteArray("T") << false;
        QTest::newRow("spaces kept") << int(Untagged)
            << QStringList{"  lead", "trail  ", " both ", " 98 ", "  "} << QByteArray("  lead") << false;
        QTest::newRow("year not a number") << int(V24)
            << QStringList{"T", "A", "Al", "abc", "C"} << QByteArray("T") << false;
        QTest::newRow("year empty") << int(V23Tight)
            << QStringList{"T", "A", "Al", "", "C"} << QByteArray("T") << false;
        QTest::newRow("everything empty") << int(Untagged)
            << QStringList{"", "", "", "", ""} << QByteArray() << false;
    }

    void writesEveryTag()
    {
        QFETCH(int, start);
        QFETCH(QStringList, fields);
        QFETCH(QByteArray, v1Title);
        QFETCH(bool, inPlace);
        const QString file = path("every.mp3");
        writeAll(file, startFile(Start(start), path("scratch.mp3")));
        const ino_t before = inode(file);
        const int genre = fields[0].isEmpty() ? 255 : 17;

        QCOMPARE(write(file, fields, genre), 1);
        QCOMPARE(inode(file) == before, inPlace);

        // The audio is where the tag ends, unchanged.
        const QByteArray out = readAll(file);
        QCOMPARE(out.mid(id3v2Size(out), audio().size()), audio());

        // ID3v1: legacy bytes, the year as typed.
        const QByteArray v1 = out.right(128);
        QVERIFY(v1.startsWith("TAG"));
        QCOMPARE(v1.mid(3, 30), padded(v1Title, 30));
        QCOMPARE(v1.mid(93, 4), padded(fields[3].toLatin1(), 4));
        QCOMPARE(quint8(v1[127]), quint8(genre));

        // ID3v2: one frame per field, none for an empty one; ISO-8859-1 only
        // for ASCII.
        TagLib::MPEG::File f(QFile::encodeName(file).constData(), false);
        const bool anyField = !fields.join(QString()).isEmpty();
        QCOMPARE(f.hasID3v2Tag(), anyField);
        if (anyField)
            QCOMPARE(f.ID3v2Tag()->header()->majorVersion(), start == V24 ? 4u : 3u);
        const char *ids[] = {"TIT2", "TPE1", "TALB", "TDRC"};
        for (int i = 0; i < 4; ++i) {
            const TagLib::ID3v2::FrameList frames = f.ID3v2Tag()->frameList(ids[i]);
            QCOMPARE(frames.size(), fields[i].isEmpty() ? 0u : 1u);
            if (frames.isEmpty())
                continue;
            auto *frame = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame *>(frames.front());
            QVERIFY(frame && frame->toString() == tl(fields[i]));
            const bool ascii = fields[i].toLatin1() == fields[i].toUtf8();
            QCOMPARE(frame->textEncoding(), ascii ? TagLib::String::Latin1 : TagLib::String::UTF16);
        }
        QVERIFY(out.contains("TYER") == (start != V24 && !fields[3].isEmpty()));
        QVERIFY(f.ID3v2Tag()->comment() == tl(fields[4]));
        QVERIFY(f.ID3v2Tag()->genre() == (genre == 17 ? "Rock" : ""));
        if (start == ApeAndV1) {
            QVERIFY(f.hasAPETag());
            const auto &items = f.APETag()->itemListMap();
            QVERIFY(f.APETag()->title() == tl(fields[0]) && f.APETag()->artist() == tl(fields[1]));
            QVERIFY(items["YEAR"].toString() == tl(fields[3]));
            QVERIFY(items["REPLAYGAIN_TRACK_GAIN"].toString() == "-3.2 dB");
        }

        // And as the program reads it back (through the reading rule).
        mp3lib::TagInfoWire back{};
        QCOMPARE(vbmp3_getFileTagInfo(QFile::encodeName(file).constData(), back), 1);
        QCOMPARE(tags::TrimTagStr(wireText(back.TrackName, 128)), tags::TrimTagStr(fields[0]));
        QCOMPARE(tags::TrimTagStr(wireText(back.ArtistName, 128)), tags::TrimTagStr(fields[1]));
        QCOMPARE(tags::TrimTagStr(wireText(back.AlbumName, 128)), tags::TrimTagStr(fields[2]));
        QCOMPARE(tags::TrimTagStr(wireText(back.Year, 5)), tags::TrimTagStr(fields[3]));
        QCOMPARE(tags::TrimTagStr(wireText(back.Comment, 128)), tags::TrimTagStr(fields[4]));
        QCOMPARE(back.GenreNo, genre);
    }

    void keepsOtherFrames_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("padding");
        QTest::newRow("v2.3, in place") << 3 << 1000;
        QTest::newRow("v2.3, rewritten") << 3 << 0;
        QTest::newRow("v2.4, in place") << 4 << 1000;
        QTest::newRow("v2.4, rewritten") << 4 << 0;
    }

    void keepsOtherFrames()
    {
        QFETCH(int, version);
        QFETCH(int, padding);
        QByteArray picture = "\x89PNG\r\n\x1a\n";
        for (int i = 0; i < 4096; ++i)
            picture += char(i * 7 % 256);
        QByteArrayList kept{
            frame(version, "APIC", QByteArray("\0image/png\0\x03\0", 13) + picture),
            frame(version, "USLT", QByteArray("\0eng\0", 5) + "words of the song"),
            frame(version, "TRCK", text("3/12")),
            frame(version, "PRIV", QByteArray("owner\0\x01\x02\xff", 9)),
            frame(version, "TXXX", text(QByteArray("REPLAYGAIN_TRACK_GAIN\0-6.50 dB", 30))),
            frame(version, "COMM", QByteArray("\0engiTunNORM\0 00000123 0000", 27)),
            // Legacy Japanese bytes in a frame marked ISO-8859-1 (CP932 "日本").
            frame(version, "TPE2", text("\x93\xfa\x96\x7b")),
        };
        if (version == 3) {
            kept << frame(3, "RVAD", QByteArray("\x03\x10\x12\x34\x56\x78\0\0\0\0", 10));
            kept << frame(3, "TSIZ", text("16718"));
        }
        const QString file = path("frames.mp3");
        writeAll(file, id3v2(version, frame(version, "TIT2", text("old")) + kept.join(), padding) + audio());
        const ino_t before = inode(file);

        QCOMPARE(write(file, {"New", "Singer", "Album", "2020", "Comment"}), 1);
        QCOMPARE(inode(file) == before, padding > 0);
        const QByteArray out = readAll(file);
        for (const QByteArray &raw : kept)
            QVERIFY2(out.contains(raw), raw.left(4).constData());
    }

    void legacyId3v1_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("comment");
        QTest::addColumn<int>("track");
        QTest::addColumn<QByteArray>("titleField");
        QTest::addColumn<QByteArray>("commentField");
        const QString kanji15 = QString("日本語").repeated(5);
        const QByteArray cp932x15 = QByteArray("\x93\xfa\x96\x7b\x8c\xea").repeated(5);
        QTest::newRow("30 bytes exactly") << kanji15 << "" << 0 << cp932x15 << QByteArray();
        QTest::newRow("cut before a split character") << "a" + kanji15 << "" << 0
            << "a" + cp932x15.left(28) << QByteArray();
        QTest::newRow("track byte kept, comment 28 bytes") << "t" << kanji15 << 7
            << QByteArray("t") << cp932x15.left(28);
    }

    void legacyId3v1()
    {
        QFETCH(QString, title);
        QFETCH(QString, comment);
        QFETCH(int, track);
        QFETCH(QByteArray, titleField);
        QFETCH(QByteArray, commentField);
        const QString file = path("v1.mp3");
        writeAll(file, audio() + (track ? emptyId3v1(track) : QByteArray()));

        QCOMPARE(write(file, {title, "", "", "", comment}), 1);
        const QByteArray out = readAll(file).right(128);
        QCOMPARE(out.mid(3, 30), padded(titleField, 30));
        QCOMPARE(out.mid(97, track ? 28 : 30), padded(commentField, track ? 28 : 30));
        if (track)
            QVERIFY(out[125] == 0 && out[126] == char(track));
    }

    void genre_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("v1Byte");
        const QString last = QString::fromStdString(TagLib::ID3v1::genre(191).to8Bit(true));
        QTest::newRow("0") << 0 << "Blues" << 0;
        QTest::newRow("last in the table") << 191 << last << 191;
        QTest::newRow("past the table") << 192 << "" << 255;
        QTest::newRow("negative") << -1 << "" << 255;
    }

    void genre()
    {
        QFETCH(int, number);
        QFETCH(QString, name);
        QFETCH(int, v1Byte);
        const QString file = path("genre.mp3");
        writeAll(file, id3v2(3, frame(3, "TCON", text("(12)")), 0) + audio());

        QCOMPARE(write(file, {"T", "", "", "", ""}, number), 1);
        QCOMPARE(int(quint8(readAll(file).right(1)[0])), v1Byte);
        TagLib::MPEG::File f(QFile::encodeName(file).constData(), false);
        QCOMPARE(f.ID3v2Tag()->frameList("TCON").size(), name.isEmpty() ? 0u : 1u);
        QVERIFY(f.ID3v2Tag()->genre() == tl(name));
    }

    // Every failure: the result is 0, the file byte for byte as it was, and
    // nothing left beside it. A few controls show that the same set-up
    // does write when it may.
    void failureLeavesFileAsItWas_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("written");
        for (const char *s : {"missing", "text file", "ID3v2 size past the end", "FIFO", "folder",
                              "no audio after the tag", "read-only file", "read-only folder",
                              "full disk: no room for the copy", "full disk: no room for the grown tag",
                              "size limit: grown tag", "size limit: ID3v1 in place"})
            QTest::newRow(s) << QString(s) << false;
        QTest::newRow("control: unprivileged, writable") << "writable" << true;
        QTest::newRow("control: read-only folder, tag fits") << "read-only folder, fits" << true;
    }

    void failureLeavesFileAsItWas()
    {
        QFETCH(QString, setup);
        QFETCH(bool, written);
        const QString folder = path("fail");
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        QDir(folder).removeRecursively();
        QVERIFY(QDir().mkpath(folder));
        const QString file = folder + "/song.mp3";
        const QByteArray folderName = QFile::encodeName(folder), fileName = QFile::encodeName(file);
        QByteArray bytes = id3v2(3, frame(3, "TIT2", text("old")), 0) + audio();
        QStringList helperArgs;   // non-empty: write through the helper

        if (setup == "missing" || setup == "FIFO" || setup == "folder") {
            bytes.clear();
        } else if (setup == "text file") {
            bytes = QByteArray("just some text, not MPEG audio\n").repeated(200);
        } else if (setup == "ID3v2 size past the end") {
            bytes = QByteArray("ID3\x03\0\0", 6) + syncsafe(1 << 20) + frame(3, "TIT2", text("old")) + audio();
        } else if (setup == "no audio after the tag") {
            bytes = id3v2(3, frame(3, "TIT2", text("old")), 100) + QByteArray(5000, 'z');
        } else if (setup.startsWith("full disk")) {
            if (!isRoot() || ::mount("tmpfs", folderName.constData(), "tmpfs", 0, "size=1m") != 0)
                QSKIP("mounting a small tmpfs needs root");
            bytes = tightFileEndingNearPage();
        } else if (setup.startsWith("size limit")) {
            bytes = setup.endsWith("in place") ? id3v2(3, frame(3, "TIT2", text("old")), 800) + audio()
                                               : tightFileEndingNearPage();
            helperArgs << "--file-size-limit" << QString::number(bytes.size());
        } else {
            // Unprivileged writers: the folder and file modes decide.
            ::chmod(QFile::encodeName(dir_.path()).constData(), 0755);
            const bool folderWritable = setup == "read-only file" || setup == "writable";
            ::chmod(folderName.constData(), folderWritable ? 0777 : 0555);
            if (setup.endsWith("fits"))
                bytes = id3v2(3, frame(3, "TIT2", text("old")), 800) + audio();
            helperArgs << "--as-nobody";
        }
        const auto unmount = qScopeGuard([&] { ::umount2(folderName.constData(), MNT_DETACH); });
        if (setup == "FIFO")
            QCOMPARE(::mkfifo(fileName.constData(), 0644), 0);
        else if (setup == "folder")
            QVERIFY(QDir().mkdir(file));
        else if (!bytes.isEmpty())
            writeAll(file, bytes);
        if (helperArgs.contains("--as-nobody")) {
            (void)!::chown(fileName.constData(), 65534, 65534);
            ::chmod(fileName.constData(), setup == "read-only file" ? 0444 : 0644);
        }
        if (setup.startsWith("full disk")) {
            // Fill the disk so that exactly this much room is left.
            const qint64 page = 4096, filePages = (bytes.size() + page - 1) / page;
            const qint64 room = setup.endsWith("copy") ? filePages / 2 * page : filePages * page;
            struct statvfs vfs {};
            ::statvfs(folderName.constData(), &vfs);
            writeAll(folder + "/filler", QByteArray(qint64(vfs.f_bavail) * vfs.f_frsize - room, '\0'));
            ::statvfs(folderName.constData(), &vfs);
            QCOMPARE(qint64(vfs.f_bavail) * vfs.f_frsize, room);
        }
        const QStringList entries = folderEntries(folder);

        const int result = helperArgs.isEmpty() ? write(file, {"A title longer than the old", "S", "", "", ""})
                                                : (runHelper(QStringList{file, "A title longer than the old"}
                                                             + helperArgs) == 0);
        QCOMPARE(result == 1, written);
        QCOMPARE(folderEntries(folder), entries);
        if (!written && !bytes.isEmpty())
            QCOMPARE(readAll(file), bytes);
        if (written) {
            mp3lib::TagInfoWire back{};
            QCOMPARE(vbmp3_getFileTagInfo(fileName.constData(), back), 1);
            QCOMPARE(wireText(back.TrackName, 128), QString("A title longer than the old"));
        }
    }

    void rewriteThroughLinkKeepsLinkModeAndOwner()
    {
        QVERIFY(QDir().mkpath(path("real")) && QDir().mkpath(path("links")));
        const QByteArray real = QFile::encodeName(path("real/song.mp3"));
        const QByteArray link = QFile::encodeName(path("links/song.mp3"));
        writeAll(path("real/song.mp3"), audio());
        ::chmod(real.constData(), 0640);
        const uid_t owner = isRoot() ? 65534 : ::getuid();
        const gid_t group = isRoot() ? 65534 : ::getgid();
        QCOMPARE(::chown(real.constData(), owner, group), 0);
        QCOMPARE(::symlink("../real/song.mp3", link.constData()), 0);
        const ino_t before = inode(path("real/song.mp3"));

        QCOMPARE(write(path("links/song.mp3"), {"Linked", "", "", "", ""}), 1);
        struct stat st {};
        QCOMPARE(::lstat(link.constData(), &st), 0);
        QVERIFY(S_ISLNK(st.st_mode));
        QCOMPARE(QFile::symLinkTarget(path("links/song.mp3")), path("real/song.mp3"));
        QCOMPARE(::stat(real.constData(), &st), 0);
        QVERIFY(st.st_ino != before);   // rewritten through a copy
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
        QVERIFY(st.st_uid == owner && st.st_gid == group);
        QCOMPARE(folderEntries(path("real")), QStringList{"song.mp3"});
        mp3lib::TagInfoWire back{};
        QCOMPARE(vbmp3_getFileTagInfo(link.constData(), back), 1);
        QCOMPARE(wireText(back.TrackName, 128), QString("Linked"));
    }

    // A killed write may leave its hidden copy; the next write of that file
    // removes it, and nothing else.
    void leftCopiesRemovedByNextWrite()
    {
        const QString folder = path("left");
        QVERIFY(QDir().mkpath(folder));
        const QString longName = QString(240, 'n') + ".mp3";
        writeAll(folder + "/song.mp3", audio());
        writeAll(folder + "/" + longName, audio());
        const QStringList others{".song.mp3.dorvasu-abc", ".other.mp3.dorvasu-Ab12Cd", "song.mp3.dorvasu-Ab12Cd"};
        for (const QString &name : others + QStringList{".song.mp3.dorvasu-Ab12Cd"})
            writeAll(folder + "/" + name, "half a copy");

        QCOMPARE(write(folder + "/song.mp3", {"T", "", "", "", ""}), 1);
        QCOMPARE(write(folder + "/" + longName, {"Long", "", "", "", ""}), 1);
        QStringList expected = others + QStringList{"song.mp3", longName};
        expected.sort();
        QStringList entries = folderEntries(folder);
        entries.sort();
        QCOMPARE(entries, expected);
    }

    // Killed at any moment, a write that rewrites a file of several MB leaves
    // either the old file or the new one, never anything in between.
    void killedWriteLeavesOldOrNewFile()
    {
        const QByteArray noise = readAll(sample(kNoise3s));
        const QByteArray old = id3v2(3, frame(3, "TIT2", text("old")) + frame(3, "APIC",
                                     QByteArray("\0image/jpeg\0\x03\0", 14) + QByteArray(65536, '\xff')), 0)
                               + noise.repeated(35);
        const QString title = "A new title that does not fit";
        const QString folder = path("kill"), file = folder + "/big.mp3";
        QVERIFY(QDir().mkpath(folder));

        // The finished result, and how long the write takes.
        qint64 longest = 0;
        QByteArray fresh;
        for (int i = 0; i < 3; ++i) {
            writeAll(file, old);
            QProcess p;
            p.start(helperPath(), {file, title});
            QVERIFY(p.waitForFinished(-1) && p.exitCode() == 0);
            longest = qMax(longest, p.readAllStandardOutput().split('\n').value(1).toLongLong());
            fresh = readAll(file);
        }
        QVERIFY(fresh != old);

        int oldSeen = 0, newSeen = 0, copiesLeft = 0;
        for (int trial = 0; trial < 40; ++trial) {
            writeAll(file, old);
            QProcess p;
            p.start(helperPath(), {file, title});
            QVERIFY(p.waitForReadyRead(-1));   // "go": the write starts now
            QThread::usleep(QRandomGenerator::global()->bounded(longest * 6 / 5 + 1));
            p.kill();
            p.waitForFinished(-1);

            const QByteArray now = readAll(file);
            QVERIFY2(now == old || now == fresh, qPrintable(QString("trial %1").arg(trial)));
            (now == old ? oldSeen : newSeen)++;
            const int left = folderEntries(folder).size() - 1;
            QVERIFY(left <= 1);
            copiesLeft += left;
            mp3lib::TagInfoWire back{};
            QCOMPARE(vbmp3_getFileTagInfo(QFile::encodeName(file).constData(), back), 1);
            QCOMPARE(wireText(back.TrackName, 128), now == old ? QString("old") : title);
        }
        qInfo("40 kills: %d old files, %d new files, %d copies left behind (write takes %lld us)",
              oldSeen, newSeen, copiesLeft, longest);
        QCOMPARE(runHelper({file, title}), 0);
        QCOMPARE(folderEntries(folder), QStringList{"big.mp3"});
    }
};

QTEST_GUILESS_MAIN(TestTagWrite)
#include "tst_tagwrite.moc"
