#include "core/id3v2/id3v2frames.h"

namespace mp3lib::detail {

namespace {

constexpr int kHeaderSize = Id3Header::kSize;
constexpr int kMaxFrames = 10000;
constexpr std::int64_t kMaxTagBody = 0x0FFFFFFF;   // 28 bits
// Room left for later edits when a tag has to grow anyway.
constexpr std::int64_t kGrowthPadding = 2048;

// The frames of one tag body (extended header skipped) appended to `out`,
// broken pieces kept as they stand (see id3v2layer.h). Padding that holds
// more than zero bytes is kept too, up to its last byte that is not zero.
bool splitFrames(const QByteArray &body, qsizetype pos, int major, RawTags &out)
{
    const auto piece = [&](std::int64_t at, const Id3FrameHeader *h, std::int64_t end) {
        if (out.frames.size() >= kMaxFrames)
            return false;
        if (h)
            out.frames.append({QByteArray(h->id, h->idLength), body.mid(at, end - at)});
        else
            out.frames.append({QByteArray(), body.mid(at, end - at), true});
        return true;
    };
    const WalkResult walk = walkFrames(MemoryBytes(body), pos, body.size(), major, piece);
    if (walk.end != WalkEnd::Done)
        return false;
    if (walk.padding >= 0) {
        qsizetype end = body.size();
        while (end > walk.padding && body[end - 1] == '\0')
            --end;
        if (end > walk.padding)
            return piece(walk.padding, nullptr, end);
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

} // namespace

TagParse parseTags(const QByteArray &head, RawTags &out)
{
    out = RawTags();
    if (head.size() < kHeaderSize || !head.startsWith("ID3"))
        return TagParse::None;
    qsizetype pos = 0;
    for (int n = 0; n < kMaxStackedTags && pos + kHeaderSize <= head.size() && head.mid(pos, 3) == "ID3"; ++n) {
        const Id3Header h = parseId3Header(reinterpret_cast<const std::uint8_t *>(head.constData() + pos));
        if (!h.sizeValid || h.major < 2 || h.major > 4 || h.complete > head.size() - pos)
            return TagParse::Unsupported;
        if (n == 0) {
            out.major = h.major;
            out.revision = h.revision;
            out.unsync = h.unsync;
        } else if (h.major != out.major || (h.major == 4 && h.unsync != out.unsync)) {
            return TagParse::Unsupported;
        } else {
            ++out.chained;
        }
        if (h.major == 2 && (h.flags & 0x40))
            return TagParse::Unsupported;   // ID3v2.2 compression: never defined

        QByteArray body = head.mid(pos + kHeaderSize, h.tagSize);
        if (h.major <= 3 && h.unsync)
            body = undoUnsync(body);
        qsizetype framesAt = 0;
        if (h.extended) {
            const std::int64_t extended = extendedHeaderSize(
                h.major, reinterpret_cast<const std::uint8_t *>(body.constData()), body.size());
            if (extended < 0)
                return TagParse::Unsupported;
            framesAt = qsizetype(extended);
            out.extendedHeader = true;
        }
        const qsizetype first = out.frames.size();
        if (!splitFrames(body, framesAt, h.major, out))
            return TagParse::Unsupported;
        if (n > 0)
            dropRepeatedTextFrames(out.frames, first);
        pos += qsizetype(h.complete);
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
    // Broken pieces are kept byte for byte, but in a tag of another size
    // one of them can become whole (a frame that ran past the old tag's end
    // fits in the new one), and every reader would then take it for a
    // frame. The tag is good only when it reads back as the same frames.
    RawTags back;
    const auto whole = [](const QList<RawFrame> &list) {
        QList<QByteArray> out;
        for (const RawFrame &f : list) {
            if (!f.broken)
                out.append(f.bytes);
        }
        return out;
    };
    if (parseTags(tag, back) != TagParse::Parsed || whole(back.frames) != whole(frames))
        return {};
    return tag;
}

} // namespace mp3lib::detail
