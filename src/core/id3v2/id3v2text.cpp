// Text and comment frames of an ID3v2 tag; see id3v2text.h.
//
// The plain reader gives what TagLib 1.13 makes of the same bytes where
// TagLib reads them right: the same frames in the same order (ID3v2.3's
// TYER, TORY and IPLS under their ID3v2.4 names, the four frames ID3v2.4
// dropped left out), fields split and trimmed as TagLib splits them, UTF-16
// byte order taken from a field's own mark or the first field's, a genre
// "(17)Rock" split into "17" and "Rock". The frames are those of the byte
// layer's walk (id3v2layer.h). Where TagLib reads the bytes wrongly, both
// readers read what they hold instead (see mendForTagLib): a broken frame
// (no data, an ID of other characters) is stepped over and the walk goes
// on, and UTF-16 without a byte-order mark is little-endian, as the Windows
// taggers that write it meant. Where
// TagLib's reading depends on more than this (unsynchronisation,
// compression, characters outside the Basic Multilingual Plane, a
// byte-order mark that Qt's conversion would drop, numbers TagLib's wcstol
// might read otherwise, ID3v2.3 dates that TagLib joins), the tag is not
// plain.

#include "core/id3v2/id3v2text.h"

#include "core/id3v2/id3v2frames.h"

#include <algorithm>

