// Reading tags through vbmp3_getFileTagInfo, with real TagLib on real files
// built byte by byte from the table in tests/data/tagread.txt.

#include "blockstream.h"
#include "id3build.h"
#include "id3v2guard.h"
#include "testdata.h"
#include "textcodec.h"
#include "vbmp3.h"
#include "write_tags.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <taglib/id3v1genres.h>

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using mp3lib::TagInfoWire;
using namespace mp3lib::detail;

namespace {

QByteArray audio() { return testdata::readAll(testdata::sample(testdata::kStereoMpeg1)); }

// A record full of 'x': what a failed read must leave alone, and what a
// read must not leave behind in fields the file lacks.
TagInfoWire marked()
{
    TagInfoWire w;
    std::memset(&w, 'x', sizeof w);
    return w;
}

QByteArray bytesOf(const TagInfoWire &w) { return QByteArray(reinterpret_cast<const char *>(&w), sizeof w); }

QString field(const TagInfoWire &w, const QString &name)
{
    if (name == "genreNo")
        return QString::number(w.GenreNo);
    const QHash<QString, const char *> fields{{"title", w.TrackName}, {"artist", w.ArtistName},
                                              {"album", w.AlbumName}, {"comment", w.Comment},
                                              {"genre", w.GenreName}};
    return name == "year" ? wireText(w.Year, 5) : wireText(fields.value(name), 128);
}

bool read(const QString &p, TagInfoWire &w) { return vbmp3_getFileTagInfo(QFile::encodeName(p).constData(), w); }

// `text` in `codePage`; empty where the code page lacks a character.
QByteArray encoded(const QString &text, const QByteArray &codePage)
{
    QStringEncoder encoder(codePage.constData(), QStringConverter::Flag::Stateless);
    const QByteArray bytes = encoder.encode(text);
    return encoder.hasError() ? QByteArray() : bytes;
}

// The longest start of `text` that fits 30 bytes of `codePage`.
QString cut(QString text, const QByteArray &codePage)
{
    while (encoded(text, codePage).size() > 30)
        text.chop(text.back().isLowSurrogate() ? 2 : 1);
    return text;
}

} // namespace

class TestTagRead : public QObject {
    Q_OBJECT

    QTemporaryDir tmp;
    int counter = 0;

    QString write(const QByteArray &bytes)
    {
        const QString p = tmp.filePath(QStringLiteral("f%1.mp3").arg(++counter));
        testdata::writeAll(p, bytes);
        return p;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        QCOMPARE(vbmp3_init(), 1);
    }

    // Each row: a file and what it reads as (see tests/data/tagread.txt).
    // Reading leaves the file as it was and gives the record TagLib's own
    // FileStream gives; a failed read leaves the record alone.
    void reads_data()
    {
        testdata::addRows("tagread.txt", "reads", {"file", "expectedText"}, {{"audio", audio()}}, 1);
    }

