// Reading tags: vbmp3_init, vbmp3_free, vbmp3_getGenre and
// vbmp3_getFileTagInfo, over the plain reader and, for the rest, TagLib
// (through its adapter).
//
// vbmp3_getFileTagInfo runs on several threads at once (one file each) while
// the rename list is built: it keeps no state between calls, and reads text
// without a declared encoding itself, per tag, rather than through TagLib's
// process-wide string handlers, which see one field at a time.

#include "core/tags/vbmp3.h"

#include "core/tags/fileaccess.h"
#include "core/id3v2/id3v2frames.h"
#include "core/id3v2/id3v2guard.h"
#include "core/id3v2/id3v2text.h"
#include "core/tags/tagrecord.h"
#include "core/tags/tagsource.h"
#include "core/tags/taglibadapter.h"
#include "core/tags/textcodec.h"
#include "core/tags/write_files.h"

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

using namespace mp3lib;
using namespace mp3lib::detail;

namespace {

std::atomic<bool> initFails{false};
std::atomic<bool> emptyGenreTable{false};
std::atomic<bool> taglibFileStream{false};
std::atomic<bool> plainReader{true};

// TagLib 1.13 names genres 0 to 191.
constexpr int kNoGenre = 255;

// TagLib's genre names, looked up many times per second while a rename list
// is built: made once, read-only afterwards.
struct GenreTable {
    QStringList names;              // by number; empty where TagLib has none
    QHash<QString, int> byName;
    QHash<QString, int> byFoldedName;

    GenreTable() : names(taglibGenreNames())
    {
        for (int n = 0; n < names.size(); ++n) {
            if (names[n].isEmpty())
                continue;
            byName.insert(names[n], n);
            byFoldedName.insert(names[n].toCaseFolded(), n);
        }
    }

    static const GenreTable &instance()
    {
        static const GenreTable table;
        return table;
    }
};

QString genreName(int number)
{
    const QStringList &names = GenreTable::instance().names;
    return number >= 0 && number < names.size() ? names[number] : QString();
}

// A field counts as missing when it holds nothing but blanks.
bool blank(const QString &text)
{
    for (QChar c : text) {
        if (!c.isSpace() && c != QChar(u'\0'))
            return false;
    }
    return true;
}

struct Genre {
    bool present = false;
    int number = kNoGenre;
    QString name;
};

// A genre given as text (ID3v2, APE): "(17)" and "17" are numbers, a name in
// the table gives its number (case ignored when no exact match), any other
// text is a genre of its own: number 255, the text as name.
Genre genreFromText(const QString &raw)
{
    Genre g;
    const QString text = raw.trimmed();
    if (text.isEmpty())
        return g;
    g.present = true;
    QStringView digits(text);
    if (digits.size() > 2 && digits.front() == u'(' && digits.back() == u')')
        digits = digits.mid(1, digits.size() - 2);
    bool isNumber = false;
    const int n = digits.size() <= 3 ? digits.toInt(&isNumber) : -1;
    if (isNumber && n >= 0 && digits.front().isDigit()) {
        // A number the table has no name for is as unknown as a name it
        // lacks (TagLib drops "(200)" altogether).
        g.name = genreName(n);
        g.number = g.name.isEmpty() ? kNoGenre : n;
        return g;
    }
    g.name = text;
    const GenreTable &table = GenreTable::instance();
    if (const auto it = table.byName.constFind(text); it != table.byName.constEnd()) {
        g.number = *it;
    } else if (const auto f = table.byFoldedName.constFind(text.toCaseFolded());
               f != table.byFoldedName.constEnd()) {
        g.number = *f;
    } else {
        // Names TagLib knows under an older spelling ("Jazz+Funk").
        g.number = taglibGenreIndex(text);
    }
    return g;
}

// Years are kept as text; a recording time ("2001-05-12", "2001-05-12T10:00")
// gives its year only, which is all the five-byte field can carry.
QString yearText(const QString &raw)
{
    const QString text = raw.trimmed();
    if (text.size() > 4 && text[0].isDigit() && text[1].isDigit() && text[2].isDigit()
        && text[3].isDigit() && (text[4] == u'-' || text[4] == u'T'))
        return text.left(4);
    return text;
}

struct Fields {
    QString title, artist, album, year, comment, track;
    Genre genre;
    std::array<FieldSource, kSourceFields> source;   // where each text came from
    bool id3v2 = false, ape = false, id3v1 = false;   // the tags the file has (not filled from others)

