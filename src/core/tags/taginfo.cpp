#include "core/tags/taginfo.h"

#include "core/tags/fieldtext.h"

#include <QByteArray>
#include <cstring>

namespace tags {

namespace {

QString freshText(int width) { return QString(width, QChar(u'\0')); }

// Text into a byte field: UTF-8, cut at a character boundary to the field's
// width; bytes the text does not reach are zero.
void textToWire(const QString &text, char *field, int width)
{
    const QByteArray utf8 = text.toUtf8();
    qsizetype n = qMin<qsizetype>(utf8.size(), width);
    if (n < utf8.size()) {
        // Back off to the start of the character that would be split: a
        // continuation byte is 10xxxxxx.
        while (n > 0 && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memset(field, 0, width);
    std::memcpy(field, utf8.constData(), n);
}

// A byte field back into a text of exactly `width` characters. A field can
// decode to fewer characters than bytes; the rest is NUL, so converting the
// text back gives the same bytes.
QString textFromWire(const char *field, int width)
{
    QString text = QString::fromUtf8(field, width);
    if (text.size() > width)
        text.truncate(width);
    if (text.size() < width)
        text.append(QString(width - text.size(), QChar(u'\0')));
    return text;
}

} // namespace

TagInfo::TagInfo()
    : TrackName(freshText(kTextWidth)), ArtistName(freshText(kTextWidth)),
      AlbumName(freshText(kTextWidth)), Year(freshText(kYearWidth)),
      Comment(freshText(kTextWidth)), GenreName(freshText(kTextWidth))
{
}

mp3lib::TagInfoWire TagInfo::toWire() const
{
    mp3lib::TagInfoWire wire;
    std::memset(&wire, 0, sizeof wire);
    textToWire(TrackName, wire.TrackName, kTextWidth);
    textToWire(ArtistName, wire.ArtistName, kTextWidth);
    textToWire(AlbumName, wire.AlbumName, kTextWidth);
    textToWire(Year, wire.Year, kYearWidth);
    textToWire(Comment, wire.Comment, kTextWidth);
    wire.GenreNo = GenreNo;
    textToWire(GenreName, wire.GenreName, kTextWidth);
    return wire;
}

void TagInfo::fromWire(const mp3lib::TagInfoWire &wire)
{
    TrackName = textFromWire(wire.TrackName, kTextWidth);
    ArtistName = textFromWire(wire.ArtistName, kTextWidth);
    AlbumName = textFromWire(wire.AlbumName, kTextWidth);
    Year = textFromWire(wire.Year, kYearWidth);
    Comment = textFromWire(wire.Comment, kTextWidth);
    GenreNo = wire.GenreNo;
    GenreName = textFromWire(wire.GenreName, kTextWidth);
}

QString TrimTagStr(QString text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    return mp3lib::trimBlanks(text);
}

QString fitField(const QString &text, int width)
{
    if (text.size() <= width)
        return text + QString(width - text.size(), QChar(u' '));
    QString cut = text.left(width);
    if (cut.back().isHighSurrogate())
        cut.back() = QChar(u' ');
    return cut;
}

QString fitFieldWithNul(const QString &text, int width)
{
    return fitField(text + QChar(u'\0'), width);
}

} // namespace tags
