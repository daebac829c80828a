// The ID3v2 tag at the start of a file as a list of frames kept as raw
// bytes, so that a write changes only the frames of the fields it sets and
// puts every other frame back exactly as it stood. Also gives TagLib an
// equivalent tag where it misreads the original: an extended header (TagLib
// 1.13 takes an ID3v2.3 one for an ID3v2.4 one and loses every frame) or a
// second tag chained right after the first (TagLib takes it for padding).
#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>
#include <cstdint>

namespace TagLib::ID3v2 { class Frame; }

namespace mp3lib::detail {

// Big-endian integer of `n` bytes.
inline quint32 bigEndian(const char *p, int n)
{
    quint32 v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | quint8(p[i]);
    return v;
}

// A 28-bit size in four 7-bit bytes; a byte with its high bit set means
// the writer put a plain integer there (as TagLib reads it).
inline quint32 syncsafe(const char *p)
{
    quint32 v = 0;
    for (int i = 0; i < 4; ++i) {
        if (quint8(p[i]) & 0x80)
            return bigEndian(p, 4);
        v = v << 7 | quint8(p[i]);
    }
    return v;
}

// Whether `n` bytes at `p` are frame ID characters (A-Z, 0-9).
inline bool validId(const char *p, int n)
{
    for (int i = 0; i < n; ++i) {
        if (!((p[i] >= 'A' && p[i] <= 'Z') || (p[i] >= '0' && p[i] <= '9')))
            return false;
    }
    return true;
}

// The size of an ID3v2.4 frame from the four size bytes of its header.
// iTunes wrote plain sizes there: TagLib takes the plain one when only it
// leads to another frame (`idAfter(size)`: a frame ID follows a frame of
// that size).
template <typename IdAfter>
quint32 id3v24FrameSize(const char *p, IdAfter idAfter)
{
    const quint32 size = syncsafe(p);
    if (size <= 127 || idAfter(size))
        return size;
    const quint32 plain = bigEndian(p, 4);
    return idAfter(plain) ? plain : size;
}

// One frame as it stands in the tag: header and body, after the
// unsynchronisation of a whole ID3v2.2/2.3 tag has been undone.
struct RawFrame {
    QByteArray id;      // 3 characters in ID3v2.2, else 4; empty for a broken piece
    QByteArray bytes;   // header and body
    bool broken = false;  // bytes where no valid frame starts, kept as they are
};

struct RawTags {
    int major = 3;              // 2, 3 or 4, the same for every chained tag
    int revision = 0;
    bool unsync = false;        // the whole tag is unsynchronised (2.4: every frame)
    bool extendedHeader = false;  // one was dropped
    int chained = 0;            // tags after the first
    std::int64_t end = 0;       // offset just past the last tag
    // Of every tag, in order; a text frame of a chained tag only when no
    // tag before it has one of its ID.
    QList<RawFrame> frames;

    // Whether TagLib reads the original as it stands; when not, it is
    // handed render() instead.
    bool taglibReadsAsIs() const { return !extendedHeader && chained == 0; }

    // The tag with `frames`: of exactly `size` bytes when they fit in it
    // (the rest is padding), else of their size and some padding. Without
    // an extended header or footer; empty when the tag would be too large.
    QByteArray render(std::int64_t size = -1) const;

    // The frame `frame`, made by TagLib, in this tag's version and
    // unsynchronisation.
    RawFrame frameFrom(TagLib::ID3v2::Frame &frame) const;

    // Whether the comment frame `f` has no description; false for a frame
    // that is not a comment or cannot be read.
    bool isPlainComment(const RawFrame &f, QByteArray *language) const;
};

// Where the next valid frame of a tag body (after the unsynchronisation of
// a whole ID3v2.2/2.3 tag has been undone) starts at or after `from`: a
// frame ID, a size that is not zero and that the body holds, and after the
// frame the body's end, a zero byte (padding) or another such frame. -1
// when none does. The walk goes on there past a broken frame.
qsizetype nextFrameAt(const QByteArray &body, qsizetype from, int major);

enum class TagParse {
    None,         // no ID3v2 tag at the start
    Parsed,
    Unsupported,  // a tag whose frames cannot all be kept: never written
};

// The tag(s) at the start of `head` (the file's bytes before its audio).
TagParse parseTags(const QByteArray &head, RawTags &out);

} // namespace mp3lib::detail
