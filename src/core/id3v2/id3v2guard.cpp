// The ID3v2 guard.
//
// TagLib 1.13 trusts the sizes in an ID3v2 tag: it reads a declared tag size
// past the end of the file (and, saving, deletes that many bytes: the
// audio), inflates compressed frames with no bound, and builds an object
// per frame, embedded chapter frames included (a chapter may hold chapters,
// recursively). The guard bounds every frame of the byte layer's walk
// (id3v2layer.h), which holds every frame TagLib will see, starting where
// TagLib starts, and refuses the tag before TagLib gets to it.

#include "core/id3v2/id3v2guard.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include <zlib.h>

namespace mp3lib::detail {

namespace {

using u8 = std::uint8_t;
using u32 = std::uint32_t;
using i64 = std::int64_t;
using u64 = std::uint64_t;
constexpr int kId3HeaderSize = Id3Header::kSize;

Id3Header id3HeaderAt(FileReader &reader, i64 pos)
{
    const u8 *h = reader.at(pos, kId3HeaderSize);
    return h ? parseId3Header(h) : Id3Header{};
}

constexpr int kMaxFrames = 10000;
constexpr u32 kMaxInflatedFrame = 8u << 20;
constexpr u32 kMaxInflatedTextFrame = 1u << 20;
constexpr std::uint64_t kMaxInflatedTotal = 16u << 20;
// Text is held as wide characters in TagLib (four bytes each) besides its
// bytes: it counts fivefold toward the total.
constexpr std::uint64_t kTextWeight = 5;

// Bytes of the tag body, from the file or from memory (after the
// unsynchronisation of a whole ID3v2.3 tag has been undone).
class Source {
public:
    Source(FileReader &reader, i64 offset, u32 size) : reader_(&reader), offset_(offset), size_(size) {}
    explicit Source(QByteArray bytes) : bytes_(std::move(bytes)), size_(u32(bytes_.size())) {}

    u32 size() const { return size_; }

    // Up to `n` bytes at `pos` (fewer at the end), copied into `out`.
    void take(u32 pos, u32 n, QByteArray &out) const
    {
        out.clear();
        if (pos >= size_)
            return;
        n = std::min(n, size_ - pos);
        if (!reader_) {
            out = bytes_.mid(pos, n);
            return;
        }
        std::vector<u8> bytes;
        if (reader_->copy(offset_ + pos, n, bytes))
            out = QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
    }

    // Notes [pos, pos + n) as bytes no field is read from, where they are
    // the file's own.
    void skip(u32 pos, u32 n) const
    {
        if (reader_)
            reader_->skip(offset_ + pos, offset_ + pos + n);
    }

