// MPEG audio: frame headers and where the audio of a file lies.

#include "core/tags/mpegaudio.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace mp3lib::detail {

namespace {

using u8 = std::uint8_t;
using u32 = std::uint32_t;
using i64 = std::int64_t;

struct FrameHeader {
    bool valid = false;
    int version = 0;        // 1, 2, or 25 for MPEG 2.5
    int layer = 0;          // 1..3
    int sampleRateIndex = 0;
    bool mono = false;
    i64 length = 0;         // bytes, header included
};

const int kBitrates[2][3][16] = {
    {   // MPEG 1, layers I, II, III
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    },
    {   // MPEG 2 and 2.5
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
    },
};

const int kSampleRates[3][3] = {
    {44100, 48000, 32000},   // MPEG 1
    {22050, 24000, 16000},   // MPEG 2
    {11025, 12000, 8000},    // MPEG 2.5
};

// `taglibLength` computes the length the way TagLib 1.13 does (it differs
// from the standard for layer I), for predicting where TagLib stops looking.
FrameHeader parseFrameHeader(const u8 *h, bool taglibLength = false)
{
    FrameHeader f;
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return f;
    const int versionBits = (h[1] >> 3) & 3;
    const int layerBits = (h[1] >> 1) & 3;
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15
        || rateIndex == 3)
        return f;
    f.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    f.layer = 4 - layerBits;
    f.sampleRateIndex = rateIndex;
    f.mono = ((h[3] >> 6) & 3) == 3;
    const bool padded = (h[2] >> 1) & 1;
    const bool mpeg1 = f.version == 1;
    const i64 bitrate = kBitrates[mpeg1 ? 0 : 1][f.layer - 1][bitrateIndex] * i64(1000);
    const i64 rate = kSampleRates[mpeg1 ? 0 : f.version == 2 ? 1 : 2][rateIndex];
    if (f.layer == 1) {
        f.length = taglibLength ? 384 * bitrate / 8 / rate + (padded ? 4 : 0)
                                : (12 * bitrate / rate + (padded ? 1 : 0)) * 4;
    } else {
        const i64 samples = (f.layer == 3 && !mpeg1) ? 576 : 1152;
        f.length = samples * bitrate / 8 / rate + (padded ? 1 : 0);
    }
    f.valid = f.length >= 4;
    return f;
}

bool sameStream(const FrameHeader &a, const FrameHeader &b)
{
    return b.valid && a.version == b.version && a.layer == b.layer
        && a.sampleRateIndex == b.sampleRateIndex && a.mono == b.mono;
}

// Three consecutive frames of one stream starting at `pos` in `data`, all
// before `end` (the third at least with its header).
bool chainAt(const u8 *data, i64 size, i64 pos, i64 end)
{
    end = std::min(end, size);
    if (pos + 4 > end)
        return false;
    const FrameHeader first = parseFrameHeader(data + pos);
    if (!first.valid)
        return false;
    i64 next = pos + first.length;
    if (next + 4 > end)
        return false;
    const FrameHeader second = parseFrameHeader(data + next);
    if (!sameStream(first, second))
        return false;
    next += second.length;
    if (next + 4 > end)
        return false;
    return sameStream(first, parseFrameHeader(data + next));
}

// chainAt over the file.
bool chainInFile(FileReader &reader, i64 pos, i64 end)
{
    u8 h[4];
    FrameHeader first;
    for (int i = 0; i < 3; ++i) {
        if (pos + 4 > end)
            return false;
        const u8 *p = reader.at(pos, 4);
        if (!p)
            return false;
        std::memcpy(h, p, 4);
        const FrameHeader f = parseFrameHeader(h);
        if (i == 0)
            first = f;
        if (!f.valid || (i > 0 && !sameStream(first, f)))
            return false;
        pos += f.length;
    }
    return true;
}

// The frame test TagLib 1.13 uses while looking for an ID3v2 tag: a frame
// sync (second byte not FF), a valid header, and the next frame's header
// agreeing in version, layer and sample rate.
Id3Header id3HeaderAt(FileReader &reader, i64 pos)
{
    const u8 *h = reader.at(pos, Id3Header::kSize);
    return h ? parseId3Header(h) : Id3Header{};
}

i64 skipId3Tags(FileReader &reader, i64 pos)
{
    for (int i = 0; i < kMaxStackedTags; ++i) {
        const Id3Header t = id3HeaderAt(reader, pos);
        if (!t.present)
            break;
        pos += t.complete;
    }
    return pos;
}

