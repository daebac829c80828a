#include "textcodec.h"

#include <QByteArrayView>
#include <QList>
#include <QStringDecoder>
#include <QStringEncoder>

#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>

#include <cstring>
#include <mutex>
#include <string>

namespace mp3lib::detail {

namespace {

constexpr const char *kCp932 = "CP932";

bool isAscii(QByteArrayView bytes)
{
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

bool isAscii(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

// The private-use area is where CP932 puts its user-defined characters (lead
// bytes F0-F9). Real Japanese tags never use them, but Latin-1 text often
// looks like them ("Bj\xF6rk": F6 72 is a valid user-defined pair), so a
// decoding that lands there is taken as a sign that the bytes are not CP932.
bool hasPrivateUse(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0xE000 && c.unicode() <= 0xF8FF)
            return true;
    }
    return false;
}

// The CP932 bytes of one character (one code point: a surrogate pair counts
// as one), or an empty array when CP932 has no form for it. Qt writes FC FC
// for a missing character and says so only through hasError(); a mapping
// that does not come back to the same character is refused as well.
QByteArray cp932Char(QStringView ch)
{
    QStringEncoder encoder(kCp932, QStringConverter::Flag::Stateless);
    QByteArray bytes = encoder.encode(ch);
    if (encoder.hasError() || bytes.isEmpty())
        return {};
    QStringDecoder decoder(kCp932, QStringConverter::Flag::Stateless);
    const QString back = decoder.decode(bytes);
    if (decoder.hasError() || back != ch)
        return {};
    return bytes;
}

} // namespace

QString decodeLegacy(const QByteArray &bytes)
{
    const QByteArrayView view(bytes);
    if (isAscii(view))
        return QString::fromLatin1(bytes);
    if (view.isValidUtf8())
        return QString::fromUtf8(bytes);
    QStringDecoder decoder(kCp932, QStringConverter::Flag::Stateless);
    if (decoder.isValid()) {
        const QString text = decoder.decode(view);
        if (!decoder.hasError() && !hasPrivateUse(text))
            return text;
    }
    return QString::fromLatin1(bytes);
}

QByteArray encodeLegacy(const QString &text, int maxBytes)
{
    if (maxBytes <= 0)
        return {};
    if (isAscii(text))
        return text.left(maxBytes).toLatin1();

    // Split into characters once, keeping each one's CP932 form (empty when
    // it has none).
    struct Piece {
        QStringView ch;
        QByteArray cp932;
    };
    QList<Piece> pieces;
    bool allCp932 = true;
    bool allLatin1 = true;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype len =
            (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
                ? 2 : 1;
        const QStringView ch = QStringView(text).mid(i, len);
        Piece piece{ch, ch.front().unicode() < 0x80 ? ch.toLatin1() : cp932Char(ch)};
        allCp932 = allCp932 && !piece.cp932.isEmpty();
        allLatin1 = allLatin1 && len == 1 && ch.front().unicode() <= 0xFF;
        pieces.append(piece);
        i += len;
    }

    if (!allCp932 && allLatin1)
        return text.left(maxBytes).toLatin1();

    // CP932, '?' for what it lacks, never cutting a double-byte character.
    QByteArray out;
    for (const Piece &piece : pieces) {
        const QByteArray bytes = piece.cp932.isEmpty() ? QByteArray("?") : piece.cp932;
        if (out.size() + bytes.size() > maxBytes)
            break;
        out += bytes;
    }
    return out;
}

QString wireText(const char *field, int width)
{
    if (!field || width <= 0)
        return {};
    const void *nul = std::memchr(field, 0, static_cast<size_t>(width));
    const qsizetype len = nul ? static_cast<const char *>(nul) - field : width;
    return QString::fromUtf8(field, len);
}

void setWireText(char *field, int width, const QString &text)
{
    if (!field || width <= 0)
        return;
    std::memset(field, 0, static_cast<size_t>(width));
    const QByteArray utf8 = text.toUtf8();
    qsizetype n = qMin<qsizetype>(utf8.size(), width);
    if (n < utf8.size()) {
        // utf8[n] is the first byte left out; when it continues a character
        // (10xxxxxx), back off to where that character starts.
        while (n > 0 && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memcpy(field, utf8.constData(), static_cast<size_t>(n));
}

namespace {

TagLib::String toTagLib(const QString &text)
{
    return TagLib::String(text.toStdWString());
}

QString fromTagLib(const TagLib::String &text)
{
    return QString::fromWCharArray(text.toCWString(), static_cast<qsizetype>(text.size()));
}

QByteArray bytesOf(const TagLib::ByteVector &data)
{
    return QByteArray(data.data(), static_cast<qsizetype>(data.size()));
}

bool isAscii(const TagLib::ByteVector &data)
{
    for (char c : data) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

// ID3v1 fields: fixed width, padded with NULs or spaces.
class Id3v1Legacy : public TagLib::ID3v1::StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector &data) const override
    {
        if (isAscii(data))   // the common case, and what TagLib does itself
            return TagLib::String(data, TagLib::String::Latin1).stripWhiteSpace();
        QByteArray bytes = bytesOf(data);
        const qsizetype nul = bytes.indexOf('\0');
        if (nul >= 0)
            bytes.truncate(nul);
        return toTagLib(decodeLegacy(bytes).trimmed());
    }

    TagLib::ByteVector render(const TagLib::String &text) const override
    {
        const QByteArray bytes = encodeLegacy(fromTagLib(text), 30);
        return TagLib::ByteVector(bytes.constData(), static_cast<unsigned int>(bytes.size()));
    }
};

// ID3v2 frames that declare ISO-8859-1; TagLib hands over one string at a
// time, without its terminator.
class Id3v2Legacy : public TagLib::ID3v2::Latin1StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector &data) const override
    {
        if (isAscii(data))
            return TagLib::String(data, TagLib::String::Latin1);
        return toTagLib(decodeLegacy(bytesOf(data)));
    }
};

} // namespace

void installLegacyStringHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // TagLib keeps the pointers for the life of the process.
        static const Id3v1Legacy v1;
        static const Id3v2Legacy v2;
        TagLib::ID3v1::Tag::setStringHandler(&v1);
        TagLib::ID3v2::Tag::setLatin1StringHandler(&v2);
    });
}

} // namespace mp3lib::detail
