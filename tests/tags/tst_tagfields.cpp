// The tag frame's records as the library and the copy buffer get them, and
// the genre search (its limit is out of reach of the window's genre list).
#include <QTest>

#include "tagfields.h"

using tags::GenreEntry;
using tags::TagFieldTexts;

namespace {

QByteArray bytes(const char (&field)[128]) { return QByteArray(field, 128); }

} // namespace

class TestTagFields : public QObject {
    Q_OBJECT

private slots:
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
        QTest::newRow("empty list") << QList<std::int32_t>{} << 0 << 256 << -1;
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
        const TagFieldTexts typed{QStringLiteral(" Ab "), QStringLiteral("歌手"), QString(),
                                  QStringLiteral("2024"), QStringLiteral("c,d")};
        const GenreEntry rock{17, QStringLiteral("Rock")};

        const mp3lib::TagInfoWire update = tags::recordForUpdate(typed, rock).toWire();
        QCOMPARE(bytes(update.TrackName), QByteArray(" Ab \0", 5) + QByteArray(123, ' '));
        QCOMPARE(bytes(update.ArtistName),
                 QStringLiteral("歌手").toUtf8() + '\0' + QByteArray(121, ' '));
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
        QCOMPARE(tags::recordForUpdate(typed, GenreEntry{}).toWire().GenreNo, tags::kNoGenreNo);
    }
};

QTEST_APPLESS_MAIN(TestTagFields)
#include "tst_tagfields.moc"