    // Takes from `other` what this one lacks.
    void fillFrom(const Fields &other)
    {
        auto take = [&](QString &mine, const QString &theirs, SourceField at) {
            if (blank(mine)) {
                mine = theirs;
                source[at] = other.source[at];
            }
        };
        take(title, other.title, SourceTitle);
        take(artist, other.artist, SourceArtist);
        take(album, other.album, SourceAlbum);
        take(year, other.year, SourceYear);
        take(comment, other.comment, SourceComment);
        if (blank(track))
            track = other.track;
        if (!genre.present)
            genre = other.genre;
    }
};

// The fields of one ID3v2 tag from its text and comment frames. Text
// without a declared encoding (frames marked ISO-8859-1) is read by one
// decision over all such fields of the tag.
Fields fromId3v2(const TextFrames &frames)
{
    QList<LegacyField> legacy;
    for (const TextFrame &frame : frames) {
        if (frame.latin1) {
            for (const QString &field : frame.fields)
                legacy.append({field.toLatin1()});
        }
    }
    const LegacyCodec codec = detectLegacyCodec(legacy);
    auto read = [&](const TextFrame &frame, const QString &field) {
        return frame.latin1 ? decodeLegacyAs(codec, {field.toLatin1()}) : field;
    };
    Fields f;
    // Where the text of `frame` comes from.
    auto sourceOf = [&](const TextFrame &frame, const QStringList &fields) {
        FieldSource s;
        s.where = frame.latin1 ? FieldSource::Id3v2Latin1 : FieldSource::Id3v2Unicode;
        s.codec = codec;
        s.several = fields.size() > 1;
        if (frame.latin1 && fields.size() == 1)
            s.bytes = fields[0].toLatin1();
        return s;
    };
    // The fields of the first frame `id` (none when it is not a text frame).
    auto fields = [&](const char *id, SourceField at = kSourceFields) {
        QStringList out;
        for (const TextFrame &frame : frames) {
            if (!frame.is(id))
                continue;
            if (frame.text) {
                for (const QString &field : frame.fields)
                    out << read(frame, field);
                if (at < kSourceFields)
                    f.source[at] = sourceOf(frame, frame.fields);
            }
            break;
        }
        return out;
    };
    f.title = fields("TIT2", SourceTitle).join(u' ');
    f.artist = fields("TPE1", SourceArtist).join(u' ');
    f.album = fields("TALB", SourceAlbum).join(u' ');
    f.track = fields("TRCK").join(u' ').trimmed();
    // The recording time, else a TYER frame in an ID3v2.4 tag, else the
    // release time. ID3v2.3's TYER (and ID3v2.2's TYE) stand as TDRC here.
    // The original release (TDOR, ID3v2.3's TORY) is another fact, never
    // the year.
    for (const char *id : {"TDRC", "TYER", "TDRL"}) {
        f.year = yearText(fields(id).join(u' '));
        if (!blank(f.year))
            break;
    }
    // The comment is the first COMM frame without a description. Described
    // ones are never it: iTunes keeps its volume data (iTunNORM), gapless
    // figures (iTunSMPB, iTunPGAP) and CD keys (iTunes_CDDB_...) there. A
    // tag without one has no comment of its own; ID3v1's may fill it.
    for (const TextFrame &frame : frames) {
        if (frame.comment && !frame.described) {
            f.comment = read(frame, frame.fields.value(0));
            f.source[SourceComment] = sourceOf(frame, frame.fields);
            break;
        }
    }
    // "(17)Rock" stands as "17" and "Rock"; the first entry is the genre.
    for (const QString &field : fields("TCON")) {
        f.genre = genreFromText(field);
        if (f.genre.present)
            break;
    }
    return f;
}

Fields fromApe(const TagLibTags &tags)
{
    Fields f;
    f.title = tags.apeTitle;
    f.artist = tags.apeArtist;
    f.album = tags.apeAlbum;
    f.year = yearText(tags.apeYear);
    f.comment = tags.apeComment;
    f.genre = genreFromText(tags.apeGenre);
    f.track = tags.apeTrack;
    for (FieldSource &s : f.source)
        s.where = FieldSource::Ape;
    return f;
}

// The ID3v1 tag from its 128 bytes ("TAG", title, artist, album, year,
// comment, genre; an ID3v1.1 comment leaves its last two bytes to a NUL and
// the track number). Its five texts are read by one decision.
Fields fromId3v1(const QByteArray &raw)
{
    Fields f;
    const bool track = raw[125] == '\0' && raw[126] != '\0';
    const int widths[] = {30, 30, 30, 4, track ? 28 : 30};
    QList<LegacyField> fields;
    for (int i = 0, at = 3; i < 5; at += widths[i], ++i) {
        const QByteArray bytes = raw.mid(at, widths[i]);
        const qsizetype nul = bytes.indexOf('\0');
        fields.append({nul < 0 ? bytes : bytes.left(nul), nul < 0});
    }
    const LegacyCodec codec = detectLegacyCodec(fields);
    QList<QString> texts;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        texts.append(decodeLegacyAs(codec, fields[i]));
        f.source[i] = {FieldSource::Id3v1, codec, fields[i].bytes};
    }
    f.title = texts[0].trimmed();
    f.artist = texts[1].trimmed();
    f.album = texts[2].trimmed();
    // A year of digits is a number ("0000" is none); other text stays as
    // written, as the writer stores it.
    bool number = false;
    const int year = texts[3].trimmed().toInt(&number);
    f.year = number ? (year > 0 ? QString::number(year) : QString()) : texts[3].trimmed();
    f.comment = texts[4].trimmed();
    if (track)
        f.track = QString::number(static_cast<unsigned char>(raw[126]));
    const auto genre = static_cast<unsigned char>(raw[127]);
    if (genre < kNoGenre) {
        f.genre.present = true;
        f.genre.number = genre;
        f.genre.name = genreName(genre);
    }
    return f;
}

