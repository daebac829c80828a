#include "core/id3v2/id3v2layer.h"

namespace mp3lib::detail {

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

Id3Header parseId3Header(const std::uint8_t *h)
{
    Id3Header t;
    if (std::memcmp(h, "ID3", 3) != 0)
        return t;
    t.present = true;
    t.complete = Id3Header::kSize;
    t.major = h[3];
    t.revision = h[4];
    t.flags = h[5];
    for (int i = 6; i < 10; ++i) {
        if (h[i] >= 0x80)
            return t;
    }
    t.sizeValid = true;
    t.unsync = h[5] & 0x80;
    t.extended = h[5] & 0x40;
    t.footer = t.major == 4 && (h[5] & 0x10);
    t.tagSize = syncsafe(h + 6);
    t.complete = std::int64_t(t.tagSize) + Id3Header::kSize + (t.footer ? Id3Header::kSize : 0);
    return t;
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

QByteArray frameHeaderBytes(int major, const QByteArray &id, quint32 size, const char *flags)
{
    if (major == 2)
        return id + bigEndianBytes(size, 3);
    return id + (major == 3 ? bigEndianBytes(size, 4) : syncsafeBytes(size)) + QByteArray(flags, 2);
}

std::int64_t extendedHeaderSize(int major, const std::uint8_t *body, std::int64_t n)
{
    if (major < 3 || n < 4)
        return -1;
    const std::int64_t size = major == 3 ? std::int64_t(bigEndian(body, 4)) + 4 : std::int64_t(syncsafe(body));
    return size < 6 || size > n ? -1 : size;
}

QByteArray undoUnsync(QByteArrayView in)
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

QByteArray applyUnsync(QByteArrayView in)
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

} // namespace mp3lib::detail
