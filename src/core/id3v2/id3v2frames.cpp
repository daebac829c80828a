#include "id3v2frames.h"

#include <taglib/commentsframe.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2header.h>

#include <memory>

namespace mp3lib::detail {

namespace {

constexpr int kHeaderSize = 10;
constexpr int kMaxChainedTags = 64;
constexpr int kMaxFrames = 10000;
constexpr std::int64_t kMaxTagBody = 0x0FFFFFFF;   // 28 bits
// Room left for later edits when a tag has to grow anyway.
constexpr std::int64_t kGrowthPadding = 2048;

QByteArray syncsafeBytes(quint32 n)
{
    QByteArray b(4, '\0');
    for (int i = 3; i >= 0; --i, n >>= 7)
        b[i] = char(n & 0x7F);
    return b;
}

QByteArray bigEndianBytes(quint32 n, int width)
{
    QByteArray b(width, '\0');
    for (int i = width - 1; i >= 0; --i, n >>= 8)
        b[i] = char(n & 0xFF);
    return b;
}

// FF 00 stands for FF.
QByteArray undoUnsync(const QByteArray &in)
{
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        out += in[i];
        if (quint8(in[i]) == 0xFF && i + 1 < in.size() && in[i + 1] == '\0')
            ++i;
    }
    return out;
}

// A 00 after every FF that a reader could take for the start of an MPEG
// frame sync (FF followed by E0 or more) or for the FF 00 pair itself.
QByteArray applyUnsync(const QByteArray &in)
{
    QByteArray out;
    out.reserve(in.size() + in.size() / 64);
    for (qsizetype i = 0; i < in.size(); ++i) {
        out += in[i];
        if (quint8(in[i]) == 0xFF && (i + 1 == in.size() || quint8(in[i + 1]) >= 0xE0 || in[i + 1] == '\0'))
            out += '\0';
    }
    return out;
}

// Whether a frame starts at `pos` of `body`: a frame ID, a size that is
// not zero and that the body holds. Its size in `size`.
bool frameAt(const QByteArray &body, qsizetype pos, int major, quint32 *size)
{
    const int hs = major == 2 ? 6 : 10;
    const char *d = body.constData();
    const qsizetype n = body.size();
    if (pos < 0 || pos + hs > n)
        return false;
    // ID3v2.3 tags written by converters may hold ID3v2.2's three-letter
    // IDs with a NUL after them.
    const int idLength = major == 2 ? 3 : (d[pos + 3] == '\0' ? 3 : 4);
    if (!validId(d + pos, idLength))
        return false;
    if (major == 2) {
        *size = bigEndian(d + pos + 3, 3);
    } else if (major == 3) {
        *size = bigEndian(d + pos + 4, 4);
    } else {
        *size = id3v24FrameSize(d + pos + 4, [&](quint32 s) {
            const qint64 at = qint64(pos) + hs + s;
            return at + 4 <= n && validId(d + at, 4);
        });
    }
    return *size != 0 && qint64(*size) <= n - pos - hs;
}

// The frames of one tag body (extended header skipped) appended to `out`.
// Padding is the zero bytes at the end. Bytes where no frame starts (an ID
// that is no frame ID, a frame of size zero, a size past the end, zero
// bytes with more after them) are kept as a broken piece up to the next
// frame: the broken frame's own size when a frame or the padding follows
// it, else the next place a frame starts.
bool walkFrames(const QByteArray &body, qsizetype pos, int major, RawTags &out)
{
    const int hs = major == 2 ? 6 : 10;
    const char *d = body.constData();
    qsizetype end = body.size();
    while (end > pos && d[end - 1] == '\0')
        --end;
    while (pos < end) {
        if (out.frames.size() >= kMaxFrames)
            return false;
        quint32 size = 0;
        if (frameAt(body, pos, major, &size)) {
            const int idLength = major == 2 || d[pos + 3] == '\0' ? 3 : 4;
            out.frames.append({QByteArray(d + pos, idLength), body.mid(pos, hs + qsizetype(size))});
            pos += hs + qsizetype(size);
            continue;
        }
        qsizetype next = -1;
        if (d[pos] != '\0' && pos + hs <= body.size()) {
            const qint64 own = qint64(pos) + hs
                               + (major == 2 ? bigEndian(d + pos + 3, 3)
                                  : major == 3 ? bigEndian(d + pos + 4, 4) : syncsafe(d + pos + 4));
            if (own <= body.size() && (own >= end || d[own] == '\0' || frameAt(body, own, major, &size)))
                next = qsizetype(qMin<qint64>(own, end));
        }
        if (next < 0)
            next = nextFrameAt(body, pos + 1, major);
        if (next < 0 || next > end)
            next = end;
        out.frames.append({QByteArray(), body.mid(pos, next - pos), true});
        pos = next;
    }
    return true;
}

// A chained tag's text frames whose ID a frame before them has (from
// `first` on): the merged tag holds one frame per text ID, the first tag's,
// or other readers show both texts joined. User-defined texts (TXXX) are
// told apart by their descriptions and all stay.
void dropRepeatedTextFrames(QList<RawFrame> &frames, qsizetype first)
{
    const auto isText = [](const RawFrame &f) {
        return !f.broken && f.id.startsWith('T') && f.id != "TXXX" && f.id != "TXX";
    };
    for (qsizetype i = frames.size() - 1; i >= first; --i) {
        if (!isText(frames[i]))
            continue;
        for (qsizetype j = 0; j < i; ++j) {
            if (isText(frames[j]) && frames[j].id == frames[i].id) {
                frames.removeAt(i);
                break;
            }
        }
    }
}

QByteArray tagHeaderBytes(int major, int revision, quint8 flags, quint32 bodySize)
{
    QByteArray h("ID3");
    h += char(major);
    h += char(revision);
    h += char(flags);
    h += syncsafeBytes(bodySize);
    return h;
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

} // namespace

qsizetype nextFrameAt(const QByteArray &body, qsizetype from, int major)
{
    const int hs = major == 2 ? 6 : 10;
    for (qsizetype q = qMax<qsizetype>(from, 0); q + hs <= body.size(); ++q) {
        quint32 size = 0, after = 0;
        if (!frameAt(body, q, major, &size))
            continue;
        // A frame ID inside text can pass for a header: what follows the
        // frame must be the end, the padding or another frame.
        const qsizetype next = q + hs + qsizetype(size);
        if (next == body.size() || body[next] == '\0' || frameAt(body, next, major, &after))
            return q;
    }
    return -1;
}

TagParse parseTags(const QByteArray &head, RawTags &out)
{
    out = RawTags();
    if (head.size() < kHeaderSize || !head.startsWith("ID3"))
        return TagParse::None;
    qsizetype pos = 0;
    for (int n = 0; n < kMaxChainedTags && pos + kHeaderSize <= head.size()
                    && head.mid(pos, 3) == "ID3";
         ++n) {
        const char *h = head.constData() + pos;
        const int major = quint8(h[3]);
        const quint8 flags = quint8(h[5]);
        for (int i = 6; i < 10; ++i) {
            if (quint8(h[i]) & 0x80)
                return TagParse::Unsupported;
        }
        const quint32 size = syncsafe(h + 6);
        const bool footer = major == 4 && (flags & 0x10);
        const qint64 complete = qint64(kHeaderSize) + size + (footer ? kHeaderSize : 0);
        if (major < 2 || major > 4 || complete > head.size() - pos)
            return TagParse::Unsupported;
        const bool tagUnsync = flags & 0x80;
        if (n == 0) {
            out.major = major;
            out.revision = quint8(h[4]);
            out.unsync = tagUnsync;
        } else if (major != out.major || (major == 4 && tagUnsync != out.unsync)) {
            return TagParse::Unsupported;
        } else {
            ++out.chained;
        }
        if (major == 2 && (flags & 0x40))
            return TagParse::Unsupported;   // ID3v2.2 compression: never defined

        QByteArray body = head.mid(pos + kHeaderSize, size);
        if (major <= 3 && tagUnsync)
            body = undoUnsync(body);
        qsizetype framesAt = 0;
        if (major >= 3 && (flags & 0x40)) {
            if (body.size() < 4)
                return TagParse::Unsupported;
            // ID3v2.3 counts the bytes after the size field; ID3v2.4 the
            // whole header, in 7-bit bytes.
            const qint64 extended = major == 3 ? qint64(bigEndian(body.constData(), 4)) + 4
                                               : qint64(syncsafe(body.constData()));
            if (extended < 6 || extended > body.size())
                return TagParse::Unsupported;
            framesAt = qsizetype(extended);
            out.extendedHeader = true;
        }
        const qsizetype first = out.frames.size();
        if (!walkFrames(body, framesAt, major, out))
            return TagParse::Unsupported;
        if (n > 0)
            dropRepeatedTextFrames(out.frames, first);
        pos += qsizetype(complete);
    }
    out.end = pos;
    return TagParse::Parsed;
}

QByteArray RawTags::render(std::int64_t size) const
{
    QByteArray body;
    for (const RawFrame &f : frames)
        body += f.bytes;
    if (major <= 3 && unsync)
        body = applyUnsync(body);
    const std::int64_t needed = kHeaderSize + body.size();
    const std::int64_t total = size >= needed ? size : needed + kGrowthPadding;
    if (total - kHeaderSize > kMaxTagBody)
        return {};
    const quint8 flags = unsync ? 0x80 : 0x00;
    QByteArray tag = tagHeaderBytes(major, revision, flags, quint32(total - kHeaderSize));
    tag += body;
    tag += QByteArray(qsizetype(total - needed), '\0');
    return tag;
}

RawFrame RawTags::frameFrom(TagLib::ID3v2::Frame &frame) const
{
    // TagLib renders a frame of its own making as ID3v2.4; the body of a
    // text or comment frame in ISO-8859-1 or UTF-16 is the same in every
    // version, only the header differs.
    const TagLib::ByteVector rendered = frame.render();
    const QByteArray all(rendered.data(), qsizetype(rendered.size()));
    const QByteArray id = all.left(4);
    QByteArray body = all.mid(kHeaderSize);
    switch (major) {
    case 2: {
        const QByteArray id22(id22For(id));
        return {id22, id22 + bigEndianBytes(quint32(body.size()), 3) + body};
    }
    case 3:
        return {id, id + bigEndianBytes(quint32(body.size()), 4) + QByteArray(2, '\0') + body};
    default:
        if (!unsync)
            return {id, id + syncsafeBytes(quint32(body.size())) + QByteArray(2, '\0') + body};
        // The tag says every frame is unsynchronised: this one is too, and
        // says so itself.
        body = applyUnsync(body);
        return {id, id + syncsafeBytes(quint32(body.size())) + QByteArray("\0\x02", 2) + body};
    }
}

bool RawTags::isPlainComment(const RawFrame &f, QByteArray *language) const
{
    if (f.id != "COMM" && f.id != "COM")
        return false;
    // TagLib parses the one frame against a header of this tag's version;
    // a whole ID3v2.3 tag's unsynchronisation is already undone.
    TagLib::ID3v2::Header header;
    header.setData(TagLib::ByteVector(
        tagHeaderBytes(major, revision, major == 4 && unsync ? 0x80 : 0x00, 0).constData(),
        kHeaderSize));
    const std::unique_ptr<TagLib::ID3v2::Frame> parsed(TagLib::ID3v2::FrameFactory::instance()->createFrame(
        TagLib::ByteVector(f.bytes.constData(), unsigned(f.bytes.size())), &header));
    const auto *comment = dynamic_cast<const TagLib::ID3v2::CommentsFrame *>(parsed.get());
    if (!comment || !comment->description().isEmpty())
        return false;
    if (language) {
        const TagLib::ByteVector l = comment->language();
        *language = QByteArray(l.data(), qsizetype(l.size()));
    }
    return true;
}

} // namespace mp3lib::detail