    // The `n` bytes at `pos`, or nullptr when they are not all there; valid
    // until the next call.
    const u8 *at(i64 pos, i64 n) const
    {
        if (pos < 0 || n < 0 || pos + n > size_)
            return nullptr;
        if (!reader_)
            return reinterpret_cast<const u8 *>(bytes_.constData()) + pos;
        return reader_->at(offset_ + pos, n);
    }

private:
    FileReader *reader_ = nullptr;
    i64 offset_ = 0;
    QByteArray bytes_;
    u32 size_ = 0;
};

struct WalkState {
    int frames = 0;
    std::uint64_t inflated = 0;
};

// How many bytes inflating `in` from its start gives (as TagLib does: up to
// the end of the zlib stream or the first error), stopping once past
// `limit`.
std::uint64_t inflatedSize(const Source &src, u32 from, u32 to, std::uint64_t limit)
{
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK)
        return limit + 1;
    QByteArray in;
    static thread_local u8 out[64 * 1024];
    std::uint64_t total = 0;
    u32 pos = from;
    bool done = false;
    while (!done && total <= limit) {
        if (z.avail_in == 0) {
            if (pos >= to)
                break;
            src.take(pos, std::min<u32>(to - pos, 64 * 1024), in);
            if (in.isEmpty())
                break;
            pos += u32(in.size());
            z.next_in = reinterpret_cast<Bytef *>(in.data());
            z.avail_in = uInt(in.size());
        }
        z.next_out = out;
        z.avail_out = sizeof out;
        const int rc = inflate(&z, Z_NO_FLUSH);
        total += sizeof out - z.avail_out;
        if (rc == Z_STREAM_END || (rc != Z_OK && rc != Z_BUF_ERROR))
            done = true;
        else if (rc == Z_BUF_ERROR && z.avail_in != 0)
            done = true;   // no progress possible
    }
    inflateEnd(&z);
    return total;
}

// Frames that give no field and may be large: their bodies are not read.
bool givesNoField(const Id3FrameHeader &h)
{
    return h.is("APIC") || h.is("PIC\0") || h.is("GEOB") || h.is("GEO\0") || h.is("PRIV");
}

// Frames whose body TagLib turns into strings (four bytes a character).
bool isTextFrame(const Id3FrameHeader &h)
{
    return h.id[0] == 'T' || h.id[0] == 'W' || h.is("COMM") || h.is("USLT") || h.is("SYLT");
}

// Position just past a NUL-terminated Latin-1 string at `pos` in `body`, or
// `pos` itself when no NUL follows (TagLib leaves the position alone then).
u32 skipString(const QByteArray &body, u32 pos)
{
    if (pos >= u32(body.size()))
        return pos;
    const qsizetype nul = body.indexOf('\0', pos);
    return nul >= 0 ? u32(nul) + 1 : pos;
}

bool boundFrames(const Source &src, u32 pos, const Id3Header &tag, int depth, WalkState &st);

// The frames embedded in a chapter (CHAP) or table of contents (CTOC)
// frame's body, as TagLib 1.13 finds them.
bool walkEmbedded(QByteArray body, bool toc, const Id3Header &tag, int depth, WalkState &st)
{
    const u32 size = u32(body.size());
    if (size < (toc ? 6u : 18u))
        return true;
    u32 pos = skipString(body, 0);
    if (toc) {
        pos += 1;                                              // flags
        const unsigned count = pos < size ? quint8(body[pos]) : 0;
        pos += 1;
        for (unsigned i = 0; i < count; ++i)
            pos = skipString(body, pos);
    } else {
        pos += 16;                                             // times and offsets
    }
    if (pos > size)
        return true;   // nothing left for frames
    return boundFrames(Source(std::move(body)), pos, tag, depth, st);
}

// The bounds over the frames of a tag body from `pos`, found by the byte
// layer's walk. That walk sees every frame TagLib sees (the two agree up to
// the first broken frame, where TagLib stops, and TagLib is handed a tag
// without the broken frames where it would stop), and a frame that overruns
// the tag is refused. Broken pieces count toward the number of frames.
bool boundFrames(const Source &src, u32 pos, const Id3Header &tag, int depth, WalkState &st)
{
    const int major = tag.major;
    const auto at = [&](i64 p, i64 n) { return src.at(p, n); };
    QByteArray body;
    const auto frame = [&](i64 p, const Id3FrameHeader *h, i64) {
        if (++st.frames > kMaxFrames)
            return false;
        if (!h)
            return true;
        const u32 hs = u32(h->headerSize), size = h->size, start = u32(p);
        const bool chapter = h->is("CHAP") || h->is("CTOC");
        const bool undo = major > 3 && (tag.unsync || h->unsync);
        if (depth == 0 && givesNoField(*h) && !undo && !h->compressed && !h->encrypted && !h->dataLength)
            src.skip(start + hs, size);

        // The bytes TagLib hands to the frame: the rest of the tag, or only
        // the frame with its unsynchronisation undone.
        std::optional<Source> own;
        const Source *fs = &src;
        u32 base = start;
        if (undo) {
            src.take(start + hs, size, body);
            own.emplace(QByteArray(hs, '\0') + undoUnsync(body));
            fs = &*own;
            base = 0;
        }
        const u32 fsEnd = fs->size();
        if (h->compressed && !h->encrypted) {
            if (chapter)
                return false;   // chapters packed inside chapters: refused
            const u32 dataOffset = base + hs + 4;
            const u8 *declaredAt = fs->at(base + hs, 4);
            const u32 declared = declaredAt ? syncsafe(declaredAt) : 0;
            const bool text = isTextFrame(*h);
            const u32 frameLimit = text ? kMaxInflatedTextFrame : kMaxInflatedFrame;
            const u64 weight = text ? kTextWeight : 1;
            if (declared > frameLimit)
                return false;
            if (fsEnd > dataOffset) {
                const u64 room = (kMaxInflatedTotal - st.inflated) / weight;
                const u64 limit = std::min<u64>(frameLimit, room);
                const u64 n = inflatedSize(*fs, dataOffset, fsEnd, limit);
                if (n > limit)
                    return false;
                st.inflated += n * weight;
            }
        } else if (chapter && !h->encrypted) {
            if (depth > 0)
                return false;   // a chapter inside a chapter
            const u32 dataOffset = base + hs + (h->dataLength ? 4 : 0);
            const u8 *lengthAt = h->dataLength ? fs->at(base + hs, 4) : nullptr;
            const u32 length = h->dataLength ? (lengthAt ? syncsafe(lengthAt) : 0) : size;
            fs->take(dataOffset, length, body);
            if (!walkEmbedded(std::move(body), h->is("CTOC"), tag, depth + 1, st))
                return false;
            body = {};
        }
        return true;
    };
    return walkFrames(at, pos, src.size(), major, frame).end == WalkEnd::Done;
}

// The guard over one tag's body (the bytes after its header), as TagLib
// will parse it.
bool bodyIsSafe(Source src, const Id3Header &tag)
{
    if (tag.unsync && tag.major <= 3) {
        QByteArray raw;
        src.take(0, src.size(), raw);
        if (u32(raw.size()) != src.size())
            return false;
        src = Source(undoUnsync(raw));
    }
    if (!tag.extended) {
        WalkState st;
        return boundFrames(src, 0, tag, 0, st);
    }
    // TagLib 1.13 reads every extended header's size as ID3v2.4's (7-bit,
    // counting its own bytes): its frames start there. The layer reads it
    // as the tag's version says. Both walks are bounded.
    const u8 *sizeAt = src.at(0, 4);
    const u32 taglibAt = sizeAt ? syncsafe(sizeAt) : 0;
    const std::int64_t ours = sizeAt ? extendedHeaderSize(tag.major, sizeAt, src.size()) : -1;
    WalkState st;
    if (!boundFrames(src, taglibAt <= src.size() ? taglibAt : 0, tag, 0, st))
        return false;
    WalkState again;
    return ours < 0 || ours == taglibAt || boundFrames(src, u32(ours), tag, 0, again);
}

// The guard over the tag TagLib will parse at `at`, and the tags stacked
// right after it (TagLib counts them into the first tag's size).
bool tagIsSafe(FileReader &reader, i64 at)
{
    const i64 fileSize = reader.size();
    const Id3Header tag = id3HeaderAt(reader, at);
    if (!tag.present)
        return true;
    if (tag.complete > fileSize - at)
        return false;
    i64 next = at + tag.complete;
    for (int i = 0;; ++i) {
        const Id3Header more = id3HeaderAt(reader, next);
        if (!more.present)
            break;
        if (i == kMaxStackedTags || more.complete > fileSize - next)
            return false;
        next += more.complete;
    }
    if (tag.tagSize == 0)
        return true;   // TagLib reads no frames
    return bodyIsSafe(Source(reader, at + kId3HeaderSize, tag.tagSize), tag);
}

// Where TagLib will look for the ID3v2 tag: at the start when the file
// begins with "ID3"; otherwise at the first "ID3" met before the first
// frame TagLib recognises (it scans the file from the start). -1: no tag.
// -2: undecided within the bounded scan (TagLib would read on).
i64 taglibTagPosition(FileReader &reader)
{
    const i64 size = reader.size();
    if (size >= 3) {
        const u8 *h = reader.at(0, 3);
        if (h && std::memcmp(h, "ID3", 3) == 0)
            return 0;
    }
    if (taglibSeesFrame(reader, 0))
        return -1;
    // Scan as TagLib would, in blocks; stop at the first frame.
    std::vector<u8> block;
    constexpr i64 kScanBlock = 64 * 1024;
    constexpr i64 kScanLimit = 4 * kScanBlock;
    for (i64 start = 0; start < size; start += kScanBlock) {
        if (start >= kScanLimit)
            return -2;
        const i64 len = std::min(kScanBlock + 2, size - start);
        if (!reader.copy(start, len, block))
            return -2;
        const i64 stop = std::min(kScanBlock, len);
        for (i64 i = 0; i < stop; ++i) {
            const u8 c = block[size_t(i)];
            if (c == 'I' && i + 2 < len && block[size_t(i + 1)] == 'D' && block[size_t(i + 2)] == '3')
                return start + i;
            if (c == 0xFF && taglibSeesFrame(reader, start + i))
                return -1;
        }
    }
    return -1;
}

bool id3v2Safe(FileReader &reader)
{
    if (!reader.ok())
        return false;
    const i64 at = taglibTagPosition(reader);
    if (at == -2)
        return false;
    return at < 0 || tagIsSafe(reader, at);
}

} // namespace

bool id3v2TagIsSafe(const QByteArray &tag)
{
    if (tag.size() < kId3HeaderSize)
        return false;
    const Id3Header header = parseId3Header(reinterpret_cast<const u8 *>(tag.constData()));
    if (!header.present || header.complete != tag.size())
        return false;
    return header.tagSize == 0 || bodyIsSafe(Source(tag.mid(kId3HeaderSize, header.tagSize)), header);
}

bool id3v2IsSafe(FileReader &reader)
{
    return id3v2Safe(reader);
}

bool id3v2IsSafe(int fd)
{
    FileReader reader(fd);
    return id3v2Safe(reader);
}

FileCheck checkFile(int fd)
{
    FileReader reader(fd);
    return checkFile(reader);
}

FileCheck checkFile(FileReader &reader)
{
    FileCheck check;
    if (!reader.ok())
        return check;
    check.audio = locateAudio(reader);
    // Without audio the file is refused anyway; no need to scan it for a
    // tag TagLib might find.
    if (check.audio.found)
        check.id3v2Safe = id3v2Safe(reader);
    return check;
}

} // namespace mp3lib::detail
