// The tag record: its wire form byte for byte, the reading and writing
// rules; the tag frame's records and the genre search (its limit is out of
// reach of the window's genre list).
#include <QTest>
#include <cstring>

#include "tagfields.h"
#include "taginfo.h"

using tags::TagInfo;

namespace {

QByteArray bytesOf(const mp3lib::TagInfoWire &wire)
{
    return QByteArray(reinterpret_cast<const char *>(&wire), sizeof wire);
}

QByteArray bytes(const char (&field)[128]) { return QByteArray(field, 128); }

} // namespace

class TestTags : public QObject {
    Q_OBJECT

private slots:
    // Fields never written stay zero bytes; the others sit at their offsets.
    void recordLayout()
    {
        TagInfo t;
        t.TrackName = tags::fitFieldWithNul(QStringLiteral("Title"), tags::kTextWidth);
        t.ArtistName = tags::fitFieldWithNul(QStringLiteral("Singer"), tags::kTextWidth);
        t.Comment = tags::fitFieldWithNul(QStringLiteral("C"), tags::kTextWidth);
        t.GenreNo = 0x01020304;
        QCOMPARE(bytesOf(t.toWire()),
                 QByteArray("Title\0", 6) + QByteArray(122, ' ') + QByteArray("Singer\0", 7)
                     + QByteArray(121, ' ') + QByteArray(128 + 5, '\0') + QByteArray("C\0", 2)
                     + QByteArray(126, ' ') + QByteArray(3, '\0') + "\x04\x03\x02\x01" + QByteArray(128, '\0'));
    }

