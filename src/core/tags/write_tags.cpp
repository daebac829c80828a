#include "core/tags/write_tags.h"

#include "core/tags/fieldtext.h"
#include "core/id3v2/id3v2frames.h"
#include "core/tags/taglibadapter.h"
#include "core/tags/textcodec.h"

namespace mp3lib::detail {

namespace {

// ISO-8859-1 only for plain ASCII. Text marked ISO-8859-1 is read as CP932
// or Windows-1252 by what it looks like, and a short text can look like
// either, so other text goes out as UTF-16, which says what it is.
FrameText encodingFor(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() > 0x7F)
            return FrameText::Utf16;
    }
    return FrameText::Latin1;
}

// What an Update sends back for the stored text `stored` of `field` when
// the user leaves its box alone: the box's text (the year's full-width
// digits as ASCII), in the record's field of `width` bytes.
QString sentWhenUntouched(const QString &stored, Field field)
{
    const bool year = field == Year;
    const QString box = shownInBox(stored, year ? kYearBoxLength : kBoxLength);
    char wire[sizeof TagInfoWire::TrackName];
    const int width = year ? int(sizeof TagInfoWire::Year) : int(sizeof wire);
    setWireText(wire, width, year ? yearDigits(box) : box);
    return wireText(wire, width);
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

const char *id22For(const QByteArray &id)
{
    static const char *const map[][2] = {{"TIT2", "TT2"}, {"TPE1", "TP1"}, {"TALB", "TAL"},
                                         {"TYER", "TYE"}, {"TCON", "TCO"}, {"COMM", "COM"},
                                         {"TRCK", "TRK"}};
    for (const auto &pair : map) {
        if (id == pair[0])
            return pair[1];
    }
    return nullptr;
}

// The frame `all`, rendered by TagLib, in the version and unsynchronisation
// of `tags`. TagLib renders a frame of its own making as ID3v2.4; the body
// of a text or comment frame in ISO-8859-1 or UTF-16 is the same in every
// version, only the header differs.
RawFrame frameFrom(const RawTags &tags, const QByteArray &all)
{
    const QByteArray id = tags.major == 2 ? QByteArray(id22For(all.left(4))) : all.left(4);
    QByteArray body = all.mid(Id3Header::kSize);
    // Where the tag says every frame is unsynchronised, this one is too,
    // and says so itself.
    const bool unsync = tags.major == 4 && tags.unsync;
    if (unsync)
        body = applyUnsync(body);
    return {id, frameHeaderBytes(tags.major, id, quint32(body.size()), unsync ? "\0\x02" : "\0\0") + body};
}

// Whether the comment frame `f` of `tags` has no description; false for a
// frame that is not a comment or cannot be read.
bool isPlainComment(const RawTags &tags, const RawFrame &f, QByteArray *language)
{
    if (f.id != "COMM" && f.id != "COM")
        return false;
    // TagLib parses the one frame against a header of this tag's version;
    // a whole ID3v2.3 tag's unsynchronisation is already undone.
    const QByteArray h = tagHeaderBytes(tags.major, tags.revision, tags.major == 4 && tags.unsync ? 0x80 : 0x00, 0);
    return isPlainCommentFrame(f.bytes, h, language);
}

// Replaces the frames at `at` (removed) by `frame` at the place of the
// first, or at the end when there were none; never behind a broken piece,
// where a reader that stops at it would not see the new frame.
void replaceFrames(RawTags &tags, const QList<qsizetype> &at, const QByteArray &frame)
{
    qsizetype place = at.isEmpty() ? tags.frames.size() : at.first();
    for (qsizetype n = 0; n < place; ++n) {
        if (tags.frames[n].broken) {
            place = n;
            break;
        }
    }
    for (qsizetype i = at.size() - 1; i >= 0; --i)
        tags.frames.removeAt(at[i]);
    if (!frame.isEmpty())
        tags.frames.insert(place, frameFrom(tags, frame));
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
    const QString name = genreNames().value(wire.GenreNo);
    if (!name.isEmpty()) {
        f.genre = name;
        f.genreNo = wire.GenreNo;
    }
    return f;
}

std::array<bool, kFieldCount> changedFields(const TagFields &wanted, const TagFields &current)
{
    std::array<bool, kFieldCount> changed{};
    for (int i = 0; i < Genre; ++i)
        changed[i] = wanted.text[i] != sentWhenUntouched(current.text[i], Field(i));
    changed[Genre] = wanted.genreNo != current.genreNo;
    return changed;
}

void setFrames(RawTags &tags, const TagFields &f, const std::array<bool, kFieldCount> &changed)
{
    for (int i = 0; i < kFieldCount; ++i) {
        if (!changed[i] || i == Comment)
            continue;
        QList<QByteArray> ids = frameIds(Field(i), tags.major);
        // Without a recording date the year is read from the release date:
        // a year cleared goes from there too, or it would come back from it.
        // The original release (TDOR, TORY) is another fact and stays.
        if (i == Year && f.text[Year].isEmpty())
            ids << "TDRL";
        QList<qsizetype> at;
        for (qsizetype n = 0; n < tags.frames.size(); ++n) {
            if (ids.contains(tags.frames[n].id))
                at.append(n);
        }
        const QString value = i == Genre ? f.genre : f.text[i];
        QByteArray frame;
        if (!value.isEmpty()) {
            // ID3v2.3 keeps the year in TYER (TagLib would put it in TDRC and
            // drop a year shorter than four digits), ID3v2.4 in TDRC.
            const QByteArray id = i == Year ? QByteArray(tags.major == 4 ? "TDRC" : "TYER")
                                            : frameIds(Field(i), 3).first();
            frame = renderTextFrame(id, value, encodingFor(value));
        }
        replaceFrames(tags, at, frame);
    }
    if (changed[Comment]) {
        QByteArray language("eng");
        QList<qsizetype> plain;
        for (qsizetype n = 0; n < tags.frames.size() && plain.size() < 2; ++n) {
            if (isPlainComment(tags, tags.frames[n], plain.isEmpty() ? &language : nullptr))
                plain.append(n);
        }
        // The comment is the first comment frame without a description;
        // every other comment frame stays. A cleared comment whose frame
        // another plain one follows stays as an empty frame, or the next
        // would read as the comment. That frame is UTF-16: its text is
        // then a byte-order mark and a terminator, which readers that drop
        // a comment frame without text (mutagen) keep as an empty comment.
        QByteArray frame;
        if (!f.text[Comment].isEmpty() || plain.size() > 1)
            frame = renderCommentFrame(f.text[Comment],
                                       f.text[Comment].isEmpty() ? FrameText::Utf16 : encodingFor(f.text[Comment]),
                                       language.size() == 3 ? language : QByteArray("eng"));
        replaceFrames(tags, plain.mid(0, 1), frame);
    }
}

void addTrackFrame(RawTags &tags, int track)
{
    tags.frames.append(frameFrom(tags, renderTextFrame("TRCK", QString::number(track), FrameText::Latin1)));
}

QByteArray id3v1With(const QByteArray &old, const TagFields &f, const std::array<bool, kFieldCount> &changed)
{
    const bool fresh = old.size() != 128;
    QByteArray tag = fresh ? QByteArray("TAG") + QByteArray(125, '\0') : old;
    // ID3v1.1: a zero byte before a track number ends a 28-byte comment.
    const bool track = !fresh && tag[125] == '\0' && tag[126] != '\0';
    struct Place { int at, width; };
    const Place places[Genre] = {{3, 30}, {33, 30}, {63, 30}, {93, 4}, {97, track ? 28 : 30}};
    // The tag's text in one code page, as reading decides one per tag: the
    // fields not written are read as reading does, and keep their bytes
    // where the code page decided gives them back.
    QList<LegacyField> stored;
    for (const Place &p : places) {
        const QByteArray bytes = tag.mid(p.at, p.width);
        const qsizetype nul = bytes.indexOf('\0');
        stored.append({nul < 0 ? bytes : bytes.left(nul), nul < 0});
    }
    const QList<QString> storedTexts = decodeLegacyFields(stored);
    QList<QString> texts;
    QList<int> widths;
    QList<bool> kept;
    for (int i = 0; i < Genre; ++i) {
        texts.append(fresh || changed[i] ? f.text[i] : storedTexts.value(i));
        widths.append(places[i].width);
        kept.append(!fresh && !changed[i]);
    }
    const QList<QByteArray> encoded = encodeLegacyFields(texts, widths, kept);
    for (int i = 0; i < Genre; ++i) {
        // A field that filled its width may end in half a character, which
        // reading drops: its bytes are kept too.
        const QByteArray &was = stored[i].bytes;
        const bool same = encoded[i] == was
                          || (stored[i].cut && was.size() == encoded[i].size() + 1 && was.startsWith(encoded[i]));
        if (fresh || changed[i] || !same)
            tag.replace(places[i].at, places[i].width, encoded[i].leftJustified(places[i].width, '\0', true));
    }
    if (fresh || changed[Genre])
        tag[127] = char(f.genre.isEmpty() ? 255 : f.genreNo);
    return tag;
}

namespace {

quint32 littleEndian(const QByteArray &b, qsizetype at)
{
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | quint8(b[at + i]);
    return v;
}

void setLittleEndian(QByteArray &b, qsizetype at, quint32 v)
{
    for (int i = 0; i < 4; ++i, v >>= 8)
        b[at + i] = char(v & 0xFF);
}

} // namespace

QByteArray apeWith(const QByteArray &old, const TagFields &f, const std::array<bool, kFieldCount> &changed)
{
    // Header (when its flags say so), items, footer: "APETAGEX", version,
    // size of items and footer, item count, flags, 8 reserved bytes; all
    // little-endian. An item: value size, flags, key, NUL, value.
    constexpr int kFrame = 32;
    if (old.size() < kFrame || !old.right(kFrame).startsWith("APETAGEX"))
        return {};
    QByteArray footer = old.right(kFrame);
    const quint32 size = littleEndian(footer, 12), count = littleEndian(footer, 16);
    const bool hasHeader = littleEndian(footer, 20) & 0x80000000u;
    const qsizetype itemsAt = hasHeader ? kFrame : 0;
    if (size < quint32(kFrame) || qint64(size) + itemsAt != old.size()
        || (hasHeader && !old.startsWith("APETAGEX")))
        return {};
    const qsizetype itemsEnd = old.size() - kFrame;
    struct Item {
        QByteArray key, bytes;
    };
    QList<Item> items;
    qsizetype pos = itemsAt;
    for (quint32 n = 0; n < count; ++n) {
        if (itemsEnd - pos < 9)
            return {};
        const quint32 valueSize = littleEndian(old, pos);
        const qsizetype nul = old.indexOf('\0', pos + 8);
        if (nul < 0 || nul >= itemsEnd || qint64(valueSize) > itemsEnd - nul - 1)
            return {};
        const qsizetype next = nul + 1 + qsizetype(valueSize);
        items.append({old.mid(pos + 8, nul - pos - 8).toUpper(), old.mid(pos, next - pos)});
        pos = next;
    }
    if (pos != itemsEnd)
        return {};

    // The changed fields' items replaced at the place of the first (new
    // ones at the end), as UTF-8 text; every other item as it stands.
    static const char *const keys[kFieldCount] = {"TITLE", "ARTIST", "ALBUM", "YEAR", "COMMENT", "GENRE"};
    for (int i = 0; i < kFieldCount; ++i) {
        if (!changed[i])
            continue;
        qsizetype place = items.size();
        for (qsizetype n = items.size() - 1; n >= 0; --n) {
            if (items[n].key == keys[i]) {
                items.removeAt(n);
                place = n;
            }
        }
        const QByteArray value = (i == Genre ? f.genre : f.text[i]).toUtf8();
        if (value.isEmpty())
            continue;
        QByteArray item(8, '\0');
        setLittleEndian(item, 0, quint32(value.size()));
        items.insert(place, {keys[i], item + keys[i] + '\0' + value});
    }
    QByteArray body;
    for (const Item &item : items)
        body += item.bytes;
    setLittleEndian(footer, 12, quint32(body.size() + kFrame));
    setLittleEndian(footer, 16, quint32(items.size()));
    QByteArray header;
    if (hasHeader) {
        header = old.left(kFrame);
        setLittleEndian(header, 12, quint32(body.size() + kFrame));
        setLittleEndian(header, 16, quint32(items.size()));
    }
    return header + body + footer;
}

bool holdsChangedFields(const TagFields &readBack, const TagFields &f,
                        const std::array<bool, kFieldCount> &changed)
{
    for (int i = 0; i < Genre; ++i) {
        if (changed[i] && trimBlanks(readBack.text[i]) != trimBlanks(f.text[i]))
            return false;
    }
    return !changed[Genre] || readBack.genreNo == (f.genre.isEmpty() ? 255 : f.genreNo);
}

} // namespace mp3lib::detail
