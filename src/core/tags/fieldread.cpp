#include "core/tags/fieldread.h"

#include "core/tags/fieldtext.h"
#include "core/tags/tagedit.h"
#include "core/tags/tagsource.h"
#include "core/tags/textcodec.h"

namespace tags {

namespace {

// `text` as a field of the tag record `width` bytes wide holds it: UTF-8,
// cut at a character boundary, up to its first NUL.
QString recordText(const QString &text, int width)
{
    char field[kTextWidth];
    mp3lib::detail::setWireText(field, width, text);
    return mp3lib::detail::wireText(field, width);
}

QString shown(const QString &text, int width, int boxLength)
{
    return mp3lib::shownInBox(recordText(text, width), boxLength);
}

} // namespace

FileFields readFields(const QByteArray &path)
{
    FileFields out;
    mp3lib::SourcedTag tag;
    switch (mp3lib::readSourcedTag(path.constData(), tag)) {
    case mp3lib::TagRead::NotFound:
        out.outcome = FileFields::NotFound;
        out.reason = missingReason(path);
        return out;
    case mp3lib::TagRead::Failed:
        out.reason = QStringLiteral("the tag cannot be read");
        return out;
    case mp3lib::TagRead::Read:
        break;
    }
    out.outcome = FileFields::Read;
    out.title = tag.text[mp3lib::SourceTitle];
    out.artist = tag.text[mp3lib::SourceArtist];
    out.album = tag.text[mp3lib::SourceAlbum];
    out.year = tag.text[mp3lib::SourceYear];
    out.comment = tag.text[mp3lib::SourceComment];
    out.genre = tag.genre;
    out.genreNo = tag.genreNo;
    out.track = tag.track;
    out.id3v2 = tag.id3v2;
    out.ape = tag.ape;
    out.id3v1 = tag.id3v1;
    return out;
}

TagFieldTexts shownTexts(const FileFields &f)
{
    return {shown(f.title, kTextWidth, kFieldMaxLength), shown(f.artist, kTextWidth, kFieldMaxLength),
            shown(f.album, kTextWidth, kFieldMaxLength), shown(f.year, kYearWidth, kYearMaxLength),
            shown(f.comment, kTextWidth, kFieldMaxLength)};
}

GenreEntry shownGenre(const FileFields &f)
{
    return {f.genreNo, mp3lib::trimBlanks(recordText(f.genre, kTextWidth))};
}

} // namespace tags