namespace mp3lib::detail {

namespace {

using u8 = std::uint8_t;

void setId(TextFrame &frame, const char *id, int size)
{
    std::memcpy(frame.id, id, size_t(std::min(size, 4)));
}

// ---------------------------------------------------------------------------
// The plain reader

enum Encoding { Latin1 = 0, Utf16 = 1, Utf16BE = 2, Utf8 = 3, Utf16LE = 4 };

struct Bytes {
    const u8 *data = nullptr;
    qsizetype size = 0;
    Bytes mid(qsizetype at, qsizetype n) const
    {
        at = std::min(at, size);
        return {data + at, std::min(n, size - at)};
    }
};

// Splits `b` at each `delim`-byte run of zeros found at a multiple of
// `delim` (TagLib's ByteVectorList::split); at most `max` pieces when given.
QList<Bytes> split(Bytes b, int delim, int max = 0)
{
    QList<Bytes> out;
    qsizetype previous = 0;
    auto find = [&](qsizetype from) -> qsizetype {
        for (qsizetype i = from; i + delim <= b.size; i += delim) {
            if (b.data[i] == 0 && (delim == 1 || b.data[i + 1] == 0))
                return i;
        }
        return -1;
    };
    for (qsizetype at = find(0); at >= 0 && (max == 0 || max > out.size() + 1); at = find(at + delim)) {
        out.append(b.mid(previous, at - previous));
        previous = at + delim;
    }
    if (previous < b.size)
        out.append(b.mid(previous, b.size - previous));
    return out;
}

// The byte order a UTF-16 field's byte-order mark gives, Utf16 for none.
int byteOrderMark(Bytes b)
{
    if (b.size < 2)
        return Utf16;
    return b.data[0] == 0xFE && b.data[1] == 0xFF ? Utf16BE : b.data[0] == 0xFF && b.data[1] == 0xFE ? Utf16LE : Utf16;
}

// Text in one of the encodings as TagLib's String reads it, cut at its
// first NUL, into `out`; false where Qt's reading of TagLib's result could
// differ from this one (then the tag is TagLib's to read).
bool decode(Bytes b, int encoding, QString &out)
{
    out.clear();
    if (encoding == Latin1) {
        const u8 *nul = static_cast<const u8 *>(std::memchr(b.data, 0, size_t(b.size)));
        out = QString::fromLatin1(reinterpret_cast<const char *>(b.data), nul ? nul - b.data : b.size);
        return true;
    }
    if (encoding == Utf8) {
        const QByteArrayView bytes(b.data, b.size);
        // Four-byte sequences become surrogate pairs in TagLib; a BOM and
        // the two noncharacters are left to it as well.
        if (!bytes.isValidUtf8() || bytes.contains("\xEF\xBB\xBF") || bytes.contains("\xEF\xBF\xBE")
            || bytes.contains("\xEF\xBF\xBF"))
            return false;
        for (const char c : bytes) {
            if (static_cast<u8>(c) >= 0xF0)
                return false;
        }
        out = QString::fromUtf8(bytes);
        if (const qsizetype nul = out.indexOf(QChar(u'\0')); nul >= 0)
            out.truncate(nul);
        return true;
    }
    qsizetype units = b.size / 2;
    const u8 *p = b.data;
    bool bigEndianText = encoding == Utf16BE;
    // A byte-order mark gives the order; without one, little-endian.
    if (const int mark = encoding == Utf16 ? byteOrderMark(b) : Utf16; mark != Utf16) {
        bigEndianText = mark == Utf16BE;
        p += 2;
        --units;
    }
    out.reserve(units);
    for (qsizetype i = 0; i < units; ++i, p += 2) {
        const char16_t c = bigEndianText ? char16_t(p[0] << 8 | p[1]) : char16_t(p[1] << 8 | p[0]);
        if (c == 0)
            break;
        if ((c >= 0xD800 && c <= 0xDFFF) || c == 0xFEFF || c == 0xFFFE || c == 0xFFFF)
            return false;
        out.append(QChar(c));
    }
    return true;
}

// TagLib's reading of a genre frame's fields: each "(n)" in front is a
// genre number of its own, unless the text after it is that genre's name;
// "(RX)" and "(CR)" are kept as such. False where TagLib's number reading
// (wcstol) is not plainly all digits or plainly none.
bool splitGenres(QStringList &fields)
{
    const QStringList &names = genreNames();
    QStringList out;
    for (QString s : fields) {
        qsizetype end = 0;
        while (!s.isEmpty() && s[0] == u'(' && (end = s.indexOf(u')', 1)) > 0) {
            const QString code = s.mid(1, end - 1);
            s = s.mid(end + 1);
            bool digits = !code.isEmpty() && code.size() <= 9;
            bool anyDigit = false;
            for (QChar c : code) {
                digits = digits && c >= u'0' && c <= u'9';
                anyDigit = anyDigit || (c >= u'0' && c <= u'9') || c.isDigit();
            }
            if (!digits && anyDigit)
                return false;
            const int number = digits ? code.toInt() : -1;
            if ((number >= 0 && number <= 255 && names[number] != s) || code == u"RX" || code == u"CR")
                out << code;
        }
        if (!s.isEmpty())
            out << s;
    }
    fields = out;
    return true;
}

// The encoding byte of a frame body: false when it names none of the four.
bool readEncoding(Bytes body, TextFrame &frame, int &encoding, int &align)
{
    encoding = body.data[0];
    if (encoding > Utf8)
        return false;
    frame.latin1 = encoding == Latin1;
    align = encoding == Latin1 || encoding == Utf8 ? 1 : 2;
    return true;
}

// The fields of a text frame's body (of two bytes or more): after the
// encoding byte, trailing NULs dropped, split at each NUL.
QList<Bytes> textFields(Bytes body, int align)
{
    qsizetype length = body.size - 1;
    while (length > 0 && body.data[length] == 0)
        --length;
    while (length % align != 0)
        ++length;
    return split(body.mid(1, length), align);
}

// A comment frame's description and text (of five bytes or more).
QList<Bytes> commentFields(Bytes body, int align)
{
    return split(body.mid(4, body.size), align, 2);
}

// A text frame's body: encoding byte, then fields split by NUL, trailing
// NULs dropped, empty fields skipped.
bool readTextFrame(Bytes body, TextFrame &frame)
{
    frame.text = true;
    frame.latin1 = true;
    if (body.size < 2)
        return true;
    int encoding, align;
    if (!readEncoding(body, frame, encoding, align))
        return false;
    const QList<Bytes> pieces = textFields(body, align);
    // UTF-16 fields without a byte-order mark take the first field's order
    // (when the first field is not empty and has one).
    int firstOrder = Utf16;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const Bytes &piece = pieces[i];
        if (piece.size == 0)
            continue;
        if (align == 2 && piece.size % 2 != 0)
            return false;
        int as = encoding;
        if (encoding == Utf16) {
            const int order = byteOrderMark(piece);
            if (i == 0)
                firstOrder = order;
            else if (order == Utf16)
                as = firstOrder;
        }
        QString text;
        if (!decode(piece, as, text))
            return false;
        frame.fields << text;
    }
    return !frame.is("TCON") || splitGenres(frame.fields);
}

// A comment frame's body: encoding byte, language, description and text
// (the text keeps what follows the first delimiter, cut at a NUL). Fewer
// than five bytes, or no text after the description, reads as a comment
// with neither.
bool readCommentFrame(Bytes body, TextFrame &frame)
{
    frame.comment = true;
    frame.latin1 = true;
    if (body.size < 5) {
        frame.fields << QString();
        return true;
    }
    int encoding, align;
    if (!readEncoding(body, frame, encoding, align))
        return false;
    const QList<Bytes> pieces = commentFields(body, align);
    QString description, text;
    if (pieces.size() == 2 && (!decode(pieces[0], encoding, description) || !decode(pieces[1], encoding, text)))
        return false;
    frame.described = !description.isEmpty();
    frame.fields << text;
    return true;
}

// The body of a UTF-16 text or comment frame with a field that TagLib
// reads as empty for want of a byte-order mark (a text frame's field
// without one takes the first field's), as UTF-16BE without marks: the
// same text as the readers here take it, in as many bytes or fewer. Empty
// where TagLib reads the body right as it stands.
QByteArray unmarkedUtf16AsBigEndian(Bytes body, bool comment)
{
    if (body.size < (comment ? 5 : 2) || body.data[0] != Utf16)
        return {};
    const QList<Bytes> fields = comment ? commentFields(body, 2) : textFields(body, 2);
    const bool inherited = !comment && !fields.isEmpty() && byteOrderMark(fields[0]) != Utf16;
    bool unmarked = false;
    for (const Bytes &field : fields)
        unmarked = unmarked || (field.size > 0 && byteOrderMark(field) == Utf16 && !inherited);
    if (!unmarked)
        return {};
    QByteArray out(reinterpret_cast<const char *>(body.data), comment ? 4 : 1);
    out[0] = char(Utf16BE);
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out += QByteArray(2, '\0');
        Bytes field = fields[i];
        const int mark = byteOrderMark(field);
        if (mark != Utf16)
            field = field.mid(2, field.size);
        const bool swap = mark != Utf16BE;
        for (qsizetype k = 0; k < field.size; ++k)
            out += char(swap && (k ^ 1) < field.size ? field.data[k ^ 1] : field.data[k]);
    }
    return out;
}

