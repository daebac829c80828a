#include "core/tags/tagfields.h"

#include <QStringList>

#include <algorithm>

#include "core/tags/fieldtext.h"

namespace tags {

namespace {

// The box's rule is the library's, which the writer shares to tell an
// untouched field from an edited one.
QString shown(const QString &field, int maxLength)
{
    return mp3lib::shownInBox(TrimTagStr(field), maxLength);
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
    tag.Year = store(mp3lib::yearDigits(t.Year), kYearWidth);
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