    // The writing rule, and the field's bytes on the wire: the year (5
    // bytes) or the title (128).
    void writingRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("withNul");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("padded") << "ab" << 5 << false << QByteArray("ab   ");
        QTest::newRow("padded with NUL") << "ab" << 5 << true << QByteArray("ab\0  ", 5);
        QTest::newRow("empty with NUL") << "" << 5 << true << QByteArray("\0    ", 5);
        QTest::newRow("cut") << "abcdefg" << 5 << false << QByteArray("abcde");
        QTest::newRow("exact with NUL loses NUL") << "abcde" << 5 << true << QByteArray("abcde");
        QTest::newRow("spaces kept") << " a " << 5 << false << QByteArray(" a   ");
        QTest::newRow("surrogate pair not split") << "abcd\U0001F3B5" << 5 << false << QByteArray("abcd ");
        QTest::newRow("year: UTF-8 character not split") << u"年年"_qs << 5 << false << QByteArray("\xE5\xB9\xB4\0\0", 5);
        // 43 three-byte characters are 129 bytes: the 43rd is left out whole.
        QTest::newRow("title: UTF-8 character not split") << QString(43, QChar(0x3042)) << 128 << false
                                                          << QString(42, QChar(0x3042)).toUtf8() + QByteArray(2, '\0');
    }

    void writingRule()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(bool, withNul);
        QFETCH(QByteArray, wire);
        const QString got = withNul ? tags::fitFieldWithNul(text, width) : tags::fitField(text, width);
        QCOMPARE(got.size(), width);
        TagInfo t;
        (width == tags::kYearWidth ? t.Year : t.TrackName) = got;
        const mp3lib::TagInfoWire w = t.toWire();
        QCOMPARE(width == tags::kYearWidth ? QByteArray(w.Year, 5) : bytes(w.TrackName), wire);
    }

    // A field that came back from the library goes out again as it came:
    // bytes after the first NUL, and multi-byte text, included.
    void wireRoundTripKeepsBytes()
    {
        mp3lib::TagInfoWire in;
        std::memset(&in, 0, sizeof in);
        const QByteArray title = QStringLiteral("日本語のタイトル").toUtf8();
        std::memcpy(in.TrackName, title.constData(), title.size());
        std::memcpy(in.ArtistName, "Abc\0leftover", 12);
        std::memset(in.AlbumName, 'x', 128);
        std::memcpy(in.Year, "1999", 4);
        in.GenreNo = -7;
        TagInfo t;
        t.fromWire(in);
        QCOMPARE(t.TrackName.size(), 128);
        QCOMPARE(tags::TrimTagStr(t.TrackName), QStringLiteral("日本語のタイトル"));
        QCOMPARE(tags::TrimTagStr(t.ArtistName), QStringLiteral("Abc"));
        QCOMPARE(bytesOf(t.toWire()), bytesOf(in));
    }

    void trimTagStr_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("title, NUL, leftover") << QString::fromUtf8("Song\0xyz", 8) << "Song";
        QTest::newRow("spaces before NUL") << QString::fromUtf8("  Song  \0left", 13) << "Song";
        QTest::newRow("all NUL") << QString(128, QChar(u'\0')) << "";
        QTest::newRow("all spaces") << QString(128, QChar(u' ')) << "";
        QTest::newRow("inner spaces kept") << " a  b " << "a  b";
        QTest::newRow("ideographic spaces") << "\u3000曲\u3000 " << "曲";
        QTest::newRow("tab is not a space") << "\tx\t" << "\tx\t";
    }

    void trimTagStr()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(tags::TrimTagStr(in), out);
    }

    void genreEntryIndex_data()
    {
        QTest::addColumn<QList<std::int32_t>>("numbers");
        QTest::addColumn<int>("genreNo");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("index");
        const QList<std::int32_t> list{17, 0, 5, 0, 255};
        QTest::newRow("first of two equal numbers") << list << 0 << 256 << 1;
        QTest::newRow("last entry") << list << 255 << 256 << 4;
        QTest::newRow("not listed") << list << 3 << 256 << -1;
        QTest::newRow("beyond the limit") << list << 255 << 4 << -1;
    }

    void genreEntryIndex()
    {
        QFETCH(QList<std::int32_t>, numbers);
        QFETCH(int, genreNo);
        QFETCH(int, limit);
        QFETCH(int, index);
        QCOMPARE(tags::genreEntryIndex(numbers, genreNo, limit), index);
    }

    // The update writes the texts as typed, each ended by a NUL and padded
    // with spaces; the copy buffer keeps them trimmed and without a NUL.
    void recordsOnTheWire()
    {
        const tags::TagFieldTexts typed{QStringLiteral(" Ab "), QStringLiteral("歌手"), QString(),
                                        QStringLiteral("2024"), QStringLiteral("c,d")};
        const tags::GenreEntry rock{17, QStringLiteral("Rock")};
        const mp3lib::TagInfoWire update = tags::recordForUpdate(typed, rock).toWire();
        QCOMPARE(bytes(update.TrackName), QByteArray(" Ab \0", 5) + QByteArray(123, ' '));
        QCOMPARE(bytes(update.ArtistName), QStringLiteral("歌手").toUtf8() + '\0' + QByteArray(121, ' '));
        QCOMPARE(bytes(update.AlbumName), QByteArray(1, '\0') + QByteArray(127, ' '));
        QCOMPARE(QByteArray(update.Year, 5), QByteArray("2024\0", 5));
        QCOMPARE(update.GenreNo, 17);
        QCOMPARE(bytes(update.GenreName), QByteArray("Rock\0", 5) + QByteArray(123, ' '));

        const mp3lib::TagInfoWire copy = tags::copyBuffer(typed, rock).toWire();
        QCOMPARE(bytes(copy.TrackName), QByteArray("Ab") + QByteArray(126, ' '));
        QCOMPARE(bytes(copy.AlbumName), QByteArray(128, ' '));
        QCOMPARE(QByteArray(copy.Year, 5), QByteArray("2024 "));
        QCOMPARE(bytes(copy.Comment), QByteArray("c,d") + QByteArray(125, ' '));
        QCOMPARE(copy.GenreNo, 17);
        // Without a genre list the genre is "none".
        QCOMPARE(tags::recordForUpdate(typed, tags::GenreEntry{}).toWire().GenreNo, tags::kNoGenreNo);
    }
};

QTEST_GUILESS_MAIN(TestTags)
#include "tst_tags.moc"
