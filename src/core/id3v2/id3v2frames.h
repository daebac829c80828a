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

#include "core/id3v2/id3v2layer.h"

namespace mp3lib::detail {

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
};

enum class TagParse {
    None,         // no ID3v2 tag at the start
    Parsed,
    Unsupported,  // a tag whose frames cannot all be kept (or that overruns): never written
};

// The tag(s) at the start of `head` (the file's bytes before its audio).
TagParse parseTags(const QByteArray &head, RawTags &out);

} // namespace mp3lib::detail
