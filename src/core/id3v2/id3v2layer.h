// The ID3v2 byte layer: the tag header (extended header and footer
// included), the frame headers of ID3v2.2, 2.3 and 2.4, the one walk over a
// tag's frames, and unsynchronisation, as the ID3v2 documents lay them out.
// The guard, the frame-level writer and the plain reader all go through it,
// so that all three see the same frames in the same bytes.
//
// No TagLib here. Where the documents leave room, the layer reads sizes the
// way TagLib 1.13 does (the build requires TagLib 1.13 or a later 1.x):
// tag-size bytes with the high bit set make a tag of size zero, a frame-size
// byte with the high bit set means a plain integer, and an ID3v2.4 frame
// size that leads to no frame is read as a plain integer when that one does
// (iTunes wrote such tags). Where TagLib 1.13 reads the bytes wrongly (an
// ID3v2.3 extended header, a broken frame, a second tag after the first),
// the layer reads what they hold; the guard says itself where it follows
// TagLib instead.
//
// The walk's rules:
// - A frame is a frame ID (A-Z, 0-9; three characters in ID3v2.2 and, with
//   a NUL after them, in ID3v2.3 tags written by converters), a size that
//   is not zero (more than four bytes in an ID3v2.4 frame with a data length
//   indicator), and a body that the tag holds.
// - Padding: a zero byte where a frame would start. The rest of the tag is
//   padding; no frame is read from it (a writer keeps any bytes in it that
//   are not zero as they stand).
// - A broken frame (an ID that is no frame ID, a size of zero) is stepped
//   over: the broken piece ends where its own size says when a frame, the
//   padding or the tag's end follows there, else at the next valid frame (a
//   frame followed by a frame, the padding or the tag's end), else at the
//   last byte of the tag that is not zero.
// - A frame that overruns its tag (a frame ID and a size larger than what
//   the tag has left): while every frame before it in the tag was whole,
//   the tag's sizes are not to be trusted, and the walk reports the overrun:
//   the guard refuses the file, the readers read no tag from it and the
//   writer never writes it. After a broken frame the walk is already
//   looking for the next valid frame, and a frame that does not fit is not
//   one: it is one more broken frame, stepped over as above.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <cstdint>
#include <cstring>

namespace mp3lib::detail {

// Big-endian integer of `n` bytes.
inline quint32 bigEndian(const void *at, int n)
{
    const auto *p = static_cast<const std::uint8_t *>(at);
    quint32 v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | p[i];
    return v;
}

// A 28-bit size in four 7-bit bytes; a byte with its high bit set means the
// writer put a plain integer there.
inline quint32 syncsafe(const void *at)
{
    const auto *p = static_cast<const std::uint8_t *>(at);
    quint32 v = 0;
    for (int i = 0; i < 4; ++i) {
        if (p[i] & 0x80)
            return bigEndian(p, 4);
        v = v << 7 | p[i];
    }
    return v;
}

// Whether `n` bytes at `p` are frame ID characters (A-Z, 0-9).
inline bool validId(const void *at, int n)
{
    const auto *p = static_cast<const std::uint8_t *>(at);
    for (int i = 0; i < n; ++i) {
        if (!((p[i] >= 'A' && p[i] <= 'Z') || (p[i] >= '0' && p[i] <= '9')))
            return false;
    }
    return true;
}

QByteArray syncsafeBytes(quint32 n);
QByteArray bigEndianBytes(quint32 n, int width);

// ---------------------------------------------------------------------------
// The tag header

// An ID3v2 tag header (10 bytes). Size bytes of 0x80 or more make a tag of
// size 0 (nothing but the header).
struct Id3Header {
    static constexpr int kSize = 10;
    bool present = false;
    int major = 4;
    int revision = 0;
    quint8 flags = 0;
    bool unsync = false;         // the whole tag (ID3v2.2/2.3) or every frame (2.4)
    bool extended = false;       // an extended header follows (2.3 and 2.4)
    bool footer = false;         // a footer follows the body (2.4)
    bool sizeValid = false;      // the size bytes are 7-bit
    std::uint32_t tagSize = 0;   // bytes after the header (footer not included)
    std::int64_t complete = 0;   // header, body and footer
};
Id3Header parseId3Header(const std::uint8_t *h);
// The 10 header bytes of a tag of `bodySize` bytes after its header.
QByteArray tagHeaderBytes(int major, int revision, quint8 flags, quint32 bodySize);

// An ID3v2 tag may be followed directly by more ID3v2 tags (some taggers
// wrote a new one in front of the old one); they count as one.
constexpr int kMaxStackedTags = 64;

// The size of the extended header at the start of a tag body of `n` bytes
// (unsynchronisation of a whole ID3v2.3 tag undone), as the documents give
// it: ID3v2.3 counts the bytes after its size field, ID3v2.4 the whole
// header in 7-bit bytes. -1 when it does not fit the body.
std::int64_t extendedHeaderSize(int major, const std::uint8_t *body, std::int64_t n);

// ---------------------------------------------------------------------------
// Unsynchronisation

// FF 00 stands for FF.
QByteArray undoUnsync(QByteArrayView in);
// A 00 after every FF that a reader could take for the start of an MPEG
// frame sync (FF followed by E0 or more) or for the FF 00 pair itself.
QByteArray applyUnsync(QByteArrayView in);

// ---------------------------------------------------------------------------
// Frame headers and the walk

struct Id3FrameHeader {
    char id[4] = {};
    int idLength = 4;           // 3 in ID3v2.2 and for ID3v2.2 IDs in 2.3
    int headerSize = 10;        // 6 in ID3v2.2
    quint32 size = 0;           // of the body
    std::uint8_t flags[2] = {}; // status and format flags (2.3 and 2.4)
    bool compressed = false;
    bool encrypted = false;
    bool unsync = false;        // this frame's own (2.4)
    bool dataLength = false;    // a data length indicator leads the body (2.4)