// The last 128 bytes of the file when they are an ID3v1 tag (from the
// blocks the checks read: no read of its own).
QByteArray id3v1Bytes(FileReader &reader)
{
    const FileReader::u8 *p = reader.size() >= 128 ? reader.at(reader.size() - 128, 128) : nullptr;
    if (!p || std::memcmp(p, "TAG", 3) != 0)
        return {};
    return QByteArray(reinterpret_cast<const char *>(p), 128);
}

void toWire(const Fields &f, TagInfoWire &tag)
{
    setWireText(tag.TrackName, sizeof tag.TrackName, f.title);
    setWireText(tag.ArtistName, sizeof tag.ArtistName, f.artist);
    setWireText(tag.AlbumName, sizeof tag.AlbumName, f.album);
    setWireText(tag.Year, sizeof tag.Year, f.year);
    setWireText(tag.Comment, sizeof tag.Comment, f.comment);
    std::memset(tag.Padding, 0, sizeof tag.Padding);
    tag.GenreNo = f.genre.present ? f.genre.number : kNoGenre;
    setWireText(tag.GenreName, sizeof tag.GenreName, f.genre.present ? f.genre.name : QString());
}

} // namespace

const QStringList &mp3lib::detail::genreNames()
{
    static const QStringList names = GenreTable::instance().names + QStringList(QString());
    return names;
}

