// The tag record: its wire form byte for byte, the reading rule and the
// writing rule.
#include <QTest>
#include <cstring>

#include "taginfo.h"

using tags::TagInfo;

class TestTagInfo : public QObject {
    Q_OBJECT

private slots:
    void freshRecordIsAllZeroBytes();
    void writtenFieldsAtTheirOffsets();
    void yearWithNul_data();
    void yearWithNul();
    void multiByteCharacterNeverSplit();
    void wireRoundTripKeepsBytes();
    void trimTagStr_data();
    void trimTagStr();
    void writingRule_data();
    void writingRule();
};

void TestTagInfo::freshRecordIsAllZeroBytes()
{
    const mp3lib::TagInfoWire wire = TagInfo().toWire();
    QByteArray bytes(reinterpret_cast<const char *>(&wire), sizeof wire);
    QCOMPARE(bytes, QByteArray(652, '\0'));
}

void TestTagInfo::writtenFieldsAtTheirOffsets()
{
    TagInfo t;
    t.TrackName = tags::fitFieldWithNul(QStringLiteral("Title"), tags::kTextWidth);
    t.ArtistName = tags::fitFieldWithNul(QStringLiteral("Singer"), tags::kTextWidth);
    t.Comment = tags::fitFieldWithNul(QStringLiteral("C"), tags::kTextWidth);
    t.GenreNo = 0x01020304;
    const mp3lib::TagInfoWire wire = t.toWire();
    const QByteArray b(reinterpret_cast<const char *>(&wire), sizeof wire);

    QCOMPARE(b.mid(0, 6), QByteArray("Title\0", 6));
    QCOMPARE(b.mid(6, 122), QByteArray(122, ' '));
    QCOMPARE(b.mid(128, 7), QByteArray("Singer\0", 7));
    QCOMPARE(b.mid(256, 128), QByteArray(128, '\0'));   // album never written
    QCOMPARE(b.mid(384, 5), QByteArray(5, '\0'));       // year never written
    QCOMPARE(b.mid(389, 3), QByteArray("C\0 ", 3));
    QCOMPARE(b.mid(517, 3), QByteArray(3, '\0'));
    QCOMPARE(b.mid(520, 4), QByteArray("\x04\x03\x02\x01", 4));
    QCOMPARE(b.mid(524, 128), QByteArray(128, '\0'));
}

void TestTagInfo::yearWithNul_data()
{
    QTest::addColumn<QString>("year");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("four digits fill the field") << "2024" << QByteArray("2024\0", 5);
    QTest::newRow("two digits") << "99" << QByteArray("99\0  ", 5);
    QTest::newRow("empty") << "" << QByteArray("\0    ", 5);
    QTest::newRow("not a number") << "ab" << QByteArray("ab\0  ", 5);
}

void TestTagInfo::yearWithNul()
{
    QFETCH(QString, year);
    QFETCH(QByteArray, bytes);
    TagInfo t;
    t.Year = tags::fitFieldWithNul(year, tags::kYearWidth);
    const mp3lib::TagInfoWire wire = t.toWire();
    QCOMPARE(QByteArray(wire.Year, 5), bytes);
}

void TestTagInfo::multiByteCharacterNeverSplit()
{
    // 43 three-byte characters are 129 bytes: the 43rd does not fit in 128 and
    // must be left out whole, not cut after one or two of its bytes.
    TagInfo t;
    t.TrackName = tags::fitField(QString(43, QChar(0x3042)), tags::kTextWidth);
    const mp3lib::TagInfoWire wire = t.toWire();
    const QByteArray field(wire.TrackName, 128);
    QCOMPARE(field.left(126), QString(42, QChar(0x3042)).toUtf8());
    QCOMPARE(field.mid(126), QByteArray(2, '\0'));

    // In the year field: "年年" is 6 bytes; only the first fits in 5.
    t.Year = tags::fitField(QStringLiteral("年年"), tags::kYearWidth);
    const mp3lib::TagInfoWire w2 = t.toWire();
    QCOMPARE(QByteArray(w2.Year, 5), QByteArray("\xE5\xB9\xB4\0\0", 5));
}

void TestTagInfo::wireRoundTripKeepsBytes()
{
    // A field that came back from the library goes out again as it came:
    // bytes after the first NUL, and multi-byte text, included.
    mp3lib::TagInfoWire in;
    std::memset(&in, 0, sizeof in);
    const QByteArray title = QStringLiteral("日本語のタイトル").toUtf8();
    std::memcpy(in.TrackName, title.constData(), title.size());
    std::memcpy(in.ArtistName, "Abc\0leftover", 12);
    std::memset(in.AlbumName, 'x', 128);
    std::memcpy(in.Year, "1999", 4);
    in.GenreNo = -7;
    std::memcpy(in.GenreName, "Rock", 4);

    TagInfo t;
    t.fromWire(in);
    QCOMPARE(t.TrackName.size(), 128);
    QCOMPARE(t.Year.size(), 5);
    QCOMPARE(tags::TrimTagStr(t.TrackName), QStringLiteral("日本語のタイトル"));
    QCOMPARE(tags::TrimTagStr(t.ArtistName), QStringLiteral("Abc"));
    QCOMPARE(t.GenreNo, -7);
    const mp3lib::TagInfoWire out = t.toWire();
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(&out), sizeof out),
             QByteArray(reinterpret_cast<const char *>(&in), sizeof in));
}

void TestTagInfo::trimTagStr_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("title, NUL, leftover") << QString::fromUtf8("Song\0xyz", 8) << "Song";
    QTest::newRow("spaces around") << "  Song  " << "Song";
    QTest::newRow("spaces before NUL") << QString::fromUtf8("Song  \0left", 11) << "Song";
    QTest::newRow("all NUL") << QString(128, QChar(u'\0')) << "";
    QTest::newRow("all spaces") << QString(128, QChar(u' ')) << "";
    QTest::newRow("inner spaces kept") << " a  b " << "a  b";
    QTest::newRow("ideographic spaces") << "\u3000曲\u3000 " << "曲";
    QTest::newRow("tab is not a space") << "\tx\t" << "\tx\t";
    QTest::newRow("empty") << "" << "";
}

void TestTagInfo::trimTagStr()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    const QString before = in;
    QCOMPARE(tags::TrimTagStr(in), out);
    QCOMPARE(in, before);
}

void TestTagInfo::writingRule_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("withNul");
    QTest::addColumn<QString>("field");
    QTest::newRow("padded") << "ab" << 5 << false << "ab   ";
    QTest::newRow("padded with NUL") << "ab" << 5 << true << QString::fromUtf8("ab\0  ", 5);
    QTest::newRow("cut") << "abcdefg" << 5 << false << "abcde";
    QTest::newRow("exact with NUL loses NUL") << "abcde" << 5 << true << "abcde";
    QTest::newRow("spaces kept") << " a " << 5 << false << " a   ";
    QTest::newRow("surrogate pair not split") << "abcd\U0001F3B5" << 5 << false << "abcd ";
}

void TestTagInfo::writingRule()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(bool, withNul);
    QFETCH(QString, field);
    const QString got = withNul ? tags::fitFieldWithNul(text, width) : tags::fitField(text, width);
    QCOMPARE(got, field);
    QCOMPARE(got.size(), width);
    if (text.size() < width)
        QCOMPARE(tags::TrimTagStr(got), text.trimmed());
}

QTEST_GUILESS_MAIN(TestTagInfo)
#include "tst_taginfo.moc"
