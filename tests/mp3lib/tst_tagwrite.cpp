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

#include <taglib/apetag.h>
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

QByteArray be32(quint32 n) { return QByteArray(1, char(n >> 24)) + char(n >> 16) + char(n >> 8) + char(n); }

QByteArray syncsafe(quint32 n)
{
    return be32((n & 0x7F) | (n << 1 & 0x7F00) | (n << 2 & 0x7F0000) | (n << 3 & 0x7F000000));
}

QByteArray frame(int version, const char *id, const QByteArray &payload)
{
    return id + (version == 4 ? syncsafe(payload.size()) : be32(payload.size())) + QByteArray(2, '\0') + payload;
}

QByteArray text(const QByteArray &latin1) { return '\0' + latin1; }

QByteArray id3v2(int version, const QByteArray &frames, int padding)
{
    return "ID3" + QByteArray(1, char(version)) + QByteArray(2, '\0') + syncsafe(frames.size() + padding)
           + frames + QByteArray(padding, '\0');
}

QByteArray audio() { return readAll(sample(kStereoMpeg1)); }

// A file with an ID3v2.3 title "old", a genre and `padding` bytes of room.
QByteArray oldFile(int padding)
{
    return id3v2(3, frame(3, "TIT2", text("old")) + frame(3, "TCON", text("(12)")), padding) + audio();
}

int id3v2Size(const QByteArray &file)
{
    const auto b = [&](int i) { return int(quint8(file[i])); };
    return file.startsWith("ID3") ? 10 + (b(6) << 21 | b(7) << 14 | b(8) << 7 | b(9)) : 0;
}

// An ID3v1 tag with empty fields; a track number makes it ID3v1.1.
QByteArray emptyId3v1(int track) { return "TAG" + QByteArray(123, '\0') + char(track) + char(255); }

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
        QTest::newRow("v2.3 with room: in place; ID3v1 cut before a split character")
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
        QTest::newRow("everything empty: no ID3v2") << audio() << QStringList{"", "", "", "", ""} << 255
                                                    << QByteArray() << QByteArray();
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
        const ino_t before = inode(file);
        const bool named = genre >= 0 && genre <= 191;
        const TagLib::String genreName = named ? TagLib::ID3v1::genre(genre) : TagLib::String();

        QCOMPARE(write(file, fields, genre), 1);
        QCOMPARE(inode(file) == before, id3v2Size(start) > 200);
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
        QCOMPARE(f.hasID3v2Tag(), !fields.join(QString()).isEmpty());
        if (f.hasID3v2Tag())
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

    // Frames the write does not own stay byte for byte, in place or
    // rewritten: also RVAD and TSIZ, which TagLib drops, and ISO-8859-1
    // frames holding CP932, which the legacy handler would re-encode.
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
            frame(version, "COMM", QByteArray("\0engiTunNORM\0 00000123 0000", 27)),
            frame(version, "TPE2", text("\x93\xfa\x96\x7b")),
        };
        if (version == 3)
            kept << frame(3, "RVAD", QByteArray("\x03\x10\x12\x34\x56\x78\0\0\0\0", 10))
                 << frame(3, "TSIZ", text("16718"));
        const QString file = path("frames.mp3");
        writeAll(file, id3v2(version, frame(version, "TIT2", text("old")) + kept.join(), padding) + audio());
        const ino_t before = inode(file);

        QCOMPARE(write(file, {"New", "Singer", "Album", "2020", "Comment"}), 1);
        QCOMPARE(inode(file) == before, padding > 0);
        const QByteArray out = readAll(file);
        for (const QByteArray &raw : kept)
            QVERIFY2(out.contains(raw), raw.left(4).constData());
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
        row("control: read-only folder, tag fits", oldFile(800), true);
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

    // A killed write may leave its hidden copy; the next write of that file
    // removes it, and nothing else, also for a name near the length limit.
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
        QCOMPARE(folderEntries(folder), expected);
    }

    // Killed at any moment, a write that rewrites a file of several MB leaves
    // either the old file or the new one, never anything in between.
    void killedWriteLeavesOldOrNewFile()
    {
        const QByteArray old = id3v2(3, frame(3, "TIT2", text("old")) + frame(3, "APIC",
                                     QByteArray("\0image/jpeg\0\x03\0", 14) + QByteArray(65536, '\xff')), 0)
                               + readAll(sample(kNoise3s)).repeated(35);
        const QString title = "A new title that does not fit";
        const QString folder = path("kill"), file = folder + "/big.mp3";
        QVERIFY(QDir().mkpath(folder));

        // The finished result, and how long the write takes (to spread the kills).
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

        int oldSeen = 0;
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
            oldSeen += now == old;
            QVERIFY(folderEntries(folder).size() <= 2);   // at most a hidden copy beside it
            QCOMPARE(readTitle(file), now == old ? QString("old") : title);
        }
        qInfo("40 kills: %d old files, %d new files", oldSeen, 40 - oldSeen);
        QCOMPARE(runHelper({file, title}), 0);
        QCOMPARE(folderEntries(folder), QStringList{"big.mp3"});
    }
};

QTEST_GUILESS_MAIN(TestTagWrite)
#include "tst_tagwrite.moc"
