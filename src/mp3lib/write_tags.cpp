#include "write_tags.h"

#include "id3v2frames.h"
#include "textcodec.h"

#include <taglib/apetag.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1genres.h>
#include <taglib/textidentificationframe.h>

namespace mp3lib::detail {

using TagLib::String;
namespace ID3v2 = TagLib::ID3v2;

namespace {

// The edit fields' lengths: what the tag frame shows of a stored text.
constexpr int kShownLength = 30;
constexpr int kShownYearLength = 4;

String toTagLib(const QString &text)
{
    return String(text.toUtf8().toStdString(), String::UTF8);
}

// ISO-8859-1 only for plain ASCII. Text marked ISO-8859-1 is read as CP932
// or Windows-1252 by what it looks like, and a short text can look like
// either, so other text goes out as UTF-16, which says what it is.
String::Type encodingFor(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() > 0x7F)
            return String::UTF16;
    }
    return String::Latin1;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == QChar(0x3000);
}

QString trimmed(const QString &text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

// What the edit field shows of a stored text: trimmed, cut to the field's
// length without splitting a surrogate pair.
QString shown(const QString &stored, int length)
{
    QString text = trimmed(stored);
    if (text.size() > length)
        text.truncate(text.at(length - 1).isHighSurrogate() ? length - 1 : length);
    return text;
}

// The IDs of a field's frames in a tag of version `major`; the first is
// the one a write makes.
QList<QByteArray> frameIds(Field field, int major)
{
    const bool v22 = major == 2;
    switch (field) {
    case Title: return {v22 ? "TT2" : "TIT2"};
    case Artist: return {v22 ? "TP1" : "TPE1"};
    case Album: return {v22 ? "TAL" : "TALB"};
    case Genre: return {v22 ? "TCO" : "TCON"};
    case Year:
        // A year is the recording date; its day and time go with it. ID3v2.3
        // tags made by converters may hold ID3v2.4's TDRC as well.
        if (v22)
            return {"TYE", "TDA", "TIM", "TRD"};
        if (major == 3)
            return {"TYER", "TDAT", "TIME", "TRDA", "TDRC"};
        return {"TDRC", "TYER", "TDAT", "TIME", "TRDA"};
    default: return {};
    }
}

// Replaces the frames at `at` (removed) by `frame` at the place of the
// first, or at the end when there were none.
void replaceFrames(RawTags &tags, const QList<qsizetype> &at, ID3v2::Frame *frame)
{
    qsizetype place = at.isEmpty() ? tags.frames.size() : at.first();
    for (qsizetype i = at.size() - 1; i >= 0; --i)
        tags.frames.removeAt(at[i]);
    if (frame)
        tags.frames.insert(place, tags.frameFrom(*frame));
}

QByteArray legacyField(const QString &text, int width)
{
    QByteArray bytes = encodeLegacy(text, width).left(width);
    bytes.append(QByteArray(width - bytes.size(), '\0'));
    return bytes;
}

} // namespace

TagFields TagFields::fromWire(const TagInfoWire &wire)
{
    TagFields f;
    f.text[Title] = wireText(wire.TrackName, sizeof wire.TrackName);
    f.text[Artist] = wireText(wire.ArtistName, sizeof wire.ArtistName);
    f.text[Album] = wireText(wire.AlbumName, sizeof wire.AlbumName);
    f.text[Year] = wireText(wire.Year, sizeof wire.Year);
    f.text[Comment] = wireText(wire.Comment, sizeof wire.Comment);
    const String name = TagLib::ID3v1::genre(wire.GenreNo);
    if (!name.isEmpty()) {
        f.genre = QString::fromStdString(name.to8Bit(true));
        f.genreNo = wire.GenreNo;
    }
    return f;
}

std::array<bool, kFieldCount> changedFields(const TagFields &wanted, const TagFields &current)
{
    std::array<bool, kFieldCount> changed{};
    for (int i = 0; i < Genre; ++i) {
        const int length = i == Year ? kShownYearLength : kShownLength;
        changed[i] = trimmed(wanted.text[i]) != shown(current.text[i], length);
    }
    changed[Genre] = wanted.genreNo != current.genreNo;
    return changed;
}

