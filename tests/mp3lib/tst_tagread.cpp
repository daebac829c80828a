// Reading tags through vbmp3_getFileTagInfo, with real TagLib on real files:
// the committed samples, tagged here by TagLib or with raw bytes where the
// case is about the bytes (legacy text, hostile tags).

#include "fileaccess.h"
#include "testdata.h"
#include "textcodec.h"
#include "vbmp3.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <taglib/apetag.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using mp3lib::TagInfoWire;
using namespace mp3lib::detail;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QByteArray be32(quint32 n)
{
    return bytes({int(n >> 24), int(n >> 16), int(n >> 8), int(n)});
}

QByteArray le32(quint32 n)
{
    return bytes({int(n), int(n >> 8), int(n >> 16), int(n >> 24)});
}

QByteArray syncsafe(quint32 n)
{
    return bytes({int((n >> 21) & 0x7F), int((n >> 14) & 0x7F), int((n >> 7) & 0x7F), int(n & 0x7F)});
}

// An APEv2 footer (no header, no items) declaring `size` bytes.
QByteArray apeFooter(quint32 size)
{
    return "APETAGEX" + le32(2000) + le32(size) + le32(0) + le32(0) + QByteArray(8, '\0');
}

// A frame of an ID3v2.`major` tag; 2.4 sizes are syncsafe.
QByteArray frame(int major, const char *id, const QByteArray &body, quint16 flags = 0)
{
    if (major == 2)
        return QByteArray(id, 3) + be32(quint32(body.size())).mid(1) + body;
    return QByteArray(id, 4) + (major == 4 ? syncsafe(quint32(body.size())) : be32(quint32(body.size())))
        + char(flags >> 8) + char(flags & 0xFF) + body;
}

// A text frame declaring ISO-8859-1 (encoding byte 0) holding `bytes`.
QByteArray latin1Frame(int major, const char *id, const QByteArray &bytes)
{
    return frame(major, id, QByteArray(1, '\0') + bytes);
}

QByteArray id3v2(int major, const QByteArray &frames, quint8 flags = 0, int padding = 64)
{
    const QByteArray body = frames + QByteArray(padding, '\0');
    return "ID3" + bytes({major, 0, flags}) + syncsafe(quint32(body.size())) + body;
}

QByteArray pad(QByteArray bytes, int width)
{
    bytes.truncate(width);
    return bytes + QByteArray(width - bytes.size(), '\0');
}

QByteArray id3v1(const QByteArray &title, const QByteArray &artist = {}, const QByteArray &comment = {},
                 int track = 0, int genre = 255)
{
    QByteArray c = track ? pad(comment, 28) + '\0' + char(track) : pad(comment, 30);
    return "TAG" + pad(title, 30) + pad(artist, 30) + pad("Album1", 30) + "1999" + c + char(genre);
}

QByteArray audio()
{
    return testdata::readAll(testdata::sample(testdata::kStereoMpeg1));
}

QString text(const char *field, int width)
{
    return wireText(field, width);
}

// A record full of 'x': what a failed read must leave alone.
TagInfoWire marked()
{
    TagInfoWire w;
    std::memset(&w, 'x', sizeof w);
    return w;
}

} // namespace

class TestTagRead : public QObject {
    Q_OBJECT

    QTemporaryDir tmp;
    int counter = 0;

    QString path(const QString &name = {})
    {
        return tmp.filePath(name.isEmpty() ? QStringLiteral("f%1.mp3").arg(++counter) : name);
    }

    QString write(const QByteArray &bytes)
    {
        const QString p = path();
        testdata::writeAll(p, bytes);
        return p;
    }

    static bool read(const QString &p, TagInfoWire &w)
    {
        return vbmp3_getFileTagInfo(QFile::encodeName(p).constData(), w) != 0;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        QCOMPARE(vbmp3_init(), 1);
    }

    void legacyText_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("comment");