namespace {

// What stands at the end of the file, found where TagLib looks: 1 an ID3v1
// tag (unless the bytes before it are an APE footer's, whose "APETAGEX"
// holds "TAG"), 0 none, -1 an APE tag (left to TagLib) or a file too short
// to tell.
int tagsAtEnd(FileReader &reader)
{
    const std::int64_t size = reader.size();
    const std::uint8_t *end = size >= 131 ? reader.at(size - 131, 131) : nullptr;
    if (!end)
        return -1;
    const bool v1 = std::memcmp(end + 3, "TAG", 3) == 0 && std::memcmp(end, "APETAGEX", 8) != 0;
    const std::uint8_t *ape = reader.at(size - (v1 ? 128 : 0) - 32, 8);
    if (!ape || std::memcmp(ape, "APETAGEX", 8) == 0)
        return -1;
    return v1 ? 1 : 0;
}

// Whether the file's ID3v2 tag has an extended header or a second tag
// chained after it, which TagLib misreads.
bool extendedOrChained(FileReader &reader, const AudioSpan &audio)
{
    const std::uint8_t *h = audio.begin >= Id3Header::kSize ? reader.at(0, Id3Header::kSize) : nullptr;
    const Id3Header tag = h ? parseId3Header(h) : Id3Header();
    if (!tag.present)
        return false;
    const std::uint8_t *next = tag.complete + Id3Header::kSize <= audio.begin ? reader.at(tag.complete, 3) : nullptr;
    return tag.extended || (next && std::memcmp(next, "ID3", 3) == 0);
}

// The tag TagLib is to read in place of the file's own, where it would
// misread that: the same frames without an extended header, chained tags
// merged into one, broken frames left out, UTF-16 without a byte-order mark
// in the order the readers here take it; in the same number of bytes.
// Empty where TagLib reads the file right as it is, or where the tag cannot
// be read at all.
QByteArray equivalentTag(FileReader &reader, const AudioSpan &audio)
{
    const std::uint8_t *h = audio.begin >= 10 ? reader.at(0, 10) : nullptr;
    if (!h || std::memcmp(h, "ID3", 3) != 0)
        return {};
    std::vector<std::uint8_t> bytes;
    if (!reader.copy(0, audio.begin, bytes))
        return {};
    const QByteArray head(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
    RawTags tags;
    if (parseTags(head, tags) != TagParse::Parsed || (!mendForTagLib(tags) && tags.taglibReadsAsIs()))
        return {};
    const QByteArray tag = tags.render(tags.end);
    if (tag.size() != tags.end || !id3v2TagIsSafe(tag))
        return {};
    return tag;
}

// The fields of the file's tags, ID3v2 first, then APE, then ID3v1; false
// when the file is not one to hand to TagLib, has no tag, or could not be
// read whole. `size` is the file's size from the fstat of its opening.
bool readFields(int fd, std::int64_t size, Fields &out)
{
    FileReader reader(fd, size);
    const FileCheck check = checkFile(reader);
    if (!check.audio.found)
        return false;
    const bool asItStands = !extendedOrChained(reader, check.audio);
    if (asItStands && !check.id3v2Safe)
        return false;

    // A plain ID3v2 tag at the start, no APE tag: read from the blocks the
    // checks have read.
    bool taglibMisreads = true;
    if (asItStands && !taglibFileStream.load()) {
        TextFrames frames;
        switch (readPlainTag(reader, frames, taglibMisreads)) {
        case PlainTag::Failed:
            return false;
        case PlainTag::Read:
            if (const int v1 = tagsAtEnd(reader); v1 >= 0 && plainReader.load()) {
                out = fromId3v2(frames);
                if (v1 == 1)
                    out.fillFrom(fromId3v1(id3v1Bytes(reader)));
                out.id3v2 = true;
                out.id3v1 = v1 == 1;
                return true;
            }
            break;
        case PlainTag::NotPlain:
            break;
        }
    }

    // TagLib reads the very file checked above, read-only, and the tags
    // only, through the blocks already read for the checks.
    const QByteArray equivalent = asItStands && !taglibMisreads ? QByteArray()
                                                                : equivalentTag(reader, check.audio);
    if (equivalent.isEmpty() && !check.id3v2Safe)
        return false;
    TagLibTags tags;
    if (!readTagsWithTagLib(reader, equivalent, taglibFileStream.load(), tags))
        return false;
    if (!tags.id3v2 && !tags.ape && !tags.id3v1)
        return false;

    Fields f;
    if (tags.id3v2)
        f = fromId3v2(tags.frames);
    if (tags.ape)
        f.fillFrom(fromApe(tags));
    if (tags.id3v1) {
        const QByteArray raw = id3v1Bytes(reader);
        if (!raw.isEmpty())
            f.fillFrom(fromId3v1(raw));
    }
    f.id3v2 = tags.id3v2;
    f.ape = tags.ape;
    f.id3v1 = tags.id3v1;
    out = f;
    return true;
}

// Removes what killed tag writes left in the folder of `path`, once per
// folder and run: the reader is called for every file of a list.
void tidyFolderOnce(const char *path)
{
    static QMutex mutex;
    static QSet<QByteArray> tidied;
    QByteArray folder(path);
    const qsizetype slash = folder.lastIndexOf('/');
    folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : folder.left(slash);
    // A list is mostly whole folders: the folder of this thread's last file
    // needs no lock.
    thread_local QByteArray last;
    if (folder == last)
        return;
    last = folder;
    {
        const QMutexLocker lock(&mutex);
        if (tidied.contains(folder))
            return;
        tidied.insert(folder);
    }
    mp3lib::removeLeftoverCopies(folder.constData());
}

} // namespace

namespace mp3lib::detail {

bool readTagRecord(int fd, TagInfoWire &tag)
{
    return readTagRecord(fd, -1, tag);
}

bool readTagRecord(int fd, std::int64_t size, TagInfoWire &tag)
{
    try {
        Fields f;
        if (!readFields(fd, size, f))
            return false;
        toWire(f, tag);
        return true;
    } catch (...) {
        // Out of memory inside TagLib or Qt: a failed read, not a crash.
        return false;
    }
}

} // namespace mp3lib::detail

std::int16_t vbmp3_init()
{
    return initFails.load() ? 0 : 1;
}

std::int16_t vbmp3_free()
{
    return 1;
}

std::int16_t vbmp3_getGenre(TagInfoWire &tag)
{
    const QString name = emptyGenreTable.load() ? QString() : genreName(tag.GenreNo);
    setWireText(tag.GenreName, sizeof tag.GenreName, name);
    return name.isEmpty() ? 0 : 1;
}

std::int16_t vbmp3_getFileTagInfo(const char *path, TagInfoWire &tag)
{
    return mp3lib::readFileTag(path, tag) == mp3lib::TagRead::Read ? 1 : 0;
}

namespace mp3lib {

namespace {

// Opens `path` as every tag read does and runs `read` on the file.
template <typename Read>
TagRead readOpened(const char *path, Read read)
{
    struct stat st;
    bool exists = false;
    const Fd fd = openRegularFile(path, O_RDONLY, &st, &exists);
    if (!fd.valid())
        return exists ? TagRead::Failed : TagRead::NotFound;
    tidyFolderOnce(path);
    return read(fd.get(), st.st_size) ? TagRead::Read : TagRead::Failed;
}

} // namespace

TagRead readFileTag(const char *path, TagInfoWire &tag)
{
    return readOpened(path, [&](int fd, std::int64_t size) { return readTagRecord(fd, size, tag); });
}

TagRead readSourcedTag(const char *path, SourcedTag &out)
{
    return readOpened(path, [&](int fd, std::int64_t size) {
        try {
            Fields f;
            if (!readFields(fd, size, f))
                return false;
            out.text = {f.title, f.artist, f.album, f.year, f.comment};
            out.source = f.source;
            out.genreNo = f.genre.present ? f.genre.number : kNoGenre;
            out.genre = f.genre.present ? f.genre.name : QString();
            out.track = f.track;
            out.id3v2 = f.id3v2;
            out.ape = f.ape;
            out.id3v1 = f.id3v1;
            return true;
        } catch (...) {
            return false;   // out of memory: a failed read
        }
    });
}

void setTagLibFileStreamForTesting(bool on)
{
    taglibFileStream.store(on);
}

void setPlainReaderForTesting(bool on)
{
    plainReader.store(on);
}

void setInitFailureForTesting(bool fail)
{
    initFails.store(fail);
}

void setEmptyGenreTableForTesting(bool empty)
{
    emptyGenreTable.store(empty);
}

} // namespace mp3lib
