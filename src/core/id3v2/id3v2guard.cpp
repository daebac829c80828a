// The ID3v2 guard.
//
// TagLib 1.13 trusts the sizes in an ID3v2 tag: it reads a declared tag size
// past the end of the file (and, saving, deletes that many bytes: the
// audio), inflates compressed frames with no bound, and builds an object
// per frame, embedded chapter frames included (a chapter may hold chapters,
// recursively). The walk below follows TagLib's own parsing of the tag, so
// that it sees exactly the frames TagLib will see, and refuses the tag
// before TagLib gets to it.

#include "id3v2guard.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include <zlib.h>

namespace mp3lib::detail {

namespace {

using u8 = std::uint8_t;
using u32 = std::uint32_t;
using i64 = std::int64_t;
using u64 = std::uint64_t;
using Bytes = std::span<const u8>;
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
    explicit Source(std::vector<u8> bytes) : bytes_(std::move(bytes)), size_(u32(bytes_.size())) {}

    u32 size() const { return size_; }

    // Up to `n` bytes at `pos` (fewer at the end), copied into `out`.
    void take(u32 pos, u32 n, std::vector<u8> &out) const
    {
        if (pos >= size_) {
            out.clear();
            return;
        }
        n = std::min(n, size_ - pos);
        if (reader_) {
            if (!reader_->copy(offset_ + pos, n, out))
                out.clear();
        } else {
            out.assign(bytes_.begin() + pos, bytes_.begin() + pos + n);
        }
    }

    // Notes [pos, pos + n) as bytes no field is read from, where they are
    // the file's own.
    void skip(u32 pos, u32 n) const
    {
        if (reader_)
            reader_->skip(offset_ + pos, offset_ + pos + n);
    }

    // A view of up to `n` bytes at `pos`; valid until the next call.
    Bytes view(u32 pos, u32 n) const
    {
        if (pos >= size_)
            return {};
        n = std::min(n, size_ - pos);
        if (!reader_)
            return {bytes_.data() + pos, n};
        const u8 *p = reader_->at(offset_ + pos, n);
        return p ? Bytes(p, n) : Bytes();
    }

private:
    FileReader *reader_ = nullptr;
    i64 offset_ = 0;
    std::vector<u8> bytes_;
    u32 size_ = 0;
};

std::vector<u8> undoUnsync(const std::vector<u8> &in)
{
    // FF 00 stands for FF.
    std::vector<u8> out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        out.push_back(in[i]);
        if (in[i] == 0xFF && i + 1 < in.size() && in[i + 1] == 0x00)
            ++i;
    }
    return out;
}

u32 bigEndian(Bytes b)
{
    u32 v = 0;
    for (u8 c : b)
        v = v << 8 | c;
    return v;
}

// A 28-bit size in four 7-bit bytes; like TagLib, bytes with the high bit
// set mean a writer put a plain integer there.
u32 syncsafe(Bytes b)
{
    if (b.size() > 4)
        b = b.subspan(0, 4);
    u32 v = 0;
    for (u8 c : b) {
        if (c & 0x80)
            return bigEndian(b);
        v = v << 7 | c;
    }
    return v;
}