// One frame of a plain walk (flags clear, within the tag), its body of
// `size` bytes at `at`: a text or comment frame is appended to `frames`
// (other bodies are not read); `plain` cleared where it is TagLib's to
// read, `taglibMisreads` set where TagLib would read it as empty. False
// when the body could not be read.
bool readFrame(FileReader &reader, qint64 at, char *id, qint64 size, int major, TextFrames &frames, bool &plain,
               bool &taglibMisreads)
{
    const QByteArrayView name(id, 4);
    if (major == 3) {
        if (name == "TDAT") {
            plain = false;
            return true;
        }
        if (name == "TIME" || name == "TRDA" || name == "TSIZ")
            return true;
        if (name == "TYER")
            std::memcpy(id, "TDRC", 4);
        else if (name == "TORY")
            std::memcpy(id, "TDOR", 4);
        else if (name == "IPLS")
            std::memcpy(id, "TIPL", 4);
    } else if (name == "TRDC") {
        std::memcpy(id, "TDRC", 4);
    }
    const bool text = id[0] == 'T' || name == "WFED" || name == "MVNM" || name == "MVIN" || name == "GRP1";
    if (!text && name != "COMM")
        return true;
    const u8 *body = reader.at(at, size);
    if (!body)
        return false;
    TextFrame frame;
    setId(frame, id, 4);
    if (!(text ? readTextFrame({body, size}, frame) : readCommentFrame({body, size}, frame)))
        plain = false;
    else
        frames.append(frame);
    if (body[0] == Utf16 && !unmarkedUtf16AsBigEndian({body, size}, !text).isEmpty())
        taglibMisreads = true;
    return true;
}

} // namespace