    void reads()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, expectedText);
        const QStringList expected = QString::fromUtf8(expectedText.isEmpty() ? "title=Title" : expectedText)
                                         .split(';');
        const QString p = file.startsWith('@') ? tmp.filePath(file.mid(1)) : write(file);
        if (file == "@folder")
            QVERIFY(QDir().mkpath(p));
        else if (file == "@fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(p).constData(), 0600), 0);
        else if (file == "@zero")
            QVERIFY(QFile::link("/dev/zero", p));
        else if (file == "@empty")
            testdata::writeAll(p, {});
        TagInfoWire w = marked();
        const bool fails = expected[0] == "fails" || expected[0] == "refused";
        QCOMPARE(read(p, w), !fails);
        if (!file.startsWith('@'))
            QCOMPARE(testdata::readAll(p), file);
        if (expected[0] == "refused")
            QVERIFY(!id3v2IsSafe(openRegularFile(QFile::encodeName(p).constData(), O_RDONLY).get()));
        if (fails) {
            QCOMPARE(bytesOf(w), bytesOf(marked()));
            return;
        }
        for (const QString &e : expected)
            QCOMPARE(field(w, e.section('=', 0, 0)), e.section('=', 1));
        QCOMPARE(QByteArray(w.Padding, 3), QByteArray(3, '\0'));
        mp3lib::setTagLibFileStreamForTesting(true);
        TagInfoWire byTagLib = marked();
        QVERIFY(read(p, byTagLib));
        mp3lib::setTagLibFileStreamForTesting(false);
        QCOMPARE(bytesOf(w), bytesOf(byTagLib));
    }

    // Several threads reading the table's files at once get what one thread
    // reading them in turn gets.
    void concurrentReads()
    {
        QStringList paths;
        QList<QByteArray> expected;
        for (const QByteArrayList &row : testdata::table("tagread.txt", "reads", {{"audio", audio()}}, 1)) {
            const QByteArray &file = row[1];
            if (file.startsWith('@'))
                continue;
            TagInfoWire w = marked();
            paths << write(file);
            expected << (read(paths.last(), w) ? bytesOf(w) : QByteArray());
        }
        std::atomic<int> mismatches{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (int i = t; i < paths.size() * 2; ++i) {
                    TagInfoWire w = marked();
                    const bool ok = read(paths[i % paths.size()], w);
                    mismatches += (ok ? bytesOf(w) : QByteArray()) != expected[i % paths.size()];
                }
            });
        }
        for (std::thread &th : threads)
            th.join();
        QCOMPARE(mismatches.load(), 0);
    }

    // The labelled texts of tests/data/legacy-text.txt, per writer's code
    // page and tag form: at least 99% must read as their writer meant them.
    // "ID3v1" holds the text cut to 30 bytes at a character boundary of its
    // code page, "ID3v2.3" a frame marked ISO-8859-1 holding all of it,
    // "ID3v1 as written" the ID3v1 tag this library's writer makes of it
    // (CP932 for any text CP932 can hold), which must read back as written.
    void corpus_data()
    {
        QTest::addColumn<QByteArray>("codePage");
        QTest::addColumn<QString>("form");
        for (const char *codePage : {"CP932", "windows-1252"}) {
            for (const char *form : {"ID3v1", "ID3v2.3", "ID3v1 as written"})
                QTest::addRow("%s %s", codePage, form) << QByteArray(codePage) << QString(form);
        }
    }

    void corpus()
    {
        QFETCH(QByteArray, codePage);
        QFETCH(QString, form);
        const QByteArray a = audio().left(4096);
        const QString p = write({});
        QStringList misses;
        int total = 0;
        QByteArray page;
        for (const QByteArray &line : testdata::readAll(testdata::sample("legacy-text.txt")).split('\n')) {
            page = line.startsWith("= ") ? line.mid(2) : page;
            if (page != codePage || line.isEmpty() || line.startsWith('#') || line.startsWith('='))
                continue;
            const QString text = QString::fromUtf8(line);
            ++total;
            QVERIFY2(!encoded(text, page).isEmpty(), qPrintable(text + " has no form in " + page));
            QString expected = cut(text, page);
            QByteArray file = a + id3build::v1(encoded(expected, page));
            if (form == "ID3v2.3") {
                file = id3build::tag(3, id3build::frame(3, "TIT2", '\0' + encoded(text, page)), 64) + a;
                expected = text;
            } else if (form == "ID3v1 as written") {
                TagFields fields;
                fields.text[Title] = text;
                file = a + id3v1With({}, fields, {});
                expected = encoded(text, "CP932").isEmpty() ? expected : cut(text, "CP932");
            }
            TagInfoWire w = marked();
            testdata::writeAll(p, file);
            const QString got = read(p, w) ? field(w, "title") : QString("(no tag)");
            if (got != expected.trimmed())
                misses << expected + " -> " + got;
        }
        qInfo().noquote() << QString("%1 of %2 read as meant").arg(total - misses.size()).arg(total);
        for (const QString &miss : misses)
            qInfo().noquote() << "  miss:" << miss;
        QVERIFY(total >= 250 && misses.size() * 100 <= total);
    }

    // The stream TagLib reads through: reads inside, across and beyond the
    // blocks read for the checks give the file's bytes, zeros where a
    // picture's body was skipped, and a replaced head in place of the file's
    // first bytes. A file that shrinks after it was opened, or a read the
    // system fails, fails the stream rather than handing TagLib other bytes.
    void stream_data()
    {
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("change");   // "shrink", "grow", "fail reads", "replace head"
        QTest::addColumn<bool>("ok");
        const qint64 size = 10 + 17 + 10 + 100000 + 64 + 10 * audio().size() + 128;
        QTest::newRow("inside the head") << qint64(0) << 100 << "" << true;
        QTest::newRow("head into the skipped picture") << qint64(16000) << 1000 << "" << true;
        QTest::newRow("the tag whole") << qint64(10) << 100081 << "" << true;
        QTest::newRow("audio beyond every block") << qint64(200000) << 5000 << "" << true;
        QTest::newRow("the end, past it") << size - 200 << 1000 << "" << true;
        QTest::newRow("replaced head into the file") << qint64(0) << 30 << "replace head" << true;
        QTest::newRow("grown: as opened") << size - 100 << 1000 << "grow" << true;
        QTest::newRow("shrunk: blocks as read") << qint64(0) << 20000 << "shrink" << true;
        QTest::newRow("shrunk: past the new end") << qint64(200000) << 5000 << "shrink" << false;
        QTest::newRow("failing reads: blocks as read") << qint64(17) << 16000 << "fail reads" << true;
        QTest::newRow("failing reads: audio") << qint64(150000) << 100 << "fail reads" << false;
    }

    void stream()
    {
        QFETCH(qint64, offset);
        QFETCH(int, length);
        QFETCH(QString, change);
        QFETCH(bool, ok);
        QByteArray picture(100000, '\0');
        for (int i = 0; i < picture.size(); ++i)
            picture[i] = char(i * 7 + 1);
        const QByteArray title = id3build::frame(3, "TIT2", id3build::latin1("Title"));
        const QByteArray file = id3build::tag(3, title + id3build::frame(3, "APIC", picture), 64)
                                + audio().repeated(10) + id3build::v1("t");
        const QString p = write(file);
        // The picture's body past the head block is never read.
        const qsizetype unread = 10 + title.size() + 10 + picture.size() - FileReader::kHead;
        QByteArray expected = file;
        expected.replace(FileReader::kHead, unread, QByteArray(unread, '\0'));
        if (change == "replace head")
            expected.replace(0, 20, QByteArray(20, 'R'));
        expected = expected.mid(offset, length);

        const Fd fd = openRegularFile(QFile::encodeName(p).constData(), O_RDONLY);
        FileReader reader(fd.get());
        QVERIFY(checkFile(reader).id3v2Safe);
        BlockStream stream(reader, TagLib::ByteVector(change == "replace head" ? 20 : 0, 'R'));
        if (change == "grow")
            testdata::writeAll(p, file + QByteArray(5000, 'g'));
        else if (change == "shrink")
            QCOMPARE(::truncate(QFile::encodeName(p).constData(), 100000), 0);
        else if (change == "fail reads")   // the descriptor now refuses reads (EBADF)
            QVERIFY(::dup2(Fd(::open(QFile::encodeName(p).constData(), O_WRONLY)).get(), fd.get()) == fd.get());
        stream.seek(offset);
        const TagLib::ByteVector got = stream.readBlock(length);
        const QByteArray bytes(got.data(), got.size());
        QCOMPARE(stream.length(), long(file.size()));
        QCOMPARE(stream.failed(), !ok);
        QVERIFY(ok ? bytes == expected : bytes.size() < expected.size() && expected.startsWith(bytes));
        QCOMPARE(stream.tell(), long(offset + bytes.size()));
    }

    // The name is zero-filled to the field's end; nothing else is touched.
    void getGenre()
    {
        const QString last = QString::fromStdString(TagLib::ID3v1::genre(191).to8Bit(true));
        for (const auto &[number, name] : {std::pair{0, QString("Blues")}, {191, last}, {192, {}}, {-1, {}}}) {
            TagInfoWire w = marked(), expected = marked();
            w.GenreNo = expected.GenreNo = number;
            setWireText(expected.GenreName, 128, name);
            vbmp3_getGenre(w);
            QVERIFY2(bytesOf(w) == bytesOf(expected), qPrintable(QString::number(number)));
        }
    }

    // Where the audio lies, for the writer and the player: after the ID3v2
    // tag, up to where an ID3v1 or an APE tag starts.
    void audioSpan()
    {
        const QByteArray tag = id3build::tag(3, id3build::frame(3, "TIT2", id3build::latin1("t")), 64);
        const QByteArray ape = id3build::Bytes()("ape(\"\", 0)");
        const QByteArray files[] = {tag + audio() + id3build::v1("t"), audio() + ape + id3build::v1("t")};
        const qint64 begin[] = {tag.size(), 0}, end[] = {files[0].size() - 128, files[1].size() - 160};
        for (int i = 0; i < 2; ++i) {
            const Fd fd = openRegularFile(QFile::encodeName(write(files[i])).constData(), O_RDONLY);
            const AudioSpan span = findMpegAudio(fd.get());
            QVERIFY(span.found && span.begin == begin[i] && span.end == end[i]);
        }
    }
};

QTEST_GUILESS_MAIN(TestTagRead)
#include "tst_tagread.moc"
