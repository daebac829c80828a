// The tag record: its wire form byte for byte, the reading and writing
// rules; the tag frame's records and the genre search (its limit is out of
// reach of the window's genre list).
#include <QTest>
#include <cstring>

#include "tagfields.h"
#include "taginfo.h"

using tags::TagInfo;

namespace {

QByteArray bytesOf(const mp3lib::TagInfoWire &wire) { return QByteArray(reinterpret_cast<const char *>(&wire), sizeof wire); }

// `text` in a text field of the wire form, padded with spaces.
QByteArray field(const QByteArray &text) { return QByteArray(text).leftJustified(128, ' '); }

} // namespace

class TestTags : public QObject {
    Q_OBJECT

private slots:
    // The update writes the texts as typed, each ended by a NUL and padded
    // with spaces; the copy buffer keeps them trimmed and without a NUL;
    // without a genre list the genre is "none"; a fresh record is all zero.
    void records()
    {
        QCOMPARE(bytesOf(TagInfo().toWire()), QByteArray(sizeof(mp3lib::TagInfoWire), '\0'));
        const tags::TagFieldTexts typed{" Ab ", "歌手", "", "2024", "c,d"};
        const tags::GenreEntry rock{17, "Rock"};
        const QByteArray artist = QStringLiteral("歌手").toUtf8(), nul(1, '\0');
        QCOMPARE(bytesOf(tags::recordForUpdate(typed, rock).toWire()),
                 field(" Ab " + nul) + field(artist + nul) + field(nul) + "2024" + nul + field("c,d" + nul)
                     + QByteArray(3, '\0') + "\x11" + QByteArray(3, '\0') + field("Rock" + nul));
        QCOMPARE(bytesOf(tags::copyBuffer(typed, rock).toWire()),
                 field("Ab") + field(artist) + field("") + "2024 " + field("c,d") + QByteArray(3, '\0') + "\x11"
                     + QByteArray(3, '\0') + field("Rock"));
        QCOMPARE(tags::recordForUpdate(typed, tags::GenreEntry{}).toWire().GenreNo, tags::kNoGenreNo);
    }

    // A field that came back from the library goes out again as it came:
    // bytes after the first NUL, and multi-byte text, included.
    void wireRoundTripKeepsBytes()
    {
        mp3lib::TagInfoWire in;
        std::memset(&in, 0, sizeof in);
        std::memset(in.AlbumName, 'x', 128);
        const QByteArray title = QStringLiteral("日本語のタイトル").toUtf8();
        std::memcpy(in.TrackName, title.constData(), title.size());
        std::memcpy(in.ArtistName, "Abc\0leftover", 12);
        in.GenreNo = -7;
        TagInfo t;
        t.fromWire(in);
        QCOMPARE(t.TrackName.size(), 128);
        QCOMPARE(tags::TrimTagStr(t.ArtistName), QStringLiteral("Abc"));
        QCOMPARE(bytesOf(t.toWire()), bytesOf(in));
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
        const QString got = withNul ? tags::fitFieldWithNul(text, width) : tags::fitField(text, width);
        QCOMPARE(got.size(), width);
        TagInfo t;
        (width == tags::kYearWidth ? t.Year : t.TrackName) = got;
        const mp3lib::TagInfoWire w = t.toWire();
        QTEST(QByteArray(width == tags::kYearWidth ? w.Year : w.TrackName, width), "wire");
    }

    void trimTagStr_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("spaces before NUL, leftover") << QString::fromUtf8("  Song  \0left", 13) << "Song";
        QTest::newRow("all NUL") << QString(128, QChar(u'\0')) << "";
        QTest::newRow("all spaces") << QString(128, QChar(u' ')) << "";
        QTest::newRow("inner spaces kept") << " a  b " << "a  b";
        QTest::newRow("ideographic spaces") << "\u3000曲\u3000 " << "曲";
        QTest::newRow("tab is not a space") << "\tx\t" << "\tx\t";
    }

    void trimTagStr()
    {
        QFETCH(QString, in);
        QTEST(tags::TrimTagStr(in), "out");
    }

    void genreEntryIndex_data()
    {
        QTest::addColumn<int>("genreNo");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("index");
        QTest::newRow("first of two equal numbers") << 0 << 256 << 1;
        QTest::newRow("last entry") << 255 << 256 << 4;
        QTest::newRow("not listed") << 3 << 256 << -1;
        QTest::newRow("beyond the limit") << 255 << 4 << -1;
    }

    void genreEntryIndex()
    {
        QFETCH(int, genreNo);
        QFETCH(int, limit);
        QTEST(tags::genreEntryIndex({17, 0, 5, 0, 255}, genreNo, limit), "index");
    }
};

QTEST_GUILESS_MAIN(TestTags)
#include "tst_tags.moc"
