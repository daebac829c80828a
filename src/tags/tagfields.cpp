#include "tagfields.h"

#include <QStringList>

#include <algorithm>

namespace tags {

namespace {

// The first `maxLength` UTF-16 units of `text`, one fewer when the last of
// them would be the first half of a surrogate pair.
QString cutAtCharacter(const QString &text, int maxLength)
{
    if (text.size() <= maxLength)
        return text;
    qsizetype n = maxLength;
    if (n > 0 && text.at(n - 1).isHighSurrogate())
        --n;
    return text.left(n);
}

QString shown(const QString &field, int maxLength)
{
    return cutAtCharacter(TrimTagStr(field), maxLength);
}

// Full-width digits as ASCII digits: Japanese input gives "２００４", whose
// characters take three bytes each and would not fit the year's five.
QString asciiDigits(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() >= 0xFF10 && c.unicode() <= 0xFF19)
            c = QChar(u'0' + (c.unicode() - 0xFF10));
    }
    return text;
}

TagFieldTexts trimmed(const TagFieldTexts &t)
{
    return {TrimTagStr(t.TrackName), TrimTagStr(t.ArtistName), TrimTagStr(t.AlbumName),
            TrimTagStr(t.Year), TrimTagStr(t.Comment)};
}

// The six fields into a fresh record, each text stored by `store` (the
// writing rule with or without the appended NUL).
TagInfo storeFields(const TagFieldTexts &t, const GenreEntry &genre,
                    QString (*store)(const QString &, int))
{
    TagInfo tag;
    tag.TrackName = store(t.TrackName, kTextWidth);
    tag.ArtistName = store(t.ArtistName, kTextWidth);
    tag.AlbumName = store(t.AlbumName, kTextWidth);
    tag.Year = store(asciiDigits(t.Year), kYearWidth);
    tag.Comment = store(t.Comment, kTextWidth);
    tag.GenreNo = genre.GenreNo;
    tag.GenreName = store(genre.GenreName, kTextWidth);
    return tag;
}

} // namespace

TagFieldTexts displayTexts(const TagInfo &tag)
{
    return {shown(tag.TrackName, kFieldMaxLength), shown(tag.ArtistName, kFieldMaxLength),
            shown(tag.AlbumName, kFieldMaxLength), shown(tag.Year, kYearMaxLength),
            shown(tag.Comment, kFieldMaxLength)};
}

TagInfo recordForUpdate(const TagFieldTexts &texts, const GenreEntry &genre)
{
    return storeFields(texts, genre, fitFieldWithNul);
}

TagInfo copyBuffer(const TagFieldTexts &texts, const GenreEntry &genre)
{
    return storeFields(trimmed(texts), genre, fitField);
}

QString clipboardLine(const TagFieldTexts &texts, const QString &genreName)
{
    const TagFieldTexts t = trimmed(texts);
    return QStringList{t.TrackName, t.ArtistName, t.AlbumName, t.Year, genreName, t.Comment}
        .join(u',');
}

QList<GenreEntry> genreList()
{
    QList<GenreEntry> genres;
    // One record for the whole run, as the library expects: only GenreNo
    // changes between calls.
    TagInfo tag;
    for (int n = 0; n <= 255; ++n) {
        tag.GenreNo = n;
        mp3lib::TagInfoWire wire = tag.toWire();
        vbmp3_getGenre(wire);
        tag.fromWire(wire);
        const QString name = TrimTagStr(tag.GenreName);
        if (!name.isEmpty())
            genres.append({n, name});
    }
    std::stable_sort(genres.begin(), genres.end(), [](const GenreEntry &a, const GenreEntry &b) {
        const int c = QString::compare(a.GenreName, b.GenreName, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : QString::compare(a.GenreName, b.GenreName, Qt::CaseSensitive) < 0;
    });
    return genres;
}

int genreEntryIndex(const QList<std::int32_t> &numbers, std::int32_t genreNo, qsizetype limit)
{
    const qsizetype end = qMin(numbers.size(), limit);
    for (qsizetype i = 0; i < end; ++i) {
        if (numbers.at(i) == genreNo)
            return int(i);
    }
    return -1;
}

} // namespace tags