        const QByteArray cp932 = "\x81\x60\x87\x40\xFB\xFC";   // ～①髙, Microsoft's mapping
        const QString japanese = QString::fromUtf8("～①髙");
        const QByteArray a = audio();
        QTest::newRow("ID3v1 CP932") << a + id3v1(cp932, {}, cp932) << japanese << japanese;
        QTest::newRow("ID3v1 CP932, comment beside a track number")
            << a + id3v1("t", {}, cp932, 7) << "t" << japanese;
        QTest::newRow("ID3v1 UTF-8") << a + id3v1("日本語", {}, "é") << QString::fromUtf8("日本語")
                                     << QString::fromUtf8("é");
        QTest::newRow("ID3v1 ISO-8859-1") << a + id3v1("Caf\xE9", {}, "Bj\xF6rk")
                                          << QString::fromUtf8("Café") << QString::fromUtf8("Björk");
        QTest::newRow("ID3v2.3 ISO-8859-1 frames holding CP932")
            << id3v2(3, latin1Frame(3, "TIT2", cp932) + frame(3, "COMM", QByteArray("\0jpn\0", 5) + cp932)) + a
            << japanese << japanese;
        QTest::newRow("ID3v2.3 true ISO-8859-1")
            << id3v2(3, latin1Frame(3, "TIT2", "Caf\xE9")) + a << QString::fromUtf8("Café") << QString();
        QTest::newRow("ID3v2.4 UTF-8 frame")
            << id3v2(4, frame(4, "TIT2", "\x03" + QByteArray("髙橋"))) + a << QString::fromUtf8("髙橋") << QString();
    }

    void legacyText()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, title);
        QFETCH(QString, comment);
        TagInfoWire w = marked();
        QVERIFY(read(write(file), w));
        QCOMPARE(text(w.TrackName, 128), title);
        QCOMPARE(text(w.Comment, 128), comment);
    }

    // ID3v2 gives each field it has (not blank); ID3v1 fills in the rest.
    void id3v2BeforeId3v1()
    {
        const QString p = testdata::copySample(tmp.path(), testdata::kStereoMpeg1, "both.mp3");
        {
            TagLib::MPEG::File f(QFile::encodeName(p).constData());
            TagLib::ID3v2::Tag *v2 = f.ID3v2Tag(true);
            v2->setTitle("V2 title");
            v2->setArtist("   ");
            v2->setComment("V2 comment");
            TagLib::ID3v1::Tag *v1 = f.ID3v1Tag(true);
            v1->setTitle("V1 title");
            v1->setArtist("V1 artist");
            v1->setAlbum("V1 album");
            v1->setYear(1987);
            v1->setComment("V1 comment");
            v1->setGenre("Jazz");
            QVERIFY(f.save(TagLib::MPEG::File::ID3v1 | TagLib::MPEG::File::ID3v2));
        }
        TagInfoWire w = marked();
        QVERIFY(read(p, w));
        QCOMPARE(text(w.TrackName, 128), "V2 title");
        QCOMPARE(text(w.ArtistName, 128), "V1 artist");
        QCOMPARE(text(w.AlbumName, 128), "V1 album");
        QCOMPARE(text(w.Year, 5), "1987");
        QCOMPARE(text(w.Comment, 128), "V2 comment");
        QCOMPARE(w.GenreNo, 8);
        QCOMPARE(text(w.GenreName, 128), "Jazz");
        QCOMPARE(QByteArray(w.Padding, 3), QByteArray(3, '\0'));

        // The record is reused by the caller: a file with less must not
        // leave the previous file's fields behind.
        QVERIFY(read(write(audio() + id3v1("Only")), w));
        QCOMPARE(text(w.TrackName, 128), "Only");
        QCOMPARE(text(w.ArtistName, 128), QString());
        QCOMPARE(text(w.Comment, 128), QString());
        QCOMPARE(w.GenreNo, 255);
        QCOMPARE(text(w.GenreName, 128), QString());
    }

    void genre_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("name");

        const QByteArray a = audio();
        auto tcon = [&](const QByteArray &t, int major = 3) {
            return id3v2(major, latin1Frame(major, "TIT2", "x") + latin1Frame(major, "TCON", t)) + a;
        };
        QTest::newRow("name in the table") << tcon("Rock") << 17 << "Rock";
        QTest::newRow("name, other case") << tcon("rock") << 17 << "rock";
        QTest::newRow("(17)") << tcon("(17)") << 17 << "Rock";
        QTest::newRow("17") << tcon("17") << 17 << "Rock";
        QTest::newRow("(17)Rock") << tcon("(17)Rock") << 17 << "Rock";
        QTest::newRow("unknown name") << tcon("Chiptune") << 255 << "Chiptune";
        QTest::newRow("(200), a number without a name") << tcon("(200)") << 255 << "";
        QTest::newRow("2.4 200") << tcon("200", 4) << 255 << "";
        QTest::newRow("2.4 list: first entry") << tcon(QByteArray("Pop\0Rock", 8), 4) << 13 << "Pop";
        QTest::newRow("2.2 TCO") << id3v2(2, latin1Frame(2, "TCO", "Blues")) + a << 0 << "Blues";
        QTest::newRow("ID3v1 byte when ID3v2 has none")
            << id3v2(3, latin1Frame(3, "TIT2", "x")) + a + id3v1("y", {}, {}, 0, 17) << 17 << "Rock";
        QTest::newRow("ID3v2 genre over ID3v1's") << tcon("Pop") + id3v1("y", {}, {}, 0, 17) << 13 << "Pop";
        QTest::newRow("no genre anywhere") << a + id3v1("y") << 255 << "";
    }

    void genre()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, number);
        QFETCH(QString, name);
        TagInfoWire w = marked();
        QVERIFY(read(write(file), w));
        QCOMPARE(w.GenreNo, number);
        QCOMPARE(text(w.GenreName, 128), name);
    }

    void year_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("year");
        const QByteArray a = audio();
        QTest::newRow("2.3 TYER") << id3v2(3, latin1Frame(3, "TYER", "2001")) + a << "2001";
        QTest::newRow("2.3 TYER, not a number") << id3v2(3, latin1Frame(3, "TYER", "197?")) + a << "197?";
        QTest::newRow("2.4 TDRC date") << id3v2(4, latin1Frame(4, "TDRC", "2004-05-06T07:08")) + a << "2004";
        QTest::newRow("ID3v1") << a + id3v1("t") << "1999";
    }

    void year()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, year);
        TagInfoWire w = marked();
        QVERIFY(read(write(file), w));
        QCOMPARE(text(w.Year, 5), year);
    }

    // Unusual but sound files: read like any other.
    void unusualShapes_data()
    {
        QTest::addColumn<QByteArray>("file");
        const QByteArray a = audio();
        const QByteArray title = latin1Frame(3, "TIT2", "Title");
        QTest::newRow("junk between tag and audio") << id3v2(3, title) + QByteArray(3000, '\x55') + a;
        QTest::newRow("two stacked tags") << id3v2(3, title) + id3v2(3, latin1Frame(3, "TALB", "x")) + a;
        QTest::newRow("ID3v2.2") << id3v2(2, latin1Frame(2, "TT2", "Title")) + a;
        QTest::newRow("2.4 extended header")
            << id3v2(4, syncsafe(6) + bytes({1, 0}) + latin1Frame(4, "TIT2", "Title"), 0x40) + a;
        QTest::newRow("2.3 whole-tag unsynchronisation")
            << id3v2(3, QByteArray("TIT2") + be32(7) + QByteArray(3, '\0') + QByteArray("Ti\xFF\0tle", 7), 0x80)
                   + a;
        QTest::newRow("2.4 footer")
            << id3v2(4, latin1Frame(4, "TIT2", "Title"), 0x10, 0) + "3DI" + QByteArray(7, '\0') + a;
        QTest::newRow("2.3 compressed frame")
            << id3v2(3, frame(3, "TIT2", be32(6) + qCompress(QByteArray("\0Title", 6)).mid(4), 0x0080)) + a;
        QTest::newRow("2.4 compressed frame with length")
            << id3v2(4, frame(4, "TIT2", syncsafe(6) + qCompress(QByteArray("\0Title", 6)).mid(4), 0x0009)) + a;
        QTest::newRow("chapter with an embedded title")
            << id3v2(3, title + frame(3, "CHAP", QByteArray("ch1\0", 4) + QByteArray(16, '\0')
                                                    + latin1Frame(3, "TIT2", "Chapter one"))) + a;
        QTest::newRow("thousands of frames") << id3v2(3, title + latin1Frame(3, "TXXX", "x").repeated(5000)) + a;
        QTest::newRow("ID3v1 and an empty APE tag after the audio")
            << id3v2(3, title) + a + apeFooter(32) + id3v1("v1");
    }

    void unusualShapes()
    {
        QFETCH(QByteArray, file);
        const QString p = write(file);
        TagInfoWire w = marked();
        QVERIFY(read(p, w));
        QVERIFY2(text(w.TrackName, 128).startsWith("Ti"), qPrintable(text(w.TrackName, 128)));
        QCOMPARE(testdata::readAll(p), file);
    }

    void apeOnly()
    {
        const QString p = testdata::copySample(tmp.path(), testdata::kStereoMpeg1, "ape.mp3");
        {
            TagLib::MPEG::File f(QFile::encodeName(p).constData());
            f.APETag(true)->setTitle("Ape title");
            f.APETag()->setGenre("Rock");
            QVERIFY(f.save(TagLib::MPEG::File::APE, TagLib::File::StripNone));
        }
        TagInfoWire w = marked();
        QVERIFY(read(p, w));
        QCOMPARE(text(w.TrackName, 128), "Ape title");
        QCOMPARE(w.GenreNo, 17);
    }

    // Each of these reads as failure, at once, leaving record and file alone.
    void failures_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("file");   // empty: made by the test
        QTest::addColumn<bool>("unsafeTag");    // the ID3v2 guard itself refuses it

        const QByteArray a = audio();
        const QByteArray title = latin1Frame(3, "TIT2", "Title");
        const QByteArray stamp = "ID3" + bytes({3, 0, 0}) + syncsafe(1 << 20);   // declares 1 MB
        auto compressed = [](int major, const char *id, const QByteArray &declared, const QByteArray &data) {
            return frame(major, id, declared + qCompress(data, 9).mid(4), major == 3 ? 0x0080 : 0x0009);
        };
        QTest::newRow("missing") << "missing.mp3" << QByteArray() << false;
        QTest::newRow("folder") << "folder.mp3" << QByteArray() << false;
        QTest::newRow("FIFO") << "fifo.mp3" << QByteArray() << false;
        QTest::newRow("link to /dev/zero") << "zero.mp3" << QByteArray() << false;
        QTest::newRow("empty file") << "empty.mp3" << QByteArray() << false;
        QTest::newRow("text with an ID3v1 tag") << "" << QByteArray("hello\n").repeated(500) + id3v1("t") << false;
        QTest::newRow("untagged audio") << "" << a << false;
        QTest::newRow("tag only, no audio") << "" << id3v2(3, title) + id3v1("t") << false;
        QTest::newRow("tag size past the end") << "" << stamp + title + a << true;
        QTest::newRow("stacked tag past the end") << "" << id3v2(3, title) + stamp + a << true;
        QTest::newRow("compressed frame declaring 2 GB")
            << "" << id3v2(3, title + compressed(3, "APIC", be32(0x7FFFFFFF), "x")) + a << true;
        QTest::newRow("compressed frame inflating to 40 MB")
            << "" << id3v2(3, title + compressed(3, "PRIV", be32(100), QByteArray(40 << 20, '\0'))) + a << true;
        QTest::newRow("compressed text frame inflating to 4 MB")
            << "" << id3v2(4, title + compressed(4, "TXXX", syncsafe(100), QByteArray(4 << 20, 'a'))) + a << true;
        QTest::newRow("many tiny frames") << "" << id3v2(3, latin1Frame(3, "TXXX", "").repeated(12000)) + a << true;
        QTest::newRow("frame past the tag end")
            << "" << id3v2(3, title + QByteArray("TALB") + be32(5000) + QByteArray(2, '\0') + QByteArray(100, 'x'), 0, 0)
                   + a << true;
        const QByteArray chapterHead = QByteArray("c\0", 2) + QByteArray(16, '\0');
        QTest::newRow("chapter inside a chapter")
            << "" << id3v2(3, frame(3, "CHAP", chapterHead + frame(3, "CHAP", chapterHead + title))) + a << true;
        QTest::newRow("APE tag claiming the whole file") << "" << id3v2(3, title) + a + apeFooter(1 << 20) << false;
        QTest::newRow("audio only after 64 KB of junk")
            << "" << id3v2(3, title) + QByteArray(70 * 1024, '\x55') + a << false;
    }

    void failures()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, file);
        QFETCH(bool, unsafeTag);
        QString p;
        if (name.isEmpty()) {
            p = write(file);
        } else {
            p = path(name);
            if (name == "folder.mp3")
                QVERIFY(QDir().mkpath(p));
            else if (name == "fifo.mp3")
                QCOMPARE(::mkfifo(QFile::encodeName(p).constData(), 0600), 0);
            else if (name == "zero.mp3")
                QVERIFY(QFile::link("/dev/zero", p));
            else if (name == "empty.mp3")
                testdata::writeAll(p, {});
        }
        TagInfoWire w = marked();
        const TagInfoWire before = w;
        QVERIFY(!read(p, w));
        QVERIFY(std::memcmp(&w, &before, sizeof w) == 0);
        if (!file.isEmpty())
            QCOMPARE(testdata::readAll(p), file);
        if (unsafeTag) {
            const Fd fd = openRegularFile(QFile::encodeName(p).constData(), O_RDONLY);
            QVERIFY(!id3v2IsSafe(fd.get()));
        }
    }

    // Several threads reading different files at once get what one thread
    // reading them in turn gets.
    void concurrentReads()
    {
        const QByteArray a = audio();
        QStringList files;
        for (int i = 0; i < 8; ++i) {
            const QByteArray t = "Title " + QByteArray::number(i);
            files << write(i % 2 ? id3v2(3, latin1Frame(3, "TIT2", t)) + a
                                 : a + id3v1(t + "\x81\x60", {}, "\x87\x40"));
        }
        QList<QByteArray> expected;
        for (const QString &f : files) {
            TagInfoWire w = marked();
            QVERIFY(read(f, w));
            expected << QByteArray(reinterpret_cast<const char *>(&w), sizeof w);
        }
        std::atomic<int> mismatches{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (int round = 0; round < 50; ++round) {
                    const int i = (round + t) % files.size();
                    TagInfoWire w = marked();
                    if (!read(files[i], w)
                        || QByteArray(reinterpret_cast<const char *>(&w), sizeof w) != expected[i])
                        ++mismatches;
                }
            });
        }
        for (std::thread &th : threads)
            th.join();
        QCOMPARE(mismatches.load(), 0);
    }

    void getGenre_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("named");
        QTest::addColumn<QString>("name");
        QTest::newRow("0") << 0 << true << "Blues";
        QTest::newRow("17") << 17 << true << "Rock";
        QTest::newRow("191, the last") << 191 << true << QString();
        QTest::newRow("192") << 192 << false << QString();
        QTest::newRow("255") << 255 << false << QString();
        QTest::newRow("-1") << -1 << false << QString();
        QTest::newRow("100000") << 100000 << false << QString();
    }

    void getGenre()
    {
        QFETCH(int, number);
        QFETCH(bool, named);
        QFETCH(QString, name);
        TagInfoWire w = marked();
        w.GenreNo = number;
        vbmp3_getGenre(w);
        const QString got = text(w.GenreName, 128);
        QCOMPARE(!got.isEmpty(), named);
        if (!name.isEmpty())
            QCOMPARE(got, name);
        // The name field is cleared to its end; nothing else is touched.
        QCOMPARE(QByteArray(w.GenreName + got.toUtf8().size(), 128 - got.toUtf8().size()),
                 QByteArray(128 - got.toUtf8().size(), '\0'));
        TagInfoWire expected = marked();
        expected.GenreNo = number;
        std::memcpy(expected.GenreName, w.GenreName, 128);
        QVERIFY(std::memcmp(&w, &expected, sizeof w) == 0);

        mp3lib::setEmptyGenreTableForTesting(true);
        vbmp3_getGenre(w);
        mp3lib::setEmptyGenreTableForTesting(false);
        QCOMPARE(w.GenreName[0], '\0');
    }

    void initFailureHook()
    {
        mp3lib::setInitFailureForTesting(true);
        QCOMPARE(vbmp3_init(), 0);
        mp3lib::setInitFailureForTesting(false);
        QCOMPARE(vbmp3_init(), 1);
        QVERIFY(vbmp3_free() != 0);
    }

    void decodeLegacy_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ASCII") << QByteArray("AC/DC ~\\") << "AC/DC ~\\";
        QTest::newRow("UTF-8") << QByteArray("髙橋") << QString::fromUtf8("髙橋");
        QTest::newRow("CP932, NEC and IBM extensions")
            << QByteArray("\x87\x40\xFB\xFC\x81\x60") << QString::fromUtf8("①髙～");
        QTest::newRow("half-width katakana") << QByteArray("\xB1\xB2") << QString::fromUtf8("ｱｲ");
        QTest::newRow("lone lead byte at the end") << QByteArray("ab\x82") << QString::fromLatin1("ab\x82");
        QTest::newRow("ISO-8859-1 that looks like user-defined CP932")
            << QByteArray("Bj\xF6rk") << QString::fromUtf8("Björk");
        QTest::newRow("ISO-8859-1") << QByteArray("Motley Cr\xFC\x65") << QString::fromUtf8("Motley Crüe");
    }

    void decodeLegacy()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QCOMPARE(mp3lib::detail::decodeLegacy(bytes), expected);
    }

    void encodeLegacy_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("maxBytes");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ASCII unchanged") << "Hello, World ~\\" << 30 << QByteArray("Hello, World ~\\");
        QTest::newRow("ASCII cut") << "abcdef" << 4 << QByteArray("abcd");
        QTest::newRow("CP932") << QString::fromUtf8("～①髙") << 30 << QByteArray("\x81\x60\x87\x40\xFB\xFC");
        QTest::newRow("double-byte never split") << QString::fromUtf8("a日本") << 4 << QByteArray("a\x93\xFA");
        QTest::newRow("ISO-8859-1 when CP932 lacks a character")
            << QString::fromUtf8("Café") << 30 << QByteArray("Caf\xE9");
        QTest::newRow("'?' when neither has it all")
            << QString::fromUtf8("é日") << 30 << QByteArray("?\x93\xFA");
        QTest::newRow("emoji") << QString::fromUtf8("a😀b") << 30 << QByteArray("a?b");
    }

    void encodeLegacy()
    {
        QFETCH(QString, text);
        QFETCH(int, maxBytes);
        QFETCH(QByteArray, bytes);
        const QByteArray got = mp3lib::detail::encodeLegacy(text, maxBytes);
        QCOMPARE(got, bytes);
        if (!got.contains('?'))
            QCOMPARE(mp3lib::detail::decodeLegacy(got), text.left(mp3lib::detail::decodeLegacy(got).size()));
    }

    void wireField_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("stored");
        QTest::newRow("fits") << "2001" << 5 << "2001";
        QTest::newRow("fills the field, no NUL") << "12345" << 5 << "12345";
        QTest::newRow("cut") << "123456" << 5 << "12345";
        QTest::newRow("cut before a 3-byte character") << QString::fromUtf8("ab日本") << 7
                                                       << QString::fromUtf8("ab日");
        QTest::newRow("cut before a 4-byte character") << QString::fromUtf8("a😀") << 4 << "a";
    }

    void wireField()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(QString, stored);
        QByteArray field(width + 1, 'x');
        setWireText(field.data(), width, text);
        QCOMPARE(wireText(field.constData(), width), stored);
        QCOMPARE(field.at(width), 'x');
        const int used = stored.toUtf8().size();
        QCOMPARE(field.mid(used, width - used), QByteArray(width - used, '\0'));
    }

    // Where the audio lies, for the writer and the player.
    void audioSpan_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<qint64>("begin");
        QTest::addColumn<qint64>("fromEnd");
        const QByteArray a = audio();
        const QByteArray tag = id3v2(3, latin1Frame(3, "TIT2", "t"));
        QTest::newRow("bare") << a << qint64(0) << qint64(0);
        QTest::newRow("ID3v2 and ID3v1") << tag + a + id3v1("t") << qint64(tag.size()) << qint64(128);
        QTest::newRow("APE before ID3v1") << a + apeFooter(32) + id3v1("t") << qint64(0) << qint64(160);
        QTest::newRow("junk after the tag") << tag + QByteArray(999, '\0') + a << qint64(tag.size() + 999) << qint64(0);
    }

    void audioSpan()
    {
        QFETCH(QByteArray, file);
        QFETCH(qint64, begin);
        QFETCH(qint64, fromEnd);
        const Fd fd = openRegularFile(QFile::encodeName(write(file)).constData(), O_RDONLY);
        QVERIFY(fd.valid());
        const AudioSpan span = findMpegAudio(fd.get());
        QVERIFY(span.found);
        QCOMPARE(span.begin, begin);
        QCOMPARE(span.end, file.size() - fromEnd);
    }

    void openRegularFileFollowsLinks()
    {
        const QString target = write(audio());
        const QString link = path("link.mp3");
        QVERIFY(QFile::link(target, link));
        const Fd fd = openRegularFile(QFile::encodeName(link).constData(), O_RDONLY);
        QVERIFY(fd.valid());
        // Blocking mode is back on: later reads must not see EAGAIN.
        QCOMPARE(::fcntl(fd.get(), F_GETFL) & O_NONBLOCK, 0);
        QVERIFY(!openRegularFile(nullptr, O_RDONLY).valid());
        QVERIFY(!openRegularFile("", O_RDONLY).valid());
    }
};

QTEST_GUILESS_MAIN(TestTagRead)
#include "tst_tagread.moc"
