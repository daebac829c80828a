// ID3 and APE tags built byte by byte, the way other tools write them, so that
// each test file's bytes are plain to see; the case tables in tests/data spell
// them as expressions over these builders (see Bytes).
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QRandomGenerator>

#include <cctype>

namespace id3build {

// `n` in `width` bytes, most significant first, or (`little`) last.
inline QByteArray be(quint32 n, int width, bool little = false)
{
    QByteArray b(width, '\0');
    for (int i = 0; i < width; ++i, n >>= 8)
        b[little ? i : width - 1 - i] = char(n & 0xFF);
    return b;
}

inline QByteArray le(quint32 n, int width) { return be(n, width, true); }

inline QByteArray syncsafe(quint32 n)
{
    return be((n & 0x7F) | (n << 1 & 0x7F00) | (n << 2 & 0x7F0000) | (n << 3 & 0x7F000000), 4);
}

// A frame of an ID3v2.`version` tag.
inline QByteArray frame(int version, const QByteArray &id, const QByteArray &payload, quint16 flags = 0)
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

// A tag: header, `extended` header as given, frames, padding; the body is
// unsynchronised for flag 0x80 in ID3v2.2/2.3, a footer follows for 0x10 in 2.4.
inline QByteArray tag(int version, const QByteArray &frames, int padding, quint8 flags = 0,
                      const QByteArray &extended = {})
{
    QByteArray body = extended + frames + QByteArray(padding, '\0');
    if (version <= 3 && (flags & 0x80))
        body = unsync(body);
    const QByteArray head = QByteArray("ID3") + char(version) + '\0' + char(flags) + syncsafe(body.size());
    return head + body + (version == 4 && (flags & 0x10) ? "3DI" + head.mid(3) : QByteArray());
}

// The size of the ID3v2 tag at the start of `file` (0 without one).
inline int tagSize(const QByteArray &file)
{
    if (!file.startsWith("ID3"))
        return 0;
    const auto b = [&](int i) { return int(quint8(file[i])); };
    return 10 + (b(6) << 21 | b(7) << 14 | b(8) << 7 | b(9)) + ((b(3) == 4 && (b(5) & 0x10)) ? 10 : 0);
}

// The frames of the ID3v2.3 or 2.4 tag (not unsynchronised) a file begins
// with, each whole, header included; the padding ends them.
inline QByteArrayList frames(const QByteArray &file)
{
    QByteArrayList out;
    const int end = tagSize(file), version = file.size() > 3 ? file[3] : 0;
    for (int at = 10; at + 10 <= end && file[at] != '\0';) {
        quint32 n = 0;
        for (const char c : file.mid(at + 4, 4))
            n = version == 4 ? n << 7 | (quint8(c) & 0x7F) : n << 8 | quint8(c);
        out << file.mid(at, 10 + int(n));
        at += 10 + int(n);
    }
    return out;
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
inline QByteArray v1(const QByteArray &title = {}, const QByteArray &artist = {}, const QByteArray &album = {},
                     const QByteArray &year = {}, int genre = 255, const QByteArray &comment = {}, int track = 0)
{
    const auto field = [](const QByteArray &text, int width) { return text.leftJustified(width, '\0', true); };
    return "TAG" + field(title, 30) + field(artist, 30) + field(album, 30) + field(year, 4)
           + (track ? field(comment, 28) + '\0' + char(track) : field(comment, 30)) + char(genre);
}

// Bytes spelled as an expression: "text" (escapes \xHH \0 \n \" \\), a + b,
// a * count, names bound in `vars`, and the builders above called by name, as
// in tag(3, frame(3, "TIT2", text("Title")), 64). Numbers are text too. An
// expression it cannot read gives empty bytes and says why in `error`.
class Bytes {
public:
    explicit Bytes(QHash<QByteArray, QByteArray> names = {}) : vars(std::move(names)) {}
    QHash<QByteArray, QByteArray> vars;
    QByteArray error;

    QByteArray operator()(const QByteArray &expr)
    {
        s_ = expr.trimmed();
        i_ = 0;
        error.clear();
        if (s_.isEmpty())
            return {};
        QByteArray out = sum();
        if (error.isEmpty() && i_ != s_.size())
            fail("unexpected \"" + s_.mid(i_, 12) + '"');
        return error.isEmpty() ? out : QByteArray();
    }

private:
    static qint64 n(const QByteArray &b) { return b.toLongLong(nullptr, 0); }
    QByteArray fail(const QByteArray &why)
    {
        if (error.isEmpty())
            error = "bad expression at " + QByteArray::number(i_) + ": " + why + " in " + s_;
        i_ = s_.size();   // nothing more is read
        return {};
    }
    bool eat(char c)
    {
        while (i_ < s_.size() && s_[i_] == ' ')
            ++i_;
        return i_ < s_.size() && s_[i_] == c ? ++i_, true : false;
    }
    // Terms joined by "+", each an atom repeated by the "* count" after it.
    QByteArray sum()
    {
        QByteArray b;
        do {
            QByteArray term = atom();
            while (eat('*'))
                term = term.repeated(n(atom()));
            b += term;
        } while (eat('+'));
        return b;
    }
    QByteArray atom()
    {
        QByteArray b;
        if (eat('"')) {
            for (; i_ < s_.size() && s_[i_] != '"'; ++i_) {
                if (s_[i_] != '\\')
                    b += s_[i_];
                else if (s_[++i_] == 'x') {
                    b += char(s_.mid(i_ + 1, 2).toInt(nullptr, 16));
                    i_ += 2;
                } else
                    b += s_[i_] == '0' ? '\0' : s_[i_] == 'n' ? '\n' : s_[i_];
            }
            if (i_ >= s_.size())
                return fail("a text without its closing quote");
            ++i_;
            return b;
        }
        while (i_ < s_.size() && (isalnum(s_[i_]) || s_[i_] == '_' || s_[i_] == '-'))
            b += s_[i_++];
        if (b.isEmpty())
            return fail(i_ < s_.size() ? "unexpected \"" + s_.mid(i_, 12) + '"' : "an operand missing at the end");
        if (!eat('('))
            return vars.value(b, b);
        QByteArrayList a;
        while (!eat(')')) {
            if (i_ >= s_.size())
                return fail("\"" + b + "(\" without its \")\"");
            a << sum();
            eat(',');
        }
        a.resize(8);   // arguments left out are empty
        return call(b, a);
    }
    QByteArray call(const QByteArray &f, const QByteArrayList &a)
    {
        if (f == "text")
            return latin1(a[0]);
        if (f == "frame")
            return frame(n(a[0]), a[1], a[2], n(a[3]));
        if (f == "tag")
            return tag(n(a[0]), a[1], n(a[2]), n(a[3]), a[4]);
        if (f == "v1")
            return v1(a[0], a[1], a[2], a[3], a[4].isEmpty() ? 255 : n(a[4]), a[5], n(a[6]));
        if (f == "picture")
            return picture(n(a[0]));
        if (f == "be" || f == "le")
            return be(n(a[0]), n(a[1]), f == "le");
        if (f == "left")
            return a[0].left(n(a[1]));
        if (f == "syncsafe")
            return syncsafe(n(a[0]));
        if (f == "zlib")   // zlib data as a compressed frame holds it
            return qCompress(a[0], 9).mid(4);
        if (f == "ape")    // an APEv2 footer after its items, declaring `size` bytes or its true size
            return a[0] + "APETAGEX" + le(2000, 4) + le(a[2].isEmpty() ? a[0].size() + 32 : n(a[2]), 4)
                   + le(n(a[1]), 4) + QByteArray(12, '\0');
        if (f == "item")   // an APEv2 item
            return le(a[1].size(), 4) + le(0, 4) + a[0] + '\0' + a[1];
        if (f == "random") {   // `size` bytes of noise, the same for the same `seed`
            QByteArray b(n(a[1]), '\0');
            QRandomGenerator(quint32(n(a[0]))).fillRange(reinterpret_cast<quint32 *>(b.data()), b.size() / 4);
            return b;
        }
        return fail("no function \"" + f + '"');
    }

    QByteArray s_;
    qsizetype i_ = 0;
};

} // namespace id3build
