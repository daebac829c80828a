// vbmp3_getFileTagInfo with real TagLib on files built from tests/data/tagread.txt.

#include "core/tags/blockstream.h"
#include "common/id3build.h"
#include "core/id3v2/id3v2guard.h"
#include "common/testdata.h"
#include "core/tags/fieldread.h"
#include "common/table.h"
#include "core/tags/textcodec.h"
#include "core/tags/vbmp3.h"
#include "core/tags/write_tags.h"

#include <taglib/id3v1genres.h>

using mp3lib::TagInfoWire;
using namespace mp3lib::detail;
using namespace testdata;

namespace {

// A record full of 'x', which a read must not leave in fields the file lacks.
TagInfoWire marked()
{
    TagInfoWire w;
    std::memset(&w, 'x', sizeof w);
    return w;
}

QByteArray bytesOf(const TagInfoWire &w) { return QByteArray(reinterpret_cast<const char *>(&w), sizeof w); }

// The record a read fills in from marked(); "failed" when the read fails and
// leaves the record alone.
QByteArray readRecord(const QString &p)
{
    TagInfoWire w = marked();
    const bool ok = vbmp3_getFileTagInfo(QFile::encodeName(p).constData(), w);
    return ok ? bytesOf(w) : QByteArray(bytesOf(w) == bytesOf(marked()) ? "failed" : "failed, record changed");
}

QString field(const QByteArray &record, const QString &name)
{
    if (record.size() != sizeof(TagInfoWire))
        return record;
    const auto &w = *reinterpret_cast<const TagInfoWire *>(record.constData());
    const char *texts[] = {w.TrackName, w.ArtistName, w.AlbumName, w.Comment, w.GenreName};
    const int i = QStringList{"title", "artist", "album", "comment", "genre", "year"}.indexOf(name);
    return i < 0 ? QString::number(w.GenreNo) : i == 5 ? wireText(w.Year, 5) : wireText(texts[i], 128);
}

// The tags the typed read says the file has.
QString tagNames(const tags::FileFields &f)
{
    QStringList names;
    for (const auto &[has, name] : {std::pair{f.id3v2, "ID3v2"}, {f.ape, "APE"}, {f.id3v1, "ID3v1"}}) {
        if (has)
            names << QString::fromLatin1(name);
    }
    return names.join(u' ');
}

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
        make(p, bytes);
        return p;
    }