    bool is(const char *name) const { return std::memcmp(id, name, 4) == 0; }
    std::int64_t end(std::int64_t pos) const { return pos + headerSize + std::int64_t(size); }
};

inline int frameHeaderSize(int major)
{
    return major == 2 ? 6 : 10;
}

// The header of a frame of this ID and body size: the size in three bytes
// (ID3v2.2), four (2.3) or four of seven bits each (2.4), then, but in
// ID3v2.2, the two flag bytes at `flags`.
QByteArray frameHeaderBytes(int major, const QByteArray &id, quint32 size, const char *flags);

enum class FrameCheck { Valid, Broken, Overrun, ReadFailed };

// What starts at `pos` of a tag body that ends at `end`, read through `at`
// (`at(pos, n)`: the n bytes at pos of the body, nullptr when they cannot be
// read; never asked for bytes past `end`). The header in `h`.
template <typename At>
FrameCheck checkFrame(At &at, std::int64_t pos, std::int64_t end, int major, Id3FrameHeader &h)
{
    h = Id3FrameHeader();
    h.headerSize = frameHeaderSize(major);
    if (pos < 0 || pos + h.headerSize > end)
        return FrameCheck::Broken;
    const std::uint8_t *p = at(pos, h.headerSize);
    if (!p)
        return FrameCheck::ReadFailed;
    h.idLength = major == 2 || (major == 3 && p[3] == 0) ? 3 : 4;
    std::memcpy(h.id, p, size_t(h.idLength));
    const bool idOk = validId(p, h.idLength);
    if (major == 2) {
        h.size = bigEndian(p + 3, 3);
    } else {
        h.flags[0] = p[8];
        h.flags[1] = p[9];
        if (major == 3) {
            h.size = bigEndian(p + 4, 4);
            h.compressed = p[9] & 0x80;
            h.encrypted = p[9] & 0x40;
        } else {
            h.compressed = p[9] & 0x08;
            h.encrypted = p[9] & 0x04;
            h.unsync = p[9] & 0x02;
            h.dataLength = p[9] & 0x01;
            const std::uint8_t sizeBytes[4] = {p[4], p[5], p[6], p[7]};
            h.size = syncsafe(sizeBytes);
            // iTunes' plain sizes: taken when only they lead to another frame.
            if (h.size > 127) {
                bool failed = false;
                const auto idAfter = [&](quint32 size) {
                    const std::int64_t next = pos + 10 + std::int64_t(size);
                    if (next + 4 > end)
                        return false;
                    const std::uint8_t *q = at(next, 4);
                    failed = failed || !q;
                    return q && validId(q, 4);
                };
                if (!idAfter(h.size)) {
                    const quint32 plain = bigEndian(sizeBytes, 4);
                    if (idAfter(plain))
                        h.size = plain;
                }
                if (failed)
                    return FrameCheck::ReadFailed;
            }
        }
    }
    if (!idOk || h.size <= (h.dataLength ? 4u : 0u))
        return FrameCheck::Broken;
    return h.end(pos) > end ? FrameCheck::Overrun : FrameCheck::Valid;
}

// Whether an ID3v2.4 frame's data length indicator (the first four bytes
// of `body`, `size` bytes) claims more data than the frame holds, in a
// frame that is neither compressed nor encrypted. TagLib 1.13 then reads
// the frame's fields on past its end, into the frames and padding after
// it; the bytes say the data is what the frame holds.
inline bool dataLengthOverruns(const Id3FrameHeader &h, const std::uint8_t *body)
{
    return h.dataLength && !h.compressed && !h.encrypted && h.size > 4
           && syncsafe(body) > h.size - 4;
}

// Where the next valid frame starts at or after `from` (a frame followed by
// the body's end, a zero byte or another frame): -1 for none, -2 when a
// read failed.
template <typename At>
std::int64_t nextFrameAt(At &at, std::int64_t from, std::int64_t end, int major)
{
    Id3FrameHeader h, after;
    for (std::int64_t q = std::max<std::int64_t>(from, 0); q + frameHeaderSize(major) <= end; ++q) {
        const FrameCheck c = checkFrame(at, q, end, major, h);
        if (c == FrameCheck::ReadFailed)
            return -2;
        if (c != FrameCheck::Valid)
            continue;
        // A frame ID inside text can pass for a header: what follows the
        // frame must be the end, the padding or another frame.
        const std::int64_t next = h.end(q);
        if (next == end)
            return q;
        const std::uint8_t *b = at(next, 1);
        if (!b)
            return -2;
        if (*b == 0)
            return q;
        const FrameCheck n = checkFrame(at, next, end, major, after);
        if (n == FrameCheck::ReadFailed)
            return -2;
        if (n == FrameCheck::Valid)
            return q;
    }
    return -1;
}

enum class WalkEnd {
    Done,        // the tag's end or its padding reached; `padding` says where
    Overrun,     // a frame overruns the tag while its sizes were trusted
    ReadFailed,
    Stopped,     // the visitor said so
};

struct WalkResult {
    WalkEnd end = WalkEnd::Done;
    std::int64_t padding = -1;   // where the padding starts, -1 for none
    bool broken = false;         // a broken piece was met
};

// Walks the frames of a tag body [pos, end) after its extended header, by
// the rules at the top of this file. For each frame calls
// `visit(pos, &header)`, for each broken piece `visit(pos, nullptr, pieceEnd)`;
// a visitor that returns false stops the walk. Only frame headers are read,
// never bodies.
template <typename At, typename Visit>
WalkResult walkFrames(At &&at, std::int64_t pos, std::int64_t end, int major, Visit &&visit)
{
    WalkResult r;
    Id3FrameHeader h, after;
    const auto fail = [&](WalkEnd e) { r.end = e; return r; };
    while (pos < end) {
        const std::uint8_t *first = at(pos, 1);
        if (!first)
            return fail(WalkEnd::ReadFailed);
        if (*first == 0) {
            r.padding = pos;
            return r;
        }
        const FrameCheck c = checkFrame(at, pos, end, major, h);
        if (c == FrameCheck::ReadFailed)
            return fail(WalkEnd::ReadFailed);
        if (c == FrameCheck::Valid) {
            if (!visit(pos, &h, h.end(pos)))
                return fail(WalkEnd::Stopped);
            pos = h.end(pos);
            continue;
        }
        if (c == FrameCheck::Overrun && !r.broken)
            return fail(WalkEnd::Overrun);
        r.broken = true;
        // The broken piece: to its own end when what follows there fits,
        // else to the next valid frame, else to the last byte not zero.
        std::int64_t next = -1;
        if (c == FrameCheck::Broken && pos + h.headerSize <= end && h.end(pos) <= end) {
            const std::int64_t own = h.end(pos);
            const std::uint8_t *b = own < end ? at(own, 1) : nullptr;
            if (own < end && !b)
                return fail(WalkEnd::ReadFailed);
            FrameCheck n = FrameCheck::Broken;
            if (own == end || *b == 0 || (n = checkFrame(at, own, end, major, after)) == FrameCheck::Valid)
                next = own;
            else if (n == FrameCheck::ReadFailed)
                return fail(WalkEnd::ReadFailed);
        }
        if (next < 0 || next == pos)
            next = nextFrameAt(at, pos + 1, end, major);
        if (next == -2)
            return fail(WalkEnd::ReadFailed);
        if (next < 0) {
            next = end;
            for (const std::uint8_t *b; next > pos + 1; --next) {
                if (!(b = at(next - 1, 1)))
                    return fail(WalkEnd::ReadFailed);
                if (*b != 0)
                    break;
            }
        }
        if (!visit(pos, nullptr, next))
            return fail(WalkEnd::Stopped);
        pos = next;
    }
    return r;
}

// The bytes of a body held in memory, for walkFrames.
struct MemoryBytes {
    const std::uint8_t *data;
    std::int64_t size;
    explicit MemoryBytes(QByteArrayView b)
        : data(reinterpret_cast<const std::uint8_t *>(b.data())), size(b.size())
    {
    }
    const std::uint8_t *operator()(std::int64_t pos, std::int64_t n) const
    {
        return pos >= 0 && n >= 0 && pos + n <= size ? data + pos : nullptr;
    }
};

} // namespace mp3lib::detail