bool mendForTagLib(RawTags &tags)
{
    const int hs = tags.major == 2 ? 6 : 10;
    bool mended = false;
    for (qsizetype i = tags.frames.size() - 1; i >= 0; --i) {
        RawFrame &f = tags.frames[i];
        // TagLib stops at a broken frame (see id3v2layer.h). Bytes kept
        // from the padding (it starts with a zero byte) are where TagLib
        // stops anyway: leaving them out changes nothing it reads.
        if (f.broken) {
            mended = mended || f.bytes.isEmpty() || f.bytes[0] != '\0';
            tags.frames.removeAt(i);
            continue;
        }
        const qsizetype size = f.bytes.size() - hs;
        const u8 format = tags.major == 2 ? 0 : u8(f.bytes[9]);
        // A data length indicator claiming more than the frame holds: the
        // frame's data is what it holds.
        if (tags.major == 4 && (format & 0x01)) {
            Id3FrameHeader h;
            h.size = quint32(size);
            h.dataLength = true;
            h.compressed = format & 0x08;
            h.encrypted = format & 0x04;
            auto *body = reinterpret_cast<u8 *>(f.bytes.data()) + hs;
            if (dataLengthOverruns(h, body)) {
                std::memcpy(body, syncsafeBytes(quint32(size - 4)).constData(), 4);
                mended = true;
            }
        }
        // Bodies stored as read (no compression, encryption, grouping or
        // unsynchronisation of their own) of text and comment frames.
        const bool comment = f.id == "COMM" || f.id == "COM";
        if (format != 0 || (tags.major == 4 && tags.unsync) || !(comment || f.id.startsWith('T')))
            continue;
        const QByteArray body = unmarkedUtf16AsBigEndian({reinterpret_cast<const u8 *>(f.bytes.constData()) + hs, size}, comment);
        if (body.isEmpty())
            continue;
        const bool v22 = tags.major == 2;
        f.bytes = frameHeaderBytes(tags.major, f.bytes.left(v22 ? 3 : 4), quint32(body.size()),
                                   v22 ? nullptr : f.bytes.constData() + 8)
                  + body;
        mended = true;
    }
    return mended;
}

PlainTag readPlainTag(FileReader &reader, TextFrames &frames, bool &taglibMisreads)
{
    frames.clear();
    taglibMisreads = true;   // until the walk below says otherwise
    const u8 *h = reader.at(0, Id3Header::kSize);
    if (!h)
        return PlainTag::NotPlain;
    const Id3Header tag = parseId3Header(h);
    if (!tag.present || (tag.major != 3 && tag.major != 4) || tag.flags != 0 || !tag.sizeValid)
        return PlainTag::NotPlain;
    const qint64 length = tag.tagSize;
    if ((length != 0 && length <= 10) || Id3Header::kSize + length > reader.size())
        return PlainTag::NotPlain;
    const qint64 base = Id3Header::kSize;
    // A tag that is not plain is still walked to its end, for whether
    // TagLib would misread it.
    bool plain = true, failed = false;
    taglibMisreads = false;
    const auto at = [&](qint64 pos, qint64 n) { return reader.at(base + pos, n); };
    const auto frame = [&](qint64 pos, const Id3FrameHeader *f, qint64) {
        if (!f) {
            taglibMisreads = true;   // a broken frame: TagLib stops there, the frames after it still count
        } else if (f->idLength == 3) {
            plain = false;           // an ID3v2.2 frame inside, as iTunes wrote them: left to TagLib,
            taglibMisreads = true;   // mended where it needs it
        } else if (f->flags[0] != 0 || f->flags[1] != 0) {
            plain = false;
            if (f->dataLength) {
                const u8 *lengthBytes = at(pos + f->headerSize, 4);
                if (!lengthBytes)
                    failed = true;
                else if (dataLengthOverruns(*f, lengthBytes))
                    taglibMisreads = true;
            }
        } else {
            char id[4];
            std::memcpy(id, f->id, 4);
            failed = !readFrame(reader, base + pos + 10, id, f->size, tag.major, frames, plain, taglibMisreads);
        }
        return !failed;
    };
    const WalkResult walk = walkFrames(at, 0, length, tag.major, frame);
    if (failed || walk.end == WalkEnd::ReadFailed)
        return PlainTag::Failed;
    // A tag that overruns is the guard's to refuse.
    return plain && walk.end == WalkEnd::Done ? PlainTag::Read : PlainTag::NotPlain;
}

} // namespace mp3lib::detail
