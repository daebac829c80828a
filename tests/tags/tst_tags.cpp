// The tag record: its wire form byte for byte, the reading and writing
// rules; the tag frame's records and the genre search (its limit is out of
// reach of the window's genre list).

#include "common/table.h"
#include "core/tags/tagfields.h"
#include "core/tags/taginfo.h"

using tags::TagInfo;

namespace {

QByteArray bytesOf(const mp3lib::TagInfoWire &wire) { return QByteArray(reinterpret_cast<const char *>(&wire), sizeof wire); }

// `text` in a text field of the wire form, padded with spaces.
QByteArray field(const QByteArray &text) { return QByteArray(text).leftJustified(128, ' '); }

} // namespace

class TestTags : public QObject {
    Q_OBJECT

private slots:
    void init() { TABLE_FAIL_BROKEN_ROW(); }

    // The wire form. The update writes the texts
    // as typed, each ended by a NUL and padded with spaces; the copy buffer
    // keeps them trimmed and without a NUL; without a genre list the genre
    // is "none". A field that came back from the library goes out again as
    // it came: bytes after the first NUL, and multi-byte text, included.
    void wireForm()
    {
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

        mp3lib::TagInfoWire in;
        std::memset(&in, 0, sizeof in);   // the padding too: the bytes are compared
        std::memset(in.AlbumName, 'x', 128);
        const QByteArray title = QStringLiteral("日本語のタイトル").toUtf8();
        std::memcpy(in.TrackName, title.constData(), title.size());
        std::memcpy(in.ArtistName, "Abc\0leftover", 12);
        in.GenreNo = -7;
        TagInfo t;
        t.fromWire(in);
        QCOMPARE(tags::TrimTagStr(t.ArtistName), QStringLiteral("Abc"));
        QCOMPARE(bytesOf(t.toWire()), bytesOf(in));
    }

    // The writing rule, and the field's bytes on the wire.
    void writingRule_data() { table::addRows("tags.txt", "writing", {"text", "into", "nul", "wire"}); }

    void writingRule()
    {
        QFETCH(QString, text);
        QFETCH(QString, into);
        QFETCH(QString, nul);
        QFETCH(QString, wire);
        const int width = into == u"year" ? tags::kYearWidth : tags::kTextWidth;
        const QString got = nul == u"NUL" ? tags::fitFieldWithNul(text, width) : tags::fitField(text, width);
        QCOMPARE(got.size(), width);
        TagInfo t;
        (width == tags::kYearWidth ? t.Year : t.TrackName) = got;
        const mp3lib::TagInfoWire w = t.toWire();
        QCOMPARE(QByteArray(width == tags::kYearWidth ? w.Year : w.TrackName, width), wire.toUtf8());
    }

    void trimTagStr_data() { table::addRows("tags.txt", "trim", {"text", "trimmed"}); }

    void trimTagStr()
    {
        QFETCH(QString, text);
        QFETCH(QString, trimmed);
        QCOMPARE(tags::TrimTagStr(text), trimmed);
    }

    void genreEntryIndex_data() { table::addRows("tags.txt", "genres", {"number", "searched", "index"}); }

    void genreEntryIndex()
    {
        QFETCH(QString, number);
        QFETCH(QString, searched);
        QFETCH(QString, index);
        QCOMPARE(tags::genreEntryIndex({17, 0, 5, 0, 255}, number.toInt(), searched.toInt()), index.toInt());
    }
};

QTEST_GUILESS_MAIN(TestTags)
#include "tst_tags.moc"
