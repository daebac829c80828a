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

// The frames of one tag body (extended header skipped) appended to `out`.
// Padding begins at a zero byte. A broken frame (no data, an ID of other
// characters) is kept as it stands and the walk goes on after it; bytes
// that are no frame ID and claim more than the tag holds end the frames. A
// frame that claims more bytes than the tag holds makes the tag one we
// cannot keep whole.
bool walkFrames(const QByteArray &body, qsizetype pos, int major, RawTags &out)
{
    const int hs = major == 2 ? 6 : 10;
    const char *d = body.constData();
    const qsizetype n = body.size();
    while (pos + hs <= n) {
        if (d[pos] == '\0')
            break;
        // ID3v2.3 tags written by converters may hold ID3v2.2's three-letter
        // IDs with a NUL after them.
        const int idLength = major == 2 ? 3 : (d[pos + 3] == '\0' ? 3 : 4);
        quint32 size;
        if (major == 2) {
            size = bigEndian(d + pos + 3, 3);
        } else if (major == 3) {
            size = bigEndian(d + pos + 4, 4);
        } else {
            size = id3v24FrameSize(d + pos + 4, [&](quint32 s) {
                const qint64 at = qint64(pos) + hs + s;
                return at + 4 <= n && validId(d + at, 4);
            });
        }
        if (qint64(size) > n - pos - hs) {
            if (!validId(d + pos, idLength))
                break;
            return false;
        }
        if (out.frames.size() >= kMaxFrames)
            return false;
        out.frames.append({QByteArray(d + pos, idLength), body.mid(pos, hs + qsizetype(size))});
        pos += hs + qsizetype(size);
    }
    return true;
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
                                         {"TYER", "TYE"}, {"TCON", "TCO"}, {"COMM", "COM"}};
    for (const auto &pair : map) {
        if (id == pair[0])
            return pair[1];
    }
    return nullptr;
}

} // namespace

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
        if (!walkFrames(body, framesAt, major, out))
            return TagParse::Unsupported;
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
