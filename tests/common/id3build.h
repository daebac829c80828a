// ID3 tags built byte by byte, the way other tools write them, so that each
// test file's bytes are plain to see.
#pragma once

#include <QByteArray>
#include <QByteArrayList>

namespace id3build {

inline QByteArray be(quint32 n, int width)
{
    QByteArray b(width, '\0');
    for (int i = width - 1; i >= 0; --i, n >>= 8)
        b[i] = char(n & 0xFF);
    return b;
}

inline QByteArray syncsafe(quint32 n)
{
    return be((n & 0x7F) | (n << 1 & 0x7F00) | (n << 2 & 0x7F0000) | (n << 3 & 0x7F000000), 4);
}

// A frame of an ID3v2.`version` tag, with its two flag bytes.
inline QByteArray frame(int version, const char *id, const QByteArray &payload, quint16 flags = 0)
{
    if (version == 2)
        return id + be(payload.size(), 3) + payload;
    return id + (version == 4 ? syncsafe(payload.size()) : be(payload.size(), 4)) + be(flags, 2) + payload;
}

// A text frame's body in ISO-8859-1 (encoding byte 0).
inline QByteArray latin1(const QByteArray &text) { return '\0' + text; }

// FF 00 after every FF a reader could take for a frame sync.
inline QByteArray unsync(const QByteArray &in)
{
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        out += in[i];
        if (quint8(in[i]) == 0xFF && (i + 1 == in.size() || quint8(in[i + 1]) >= 0xE0 || in[i + 1] == '\0'))
            out += '\0';
    }
    return out;
}

inline QByteArray undoUnsync(const QByteArray &in)
{
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        out += in[i];
        if (quint8(in[i]) == 0xFF && i + 1 < in.size() && in[i + 1] == '\0')
            ++i;
    }
    return out;
}

// A tag: header (flags as given), `extended` (an extended header, as it
// stands), the frames and `padding` zero bytes; the whole body is
// unsynchronised when flag 0x80 is set in ID3v2.2/2.3, and a footer follows
// when flag 0x10 is set in ID3v2.4.
inline QByteArray tag(int version, const QByteArray &frames, int padding, quint8 flags = 0,
                      const QByteArray &extended = {})
{
    QByteArray body = extended + frames + QByteArray(padding, '\0');
    if (version <= 3 && (flags & 0x80))
        body = unsync(body);
    const QByteArray head = QByteArray("ID3") + char(version) + '\0' + char(flags) + syncsafe(body.size());
    QByteArray out = head + body;
    if (version == 4 && (flags & 0x10))
        out += "3DI" + head.mid(3);
    return out;
}

// The size of the ID3v2 tag at the start of `file` (0 without one).
inline int tagSize(const QByteArray &file)
{
    if (!file.startsWith("ID3"))
        return 0;
    const auto b = [&](int i) { return int(quint8(file[i])); };
    return 10 + (b(6) << 21 | b(7) << 14 | b(8) << 7 | b(9)) + ((b(3) == 4 && (b(5) & 0x10)) ? 10 : 0);
}

// A picture frame's body of `size` bytes of JPEG-like data.
inline QByteArray picture(int size)
{
    QByteArray data("\xff\xd8\xff\xe0", 4);
    for (int i = 0; data.size() < size; ++i)
        data += char(i * 7 % 251);
    return QByteArray("\0image/jpeg\0\x03\0", 14) + data;
}

// An ID3v1 tag; a track number makes it ID3v1.1.
inline QByteArray v1(const QByteArray &title = {}, int track = 0, int genre = 255)
{
    QByteArray t = "TAG" + title.leftJustified(30, '\0', true) + QByteArray(95, '\0');
    t[126] = char(track);
    t[127] = char(genre);
    return t;
}

// An ID3v1 tag with the given fields and an empty comment.
inline QByteArray v1(const QByteArray &title, const QByteArray &artist, const QByteArray &album,
                     const QByteArray &year, int genre)
{
    QByteArray t = v1(title, 0, genre);
    t.replace(33, artist.size(), artist);
    t.replace(63, album.size(), album);
    t.replace(93, year.size(), year);
    return t;
}

} // namespace id3build