bool validFrameId(Bytes id)
{
    if (id.size() != 4)
        return false;
    for (u8 c : id) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

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
    std::vector<u8> in;
    static thread_local u8 out[64 * 1024];
    std::uint64_t total = 0;
    u32 pos = from;
    bool done = false;
    while (!done && total <= limit) {
        if (z.avail_in == 0) {
            if (pos >= to)
                break;
            src.take(pos, std::min<u32>(to - pos, 64 * 1024), in);
            if (in.empty())
                break;
            pos += u32(in.size());
            z.next_in = in.data();
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

bool idIs(Bytes id, const char *name)
{
    return id.size() == 4 && std::memcmp(id.data(), name, 4) == 0;
}

// Frames whose body TagLib turns into strings (four bytes a character).
// Frames that give no field and may be large: their bodies are not read.
bool givesNoField(Bytes id)
{
    return idIs(id, "APIC") || idIs(id, "PIC") || idIs(id, "GEOB") || idIs(id, "GEO") || idIs(id, "PRIV");
}

bool isTextFrame(Bytes id)
{
    return !id.empty()
        && (id[0] == 'T' || id[0] == 'W' || idIs(id, "COMM") || idIs(id, "USLT") || idIs(id, "SYLT"));
}

// Position just past a NUL-terminated Latin-1 string at `pos` in `body`, or
// `pos` itself when no NUL follows (TagLib leaves the position alone then).
u32 skipString(const std::vector<u8> &body, u32 pos)
{
    if (pos >= body.size())
        return pos;
    const void *nul = std::memchr(body.data() + pos, 0, body.size() - pos);
    return nul ? u32(static_cast<const u8 *>(nul) - body.data()) + 1 : pos;
}

bool walkFrames(const Source &src, u32 pos, u32 loopEnd, bool stopAtZero, const Id3Header &tag,
                int depth, WalkState &st);

// The frames embedded in a chapter (CHAP) or table of contents (CTOC)
// frame's body, as TagLib 1.13 finds them.
bool walkEmbedded(std::vector<u8> body, bool toc, const Id3Header &tag, int depth, WalkState &st)
{
    const u32 hs = tag.major < 3 ? 6 : 10;
    const u32 size = u32(body.size());
    if (size < (toc ? 6u : 18u))
        return true;
    u32 pos = skipString(body, 0);
    if (toc) {
        pos += 1;                                              // flags
        const unsigned count = pos < size ? body[pos] : 0;
        pos += 1;
        for (unsigned i = 0; i < count; ++i)
            pos = skipString(body, pos);
    } else {
        pos += 16;                                             // times and offsets
    }
    if (pos > size)
        return true;   // nothing left for frames
    if (size - pos < hs)
        return true;
    const u32 loopEnd = pos + (size - pos - hs);
    return walkFrames(Source(std::move(body)), pos, loopEnd, false, tag, depth, st);
}

bool walkFrames(const Source &src, u32 pos, u32 loopEnd, bool stopAtZero, const Id3Header &tag,
                int depth, WalkState &st)
{
    const int major = tag.major;
    const u32 hs = major < 3 ? 6 : 10;
    const u32 dataEnd = src.size();
    std::vector<u8> body;
    while (pos < loopEnd) {
        if (pos >= dataEnd)
            break;
        const u32 rest = dataEnd - pos;
        const Bytes headView = src.view(pos, std::min<u32>(rest, hs));
        if (headView.size() != std::min<u32>(rest, hs))
            return false;   // the file changed under us
        if (stopAtZero && headView[0] == 0)
            break;          // padding
        if (rest < hs)
            break;
        u8 headBytes[10];
        std::memcpy(headBytes, headView.data(), hs);
        const Bytes head(headBytes, hs);
        u8 id[4] = {0, 0, 0, 0};
        std::memcpy(id, head.data(), major < 3 ? 3 : 4);
        u32 size = 0;
        bool compressed = false, encrypted = false, frameUnsync = false, lengthIndicator = false;
        if (major < 3) {
            size = bigEndian(head.subspan(3, 3));
        } else if (major == 3) {
            size = bigEndian(head.subspan(4, 4));
            compressed = head[9] & 0x80;
            encrypted = head[9] & 0x40;
        } else {
            size = syncsafe(head.subspan(4, 4));
            compressed = head[9] & 0x08;
            encrypted = head[9] & 0x04;
            frameUnsync = head[9] & 0x02;
            lengthIndicator = head[9] & 0x01;
            // TagLib takes a plain size instead when only that one leads to
            // another frame (iTunes wrote such tags).
            // (TagLib adds in 32 bits, counting from this frame.)
            auto idAfter = [&](u32 frameSize) {
                const u64 at = u64(pos) + u32(frameSize + 10);
                return at < dataEnd && validFrameId(src.view(u32(at), 4));
            };
            if (size > 127 && !idAfter(size)) {
                const u32 plain = bigEndian(head.subspan(4, 4));
                if (idAfter(plain))
                    size = plain;
            }
        }
        // TagLib stops at a frame whose ID is not A-Z/0-9 (garbage after the
        // last frame) or that has no data. A real frame running past the end
        // of the tag means the sizes cannot be trusted: refused.
        const int idLen = major < 3 ? 3 : (major == 3 && id[3] == 0) ? 3 : 4;
        bool idOk = true;
        for (int i = 0; i < idLen; ++i)
            idOk = idOk && ((id[i] >= 'A' && id[i] <= 'Z') || (id[i] >= '0' && id[i] <= '9'));
        if (!idOk || size <= (lengthIndicator ? 4u : 0u))
            break;
        if (u64(hs) + size > rest)
            return false;
        if (++st.frames > kMaxFrames)
            return false;

        const Bytes idView(id, 4);
        const bool chapter = idIs(idView, "CHAP") || idIs(idView, "CTOC");
        const bool undo = major > 3 && (tag.unsync || frameUnsync);
        if (depth == 0 && givesNoField(idView) && !undo && !compressed && !encrypted && !lengthIndicator)
            src.skip(pos + hs, size);

        // The bytes TagLib hands to the frame: the rest of the tag, or only
        // the frame with its unsynchronisation undone.
        Source frameSrc{std::vector<u8>{}};
        const Source *fs = &src;
        u32 base = pos;
        if (undo) {
            src.take(pos + hs, size, body);
            std::vector<u8> frame(head.begin(), head.end());
            const std::vector<u8> decoded = undoUnsync(body);
            frame.insert(frame.end(), decoded.begin(), decoded.end());
            frameSrc = Source(std::move(frame));
            fs = &frameSrc;
            base = 0;
        }
        const u32 fsEnd = fs->size();

        if (compressed && !encrypted) {
            if (chapter)
                return false;   // chapters packed inside chapters: refused
            const u32 dataOffset = base + hs + 4;
            const u32 declared = syncsafe(fs->view(base + hs, 4));
            const bool text = isTextFrame(idView);
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
        } else if (chapter && !encrypted) {
            if (depth > 0)
                return false;   // a chapter inside a chapter
            const u32 dataOffset = base + hs + (lengthIndicator ? 4 : 0);
            const u32 length = lengthIndicator ? syncsafe(fs->view(base + hs, 4)) : size;
            fs->take(dataOffset, length, body);
            if (!walkEmbedded(std::move(body), idIs(idView, "CTOC"), tag, depth + 1, st))
                return false;
            body = {};
        }
        pos += hs + size;
    }
    return true;
}

// The guard over one tag's body (the bytes after its header), as TagLib
// will parse it.
bool bodyIsSafe(Source src, const Id3Header &tag)
{
    if (tag.unsync && tag.major <= 3) {
        std::vector<u8> raw;
        src.take(0, src.size(), raw);
        if (raw.size() != src.size())
            return false;
        src = Source(undoUnsync(raw));
    }

    const u32 dataLen = src.size();
    u32 pos = 0;
    if (tag.extended) {
        const u32 extSize = syncsafe(src.view(0, 4));
        if (extSize <= dataLen)
            pos = extSize;
    }
    u32 frameDataLen = dataLen;
    if (tag.footer && frameDataLen >= kId3HeaderSize)
        frameDataLen -= kId3HeaderSize;
    const u32 hs = tag.major < 3 ? 6 : 10;
    // Unsigned on purpose, as in TagLib: a tag shorter than a frame header
    // wraps around, and the frame checks end the walk instead.
    const u32 loopEnd = frameDataLen - hs;
    WalkState st;
    return walkFrames(src, pos, loopEnd, true, tag, 0, st);
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
    const u8 *body = reinterpret_cast<const u8 *>(tag.constData()) + kId3HeaderSize;
    return header.tagSize == 0 || bodyIsSafe(Source(std::vector<u8>(body, body + header.tagSize)), header);
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