private slots:
    void initTestCase() { QVERIFY(tmp.isValid() && vbmp3_init() == 1); }
    void init() { TABLE_FAIL_BROKEN_ROW(); }

    // A file and what it reads as; the file stays as it was, the record is
    // the one TagLib's own FileStream gives, a failed read leaves it alone.
    void reads_data() { table::addRows("tagread.txt", "reads", {table::expr("file"), table::bytes("expected")}); }

    void reads()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, expected);
        const QString p = write(file);
        const QByteArray name = QFile::encodeName(p);
        const QByteArray record = readRecord(p);
        if (!file.startsWith('@'))
            QCOMPARE(readAll(p), file);
        if (file.startsWith('@'))   // not a regular file: not even kept open
            QVERIFY(!openRegularFile(name.constData(), O_RDONLY).valid());
        if (expected == "refused")
            QVERIFY(!id3v2IsSafe(openRegularFile(name.constData(), O_RDONLY).get()));
        const tags::FileFields typed = tags::readFields(name);
        if (expected == "fails" || expected == "refused") {
            QCOMPARE(record, "failed");
            QVERIFY(typed.outcome != tags::FileFields::Read && !typed.reason.isEmpty());
            return;
        }
        for (const QString &e : QString::fromUtf8(expected).split(';')) {
            const QString key = e.section('=', 0, 0);
            QCOMPARE(key == u"track" ? typed.track : key == u"tags" ? tagNames(typed) : field(record, key),
                     e.section('=', 1));
        }
        QCOMPARE(record.mid(offsetof(TagInfoWire, Padding), 3), QByteArray(3, '\0'));
        // The typed read's fields show in the tag frame as the record's do.
        tags::TagInfo shown;
        shown.fromWire(*reinterpret_cast<const TagInfoWire *>(record.constData()));
        QVERIFY(tags::shownTexts(typed) == tags::displayTexts(shown));
        QCOMPARE(tags::shownGenre(typed).GenreNo, shown.GenreNo);
        QCOMPARE(tags::shownGenre(typed).GenreName, tags::TrimTagStr(shown.GenreName));
        mp3lib::setTagLibFileStreamForTesting(true);
        const QByteArray byTagLib = readRecord(p);
        const tags::FileFields typedByTagLib = tags::readFields(name);
        mp3lib::setTagLibFileStreamForTesting(false);
        QCOMPARE(record, byTagLib);
        QCOMPARE(tagNames(typedByTagLib), tagNames(typed));
        QCOMPARE(typedByTagLib.track, typed.track);
    }

    // Four threads reading the table's files at once get what one thread gets.
    void concurrentReads()
    {
        QStringList paths;
        QByteArrayList expected;
        for (const table::Row &row : table::rows("tagread.txt", "reads", {table::expr("file"), table::bytes("expected")})) {
            QVERIFY2(row.error.isEmpty(), qPrintable(row.error));
            if (!row.bytes(0).startsWith('@'))
                expected << readRecord(paths.emplaceBack(write(row.bytes(0))));
        }
        std::atomic<int> mismatches{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (int i = t; i < paths.size() * 2; ++i)
                    mismatches += readRecord(paths[i % paths.size()]) != expected[i % paths.size()];
            });
        }
        for (std::thread &th : threads)
            th.join();
        QCOMPARE(mismatches.load(), 0);
    }

    // At least 99% of the labelled texts of tests/data/legacy-text.txt read as meant, in
    // ID3v1 (cut at a character boundary), in ISO-8859-1 frames and in the ID3v1 we write.
    void corpus_data() { table::addRows("tagread.txt", "corpus", {table::bytes("codePage"), table::bytes("form")}); }

    void corpus()
    {
        QFETCH(QByteArray, codePage);
        QFETCH(QByteArray, form);
        const QByteArray a = audio().left(4096);
        const QString p = write({});
        QStringList misses;
        const QList<table::Row> texts = table::rows("legacy-text.txt", QString::fromLatin1(codePage), {});
        for (const table::Row &row : texts) {
            QVERIFY2(row.error.isEmpty(), qPrintable(row.error));
            const QString text = row.name;
            QVERIFY2(!encoded(text, codePage).isEmpty(), qPrintable(text + " has no form in " + codePage));
            QString expected = cut(text, codePage);
            QByteArray file = a + id3build::v1(encoded(expected, codePage));
            if (form == "ID3v2.3") {
                file = id3build::tag(3, id3build::frame(3, "TIT2", '\0' + encoded(text, codePage)), 64) + a;
                expected = text;
            } else if (form == "ID3v1 as written") {   // CP932 for any text it can hold
                TagFields fields;
                fields.text[Title] = text;
                file = a + id3v1With({}, fields, {});
                expected = encoded(text, "CP932").isEmpty() ? expected : cut(text, "CP932");
            }
            writeAll(p, file);
            const QString got = field(readRecord(p), "title");
            if (got != expected.trimmed())
                misses << expected + " -> " + got;
        }
        qInfo().noquote() << texts.size() - misses.size() << "of" << texts.size() << "read as meant" << misses;
        QVERIFY(texts.size() >= 250 && misses.size() * 100 <= texts.size());
    }

    // The stream TagLib reads through gives the file's bytes (zeros for a skipped picture),
    // or fails: a file shrunk since the open, a failing read.
    void stream_data()
    {
        table::addRows("tagread.txt", "stream", {table::bytes("at"), table::bytes("length"), table::bytes("change"), table::bytes("ok")});
    }

    void stream()
    {
        QFETCH(QByteArray, at);
        QFETCH(QByteArray, length);
        QFETCH(QByteArray, change);
        QFETCH(QByteArray, ok);
        const QByteArray file = id3build::Bytes({{"audio", audio()}})(
            R"(tag(3, frame(3, "TIT2", text("Title")) + frame(3, "APIC", picture(99986)), 64) + audio * 10 + v1("t"))");
        const QByteArray name = QFile::encodeName(write(file));
        const qint64 offset = (at.toLongLong() + file.size()) % file.size();
        const qsizetype unread = id3build::tagSize(file) - FileReader::kHead;   // never read: picture and padding
        QByteArray expected = file;
        expected.replace(FileReader::kHead, unread, QByteArray(unread, '\0'));
        if (change == "replace head")
            expected.replace(0, 20, QByteArray(20, 'R'));
        expected = expected.mid(offset, length.toInt());

        const Fd fd = openRegularFile(name.constData(), O_RDONLY);
        FileReader reader(fd.get());
        QVERIFY(checkFile(reader).id3v2Safe);
        BlockStream stream(reader, QByteArray(change == "replace head" ? 20 : 0, 'R'));
        if (change == "grow")
            writeAll(QFile::decodeName(name), file + QByteArray(5000, 'g'));
        else if (change == "shrink")
            QCOMPARE(::truncate(name.constData(), 100000), 0);
        else if (change == "fail reads")   // the descriptor now refuses reads (EBADF)
            QVERIFY(::dup2(Fd(::open(name.constData(), O_WRONLY)).get(), fd.get()) == fd.get());
        stream.seek(offset);
        const long n = stream.available(length.toULong());
        QByteArray read(n, '\0');
        if (const char *in = stream.contiguous(n))
            std::memcpy(read.data(), in, n);
        else
            read.resize(stream.readInto(read.data(), n));
        QCOMPARE(stream.length(), long(file.size()));
        QCOMPARE(stream.failed(), ok != "1");
        QVERIFY(ok == "1" ? read == expected : read.size() < expected.size() && expected.startsWith(read));
        QCOMPARE(stream.tell(), long(offset + read.size()));
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
};

QTEST_GUILESS_MAIN(TestTagRead)
#include "tst_tagread.moc"