void setFrames(RawTags &tags, const TagFields &f, const std::array<bool, kFieldCount> &changed)
{
    for (int i = 0; i < kFieldCount; ++i) {
        if (!changed[i] || i == Comment)
            continue;
        QList<QByteArray> ids = frameIds(Field(i), tags.major);
        // Without a recording date the year is read from the release date,
        // else the original release date: a year cleared goes from those
        // too, or it would come back from them.
        if (i == Year && f.text[Year].isEmpty())
            ids << "TDRL" << "TDOR" << "TORY" << "TOR";
        QList<qsizetype> at;
        for (qsizetype n = 0; n < tags.frames.size(); ++n) {
            if (ids.contains(tags.frames[n].id))
                at.append(n);
        }
        const QString value = i == Genre ? f.genre : f.text[i];
        std::unique_ptr<ID3v2::TextIdentificationFrame> frame;
        if (!value.isEmpty()) {
            // ID3v2.3 keeps the year in TYER (TagLib would put it in TDRC and
            // drop a year shorter than four digits), ID3v2.4 in TDRC.
            const QByteArray id = i == Year ? QByteArray(tags.major == 4 ? "TDRC" : "TYER")
                                            : frameIds(Field(i), 3).first();
            frame = std::make_unique<ID3v2::TextIdentificationFrame>(
                TagLib::ByteVector(id.constData(), 4), i == Genre ? String::Latin1 : encodingFor(value));
            frame->setText(toTagLib(value));
        }
        replaceFrames(tags, at, frame.get());
    }
    if (changed[Comment]) {
        QByteArray language("eng");
        QList<qsizetype> at;
        for (qsizetype n = 0; n < tags.frames.size() && at.isEmpty(); ++n) {
            if (tags.isPlainComment(tags.frames[n], &language))
                at.append(n);
        }
        std::unique_ptr<ID3v2::CommentsFrame> frame;
        if (!f.text[Comment].isEmpty()) {
            frame = std::make_unique<ID3v2::CommentsFrame>(encodingFor(f.text[Comment]));
            frame->setLanguage(language.size() == 3 ? TagLib::ByteVector(language.constData(), 3)
                                                    : TagLib::ByteVector("eng"));
            frame->setText(toTagLib(f.text[Comment]));
        }
        replaceFrames(tags, at, frame.get());
    }
}

QByteArray id3v1With(const QByteArray &old, const TagFields &f, const std::array<bool, kFieldCount> &changed)
{
    const bool fresh = old.size() != 128;
    QByteArray tag = fresh ? QByteArray("TAG") + QByteArray(125, '\0') : old;
    // ID3v1.1: a zero byte before a track number ends a 28-byte comment.
    const bool track = !fresh && tag[125] == '\0' && tag[126] != '\0';
    struct Place { int at, width; };
    const Place places[Genre] = {{3, 30}, {33, 30}, {63, 30}, {93, 4}, {97, track ? 28 : 30}};
    for (int i = 0; i < Genre; ++i) {
        if (fresh || changed[i])
            tag.replace(places[i].at, places[i].width, legacyField(f.text[i], places[i].width));
    }
    if (fresh || changed[Genre])
        tag[127] = char(f.genre.isEmpty() ? 255 : f.genreNo);
    return tag;
}

void setApeItems(TagLib::APE::Tag &ape, const TagFields &f, const std::array<bool, kFieldCount> &changed)
{
    static const char *const keys[kFieldCount] = {"TITLE", "ARTIST", "ALBUM", "YEAR", "COMMENT", "GENRE"};
    for (int i = 0; i < kFieldCount; ++i) {
        // addValue with replace removes the item first and adds nothing for
        // an empty value.
        if (changed[i])
            ape.addValue(keys[i], toTagLib(i == Genre ? f.genre : f.text[i]), true);
    }
}

bool holdsChangedFields(const TagFields &readBack, const TagFields &f,
                        const std::array<bool, kFieldCount> &changed)
{
    for (int i = 0; i < Genre; ++i) {
        if (changed[i] && trimmed(readBack.text[i]) != trimmed(f.text[i]))
            return false;
    }
    return !changed[Genre] || readBack.genreNo == (f.genre.isEmpty() ? 255 : f.genreNo);
}

} // namespace mp3lib::detail