// ---------------------------------------------------------------------------
// Where the audio is

constexpr i64 kSearchWindow = 64 * 1024;   // junk allowed before the first frame
constexpr i64 kMaxFrameLength = 2881;      // MPEG 2 layer II, 160 kbit/s at 8 kHz

} // namespace

bool taglibSeesFrame(FileReader &reader, i64 pos)
{
    const u8 *h = reader.at(pos, 4);
    if (!h || h[1] == 0xFF)
        return false;
    u8 head[4];
    std::memcpy(head, h, 4);
    const FrameHeader f = parseFrameHeader(head, true);
    if (!f.valid)
        return false;
    const u8 *n = reader.at(pos + f.length, 4);
    if (!n)
        return false;
    const u32 mask = 0xFFFE0C00u;
    const u32 a = u32(head[0]) << 24 | u32(head[1]) << 16 | u32(head[2]) << 8 | head[3];
    const u32 b = u32(n[0]) << 24 | u32(n[1]) << 16 | u32(n[2]) << 8 | n[3];
    return (a & mask) == (b & mask);
}

AudioSpan locateAudio(FileReader &reader)
{
    AudioSpan span;
    const i64 size = reader.size();
    if (size <= 0)
        return span;

    // Where the tags at the start end: the block read there (for a tag too
    // large for the head) often reaches the end of the file as well.
    const i64 begin = skipId3Tags(reader, 0);

    // The end: before an ID3v1 tag ("TAG", last 128 bytes) and an APEv2 tag
    // (footer "APETAGEX" just before ID3v1 or at the very end).
    // One read of the file's last 160 bytes covers both.
    const i64 tailLen = std::min<i64>(size, 160);
    const u8 *tail = reader.at(size - tailLen, tailLen);
    if (!tail)
        return span;
    auto tailAt = [&](i64 offset) { return tail + (offset - (size - tailLen)); };
    i64 end = size;
    if (size >= 128 && std::memcmp(tailAt(size - 128), "TAG", 3) == 0)
        end = size - 128;
    if (end >= 32 && end - 32 >= size - tailLen) {
        const u8 *a = tailAt(end - 32);
        if (std::memcmp(a, "APETAGEX", 8) == 0) {
            const u32 tagSize = u32(a[12]) | u32(a[13]) << 8 | u32(a[14]) << 16 | u32(a[15]) << 24;
            const u32 flags = u32(a[20]) | u32(a[21]) << 8 | u32(a[22]) << 16 | u32(a[23]) << 24;
            const i64 complete = i64(tagSize) + ((flags & 0x80000000u) ? 32 : 0);
            // A size that reaches back past the file's start claims the whole
            // file: no room for audio.
            end = complete >= 32 ? std::max<i64>(end - complete, 0) : end - 32;
        }
    }

    if (begin >= end)
        return span;

    // Fast path: the audio starts right after the tag (its frame headers are
    // usually in the block already read for the tag).
    if (chainInFile(reader, begin, end)) {
        span.found = true;
        span.begin = begin;
        span.end = end;
        return span;
    }

    // Otherwise search a bounded window for the first chain of frames,
    // stepping over an ID3v2 tag met on the way.
    std::vector<u8> window;
    const i64 len = std::min(end - begin, kSearchWindow + 2 * kMaxFrameLength + 4);
    if (!reader.copy(begin, len, window))
        return span;
    const u8 *d = window.data();
    const i64 lastStart = std::min(len, kSearchWindow);
    int tagsSkipped = 0;
    for (i64 p = 0; p < lastStart; ++p) {
        if (d[p] == 'I' && p + Id3Header::kSize <= len && tagsSkipped < kMaxStackedTags) {
            const Id3Header t = parseId3Header(d + p);
            if (t.present) {
                ++tagsSkipped;
                p += t.complete - 1;
                continue;
            }
        }
        if (d[p] != 0xFF)
            continue;
        if (chainAt(d, len, p, len)) {
            span.found = true;
            span.begin = begin + p;
            span.end = end;
            return span;
        }
    }
    return span;
}

AudioSpan findMpegAudio(int fd)
{
    FileReader reader(fd);
    if (!reader.ok())
        return {};
    return locateAudio(reader);
}

} // namespace mp3lib::detail
