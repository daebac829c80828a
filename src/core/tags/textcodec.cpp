#include "core/tags/textcodec.h"
#include "core/tags/legacytext.h"

#include <QByteArrayView>
#include <QStringDecoder>
#include <QStringEncoder>

#include <array>
#include <cstring>

// Deciding between CP932 and Windows-1252 by plausibility, not validity:
// most short Western texts are valid CP932 too, since an accented letter
// followed by an ASCII letter forms a double-byte character ("é" + "l" is
// 駘) and a lone capital such as "É" is a half-width katakana. So each
// reading is scored as a person would judge it, per character and its
// neighbours, summed over all undeclared text of the tag; the higher sum
// wins, Windows-1252 on a tie.
//
// The CP932 reading gains from kana, full-width forms, Japanese punctuation
// and the numbered symbols (①), and from level-1 kanji, all the more in runs
// of such characters; it loses for rare kanji and half-width katakana that
// stand alone beside ASCII letters (where Western accented letters land),
// and heavily for user-defined and unassigned codes; half-width katakana
// count little in a field of Latin text with nothing else Japanese in it,
// and one of them over and over counts against.
// The Windows-1252 reading gains from accented letters beside ASCII letters
// (in the case order of a word) and from its punctuation (’ “ ” – … €) beside spaces and letters; it loses
// for its five undefined bytes, for punctuation and symbols wedged between
// other non-ASCII bytes (but not in a row of one symbol, "·······"), for
// runs of three or more different non-ASCII bytes, and for a field whose
// non-ASCII bytes have no ASCII letter anywhere beside them.

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

bool isAsciiLetter(unsigned c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// ---- Windows-1252 -------------------------------------------------------

// Bytes 0x80-0x9F; zero marks the five bytes Windows-1252 leaves undefined.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

QChar cp1252Char(unsigned char b)
{
    if (b < 0x80 || b >= 0xA0)
        return QChar(char16_t{b});
    const char16_t c = kCp1252High[b - 0x80];
    return QChar(c ? c : b);   // undefined bytes read as their C1 code, as Windows does
}

int cp1252Byte(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return c;
    for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] == c && c != 0)
            return 0x80 + i;
    }
    return -1;
}

enum class Cp1252Kind { Letter, Punct, RarePunct, Symbol, RareSymbol, Undefined };

Cp1252Kind cp1252Kind(unsigned char b)
{
    switch (b) {
    case 0x81: case 0x8D: case 0x8F: case 0x90: case 0x9D:
        return Cp1252Kind::Undefined;
    case 0x8A: case 0x8C: case 0x8E: case 0x9A: case 0x9C: case 0x9E: case 0x9F:
        return Cp1252Kind::Letter;   // Š Œ Ž š œ ž Ÿ
    case 0x80: case 0x84: case 0x85: case 0x8B: case 0x91: case 0x92: case 0x93:
    case 0x94: case 0x95: case 0x96: case 0x97: case 0x99: case 0x9B:
        return Cp1252Kind::Punct;    // € „ … ‹ ‘ ’ “ ” • – — ™ ›
    case 0xA0: case 0xA1: case 0xA3: case 0xA7: case 0xA9: case 0xAA: case 0xAB: case 0xAE:
    case 0xB0: case 0xB2: case 0xB3: case 0xB4: case 0xB7: case 0xBA: case 0xBB:
    case 0xBD: case 0xBF:
        return Cp1252Kind::Symbol;   // NBSP ¡ £ § © ª « ® ° ² ³ ´ · º » ½ ¿
    case 0xD7: case 0xF7:
        return Cp1252Kind::RareSymbol;
    default:
        break;
    }
    if (b < 0xA0)
        return Cp1252Kind::RarePunct;   // ‚ ƒ † ‡ ˆ ‰ ˜
    return b >= 0xC0 ? Cp1252Kind::Letter : Cp1252Kind::RareSymbol;
}

// Š Œ Ž Ÿ and À to Þ (but ×).
bool isUpperCp1252(unsigned char b)
{
    return b == 0x8A || b == 0x8C || b == 0x8E || b == 0x9F || (b >= 0xC0 && b <= 0xDE && b != 0xD7);
}

double scoreCp1252(QByteArrayView bytes)
{
    enum Side { Edge, Letter, OtherAscii, HighLetter, High };
    auto side = [&](qsizetype i) {
        if (i < 0 || i >= bytes.size())
            return Edge;
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80)
            return isAsciiLetter(b) ? Letter : OtherAscii;
        return cp1252Kind(b) == Cp1252Kind::Letter ? HighLetter : High;
    };
    double score = 0;
    bool asciiLetter = false, high = false;
    qsizetype run = 0;
    bool oneByteRun = true;   // the run repeats one byte: a row of one symbol
    auto endRun = [&] {
        if (run >= 3 && !oneByteRun)
            score -= 1.5 * static_cast<double>(run - 2);
        run = 0;
        oneByteRun = true;
    };
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            asciiLetter = asciiLetter || isAsciiLetter(b);
            endRun();
            continue;
        }
        high = true;
        oneByteRun = oneByteRun && (run == 0 || bytes[i - 1] == bytes[i]);
        ++run;
        const Side sides[2] = {side(i - 1), side(i + 1)};
        for (int k = 0; k < 2; ++k) {
            const Side s = sides[k];
            const qsizetype n = k ? i + 1 : i - 1;
            const bool same = n >= 0 && n < bytes.size() && bytes[n] == bytes[i];
            const bool beside = s == Edge || s == Letter || s == OtherAscii || (same && cp1252Kind(b) != Cp1252Kind::Letter);
            switch (cp1252Kind(b)) {
            case Cp1252Kind::Undefined:
                score -= 4;
                break;
            case Cp1252Kind::Letter:
                if (s == Letter) {
                    // Inside a word, case runs from upper to lower ("Édith",
                    // "Héloïse"), not from lower to upper ("åK").
                    const auto next = static_cast<unsigned char>(bytes[n]);
                    const bool upper = isUpperCp1252(b);
                    const bool nUpper = next >= 'A' && next <= 'Z';
                    score += (k == 0 && upper && !nUpper) || (k == 1 && !upper && nUpper) ? -0.5 : 1.5;
                } else {
                    score += beside ? 0.5 : s == HighLetter ? 0.25 : -0.5;
                }
                break;
            case Cp1252Kind::Punct:
                score += beside ? 1 : -1;
                break;
            case Cp1252Kind::Symbol:
                score += beside ? 0.5 : -1;
                break;
            case Cp1252Kind::RarePunct:
            case Cp1252Kind::RareSymbol:
                score += beside ? 0.25 : -1;
                break;
            }
        }
    }
    endRun();
    if (high && !asciiLetter)
        score -= 2;
    return score;
}

// ---- CP932 --------------------------------------------------------------

bool isCp932Lead(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Every double-byte code of CP932 (Microsoft's mapping, through Qt's
// converter), made once: 0 where the code is unassigned.
class Cp932Table {
public:
    static const Cp932Table &instance()
    {
        static const Cp932Table table;
        return table;
    }

    char16_t at(unsigned char lead, unsigned char trail) const
    {
        return pairs_[leadIndex(lead)][trail];
    }

private:
    static int leadIndex(unsigned char lead) { return lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 31; }

    Cp932Table()
    {
        for (auto &row : pairs_)
            row.fill(0);
        for (int lead = 0x81; lead <= 0xFC; ++lead) {
            if (!isCp932Lead(static_cast<unsigned char>(lead)))
                continue;
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                if (trail == 0x7F)
                    continue;
                // A decoder of its own for each code: an error sticks to a
                // decoder until it is made anew.
                QStringDecoder decoder(kCp932, QStringConverter::Flag::Stateless);
                const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                const QString text = decoder.decode(QByteArrayView(bytes, 2));
                if (decoder.hasError() || text.size() != 1 || text[0] == QChar::ReplacementCharacter
                    || text[0].unicode() < 0x20)
                    continue;
                pairs_[leadIndex(static_cast<unsigned char>(lead))][trail] = text[0].unicode();
            }
        }
    }

    std::array<std::array<char16_t, 256>, 60> pairs_;
};

enum class JaKind {
    Ascii, Kana, FullWidth, Symbol, Kanji1, Kanji2, RareKanji, OtherScript, HalfKana,
    UserDefined, Invalid, CutTail
};

struct JaChar {
    JaKind kind;
    char16_t ch;
};

JaKind classify(unsigned char lead, unsigned char trail, char16_t ch)
{
    if (lead >= 0xF0 && lead <= 0xF9)
        return JaKind::UserDefined;
    if ((ch >= 0x3041 && ch <= 0x30FF) || ch == 0x3005 || ch == 0x3006)
        return JaKind::Kana;
    if ((ch >= 0x4E00 && ch <= 0x9FFF) || (ch >= 0xF900 && ch <= 0xFAFF)) {
        if (lead <= 0x97 || (lead == 0x98 && trail <= 0x72))
            return JaKind::Kanji1;
        return lead <= 0xEA ? JaKind::Kanji2 : JaKind::RareKanji;
    }
    switch (lead) {
    case 0x81: return JaKind::Symbol;        // 、。「」～・ー and the like
    case 0x82: return JaKind::FullWidth;     // ０-９ Ａ-Ｚ ａ-ｚ
    case 0x87: return JaKind::Symbol;        // ① Ⅰ ㈱ №
    case 0x83:
    case 0x84: return JaKind::OtherScript;   // Greek, Cyrillic, box drawing
    default: return JaKind::Symbol;          // the IBM extensions' ⅰ ￢ ∵
    }
}

// The characters of a CP932 reading; a cut field's lone lead byte at its
// end is a character cut in two, not an error.
QList<JaChar> readCp932(const LegacyField &field)
{
    const Cp932Table &table = Cp932Table::instance();
    const QByteArray &bytes = field.bytes;
    QList<JaChar> out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            out.append({JaKind::Ascii, b});
        } else if (b >= 0xA1 && b <= 0xDF) {
            out.append({JaKind::HalfKana, static_cast<char16_t>(0xFF61 + (b - 0xA1))});
        } else if (isCp932Lead(b) && i + 1 < bytes.size()) {
            const auto t = static_cast<unsigned char>(bytes[i + 1]);
            const char16_t ch = table.at(b, t);
            if (ch == 0) {
                out.append({JaKind::Invalid, QChar::ReplacementCharacter});
            } else {
                out.append({classify(b, t, ch), ch});
                ++i;
            }
        } else if (isCp932Lead(b) && field.cut) {
            out.append({JaKind::CutTail, 0});
        } else {
            out.append({JaKind::Invalid, QChar::ReplacementCharacter});
        }
    }
    return out;
}

bool isJapanese(const JaChar *c)
{
    return c && c->kind != JaKind::Ascii && c->kind != JaKind::Invalid
           && c->kind != JaKind::CutTail && c->kind != JaKind::UserDefined;
}

double scoreCp932(const QList<JaChar> &chars)
{
    // Half-width katakana are where Windows-1252's capitals with accents
    // and its symbols land (ÈÉÊË is ﾈﾉﾊﾋ, · is ｷ): alone beside Latin text,
    // with nothing else Japanese in the field, they are weak evidence.
    bool latin = false, otherJapanese = false;
    for (const JaChar &c : chars) {
        latin = latin || (c.kind == JaKind::Ascii && isAsciiLetter(c.ch));
        otherJapanese = otherJapanese || (isJapanese(&c) && c.kind != JaKind::HalfKana);
    }
    const bool weakHalfKana = latin && !otherJapanese;
    double score = 0;
    for (qsizetype k = 0; k < chars.size(); ++k) {
        const JaChar *prev = k > 0 ? &chars[k - 1] : nullptr;
        const JaChar *next = k + 1 < chars.size() ? &chars[k + 1] : nullptr;
        const bool inRun = isJapanese(prev) || isJapanese(next);
        int letters = 0;
        for (const JaChar *n : {prev, next})
            letters += n && n->kind == JaKind::Ascii && isAsciiLetter(n->ch) ? 1 : 0;
        switch (chars[k].kind) {
        case JaKind::Ascii:
        case JaKind::CutTail:
            break;
        case JaKind::Kana:
            score += inRun ? 4 : 3;
            break;
        case JaKind::FullWidth:
        case JaKind::Symbol:
            score += inRun ? 3 : 2;
            break;
        case JaKind::Kanji1:
            score += inRun ? 3 : letters == 2 ? -1 : letters == 1 ? 0.5 : 1.5;
            break;
        case JaKind::Kanji2:
            score += inRun ? 1.5 : letters == 2 ? -3 : letters == 1 ? -1 : 0.5;
            break;
        case JaKind::RareKanji:
            score += inRun ? 1 : letters > 0 ? -3 : 0;
            break;
        case JaKind::OtherScript:
            score += inRun ? 0 : -1;
            break;
        case JaKind::HalfKana:
            // One kana over and over is a row of one symbol, not a word.
            if ((prev && prev->ch == chars[k].ch) || (next && next->ch == chars[k].ch))
                score -= 1;
            else
                score += inRun && !weakHalfKana ? 1.5 : letters > 0 ? -3 : -0.5;
            break;
        case JaKind::UserDefined:
            score -= 6;
            break;
        case JaKind::Invalid:
            score -= 8;
            break;
        }
    }
    return score;
}

// ---- UTF-8 --------------------------------------------------------------

// Where a cut field's bytes stop being whole UTF-8 characters: the start of
// a multi-byte character that runs past the end, else the size.
qsizetype wholeUtf8Size(const LegacyField &field)
{
    const QByteArray &bytes = field.bytes;
    if (!field.cut)
        return bytes.size();
    for (qsizetype back = 1; back <= 3 && back <= bytes.size(); ++back) {
        const auto b = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if ((b & 0xC0) == 0x80)
            continue;   // a continuation byte: look further back
        const int length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        return length > back ? bytes.size() - back : bytes.size();
    }
    return bytes.size();
}

// Whether the tag's text is UTF-8: every field valid (but for a character
// cut at the end of a cut field), at least one whole multi-byte character,
// and no C1 control character, which no writer means.
bool isUtf8Tag(const QList<LegacyField> &fields)
{
    bool multiByte = false;
    for (const LegacyField &field : fields) {
        const QByteArrayView whole = QByteArrayView(field.bytes).first(wholeUtf8Size(field));
        if (!whole.isValidUtf8())
            return false;
        for (qsizetype i = 0; i + 1 < whole.size(); ++i) {
            const auto b = static_cast<unsigned char>(whole[i]);
            if (b == 0xC2 && static_cast<unsigned char>(whole[i + 1]) < 0xA0)
                return false;
            multiByte = multiByte || b >= 0xC0;
        }
    }
    return multiByte;
}

} // namespace

LegacyCodec detectLegacyCodec(const QList<LegacyField> &fields)
{
    bool ascii = true;
    for (const LegacyField &field : fields)
        ascii = ascii && isAscii(field.bytes);
    if (ascii)
        return LegacyCodec::Windows1252;
    if (isUtf8Tag(fields))
        return LegacyCodec::Utf8;
    double japanese = 0, western = 0;
    for (const LegacyField &field : fields) {
        if (isAscii(field.bytes))
            continue;
        japanese += scoreCp932(readCp932(field));
        western += scoreCp1252(field.bytes);
    }
    return japanese > western ? LegacyCodec::Cp932 : LegacyCodec::Windows1252;
}

double legacyPlausibility(LegacyCodec codec, const QByteArray &bytes)
{
    return codec == LegacyCodec::Cp932 ? scoreCp932(readCp932({bytes, false})) : scoreCp1252(bytes);
}

QString decodeLegacyAs(LegacyCodec codec, const LegacyField &field)
{
    if (isAscii(field.bytes))
        return QString::fromLatin1(field.bytes);
    if (codec == LegacyCodec::Utf8)
        return QString::fromUtf8(QByteArrayView(field.bytes).first(wholeUtf8Size(field)));
    if (codec == LegacyCodec::Cp932) {
        QString text;
        bool cp932 = true;
        for (const JaChar &c : readCp932(field)) {
            if (c.kind == JaKind::Invalid || c.kind == JaKind::UserDefined)
                cp932 = false;
            else if (c.kind != JaKind::CutTail)
                text += QChar(c.ch);
        }
        if (cp932)
            return text;
    }
    QString text(field.bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < field.bytes.size(); ++i)
        text[i] = cp1252Char(static_cast<unsigned char>(field.bytes[i]));
    return text;
}

QList<QString> decodeLegacyFields(const QList<LegacyField> &fields)
{
    const LegacyCodec codec = detectLegacyCodec(fields);
    QList<QString> texts;
    texts.reserve(fields.size());
    for (const LegacyField &field : fields)
        texts.append(decodeLegacyAs(codec, field));
    return texts;
}

namespace {

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

QList<QByteArray> encodeLegacyFields(const QList<QString> &texts, const QList<int> &maxBytes,
                                     const QList<bool> &kept)
{
    // Split into characters once, keeping each one's CP932 form (empty when
    // it has none), and decide over every field.
    struct Piece {
        QStringView ch;
        QByteArray cp932;
    };
    QList<QList<Piece>> fields;
    bool allCp932 = true;
    bool allCp1252 = true;
    bool keptCp932 = true;
    bool keptCp1252 = true;
    for (qsizetype t = 0; t < texts.size(); ++t) {
        const QString &text = texts[t];
        const bool keep = kept.value(t);
        QList<Piece> pieces;
        for (qsizetype i = 0; i < text.size();) {
            const qsizetype len =
                (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
                    ? 2 : 1;
            const QStringView ch = QStringView(text).mid(i, len);
            Piece piece{ch, ch.front().unicode() < 0x80 ? ch.toLatin1() : cp932Char(ch)};
            const bool fits932 = !piece.cp932.isEmpty();
            const bool fits1252 = len == 1 && cp1252Byte(ch.front().unicode()) >= 0;
            allCp932 = allCp932 && fits932;
            allCp1252 = allCp1252 && fits1252;
            keptCp932 = keptCp932 && (!keep || fits932);
            keptCp1252 = keptCp1252 && (!keep || fits1252);
            pieces.append(piece);
            i += len;
        }
        fields.append(pieces);
    }

    // Windows-1252 only when CP932 cannot hold every field and it can, or,
    // when neither can, when it holds the kept fields and CP932 does not:
    // the '?' then falls on the fields written, not on those left alone.
    const bool cp1252 = allCp932 ? false : allCp1252 ? true : !keptCp932 && keptCp1252;
    QList<QByteArray> out;
    for (qsizetype f = 0; f < fields.size(); ++f) {
        const int max = qMax(0, maxBytes.value(f));
        QByteArray bytes;
        for (const Piece &piece : fields[f]) {
            // '?' for what the code page lacks, never cutting a double-byte
            // character.
            const int byte = cp1252 && piece.ch.size() == 1 ? cp1252Byte(piece.ch.front().unicode()) : -1;
            const QByteArray one = cp1252 ? (byte >= 0 ? QByteArray(1, static_cast<char>(byte)) : QByteArray("?"))
                                 : piece.cp932.isEmpty() ? QByteArray("?") : piece.cp932;
            if (bytes.size() + one.size() > max)
                break;
            bytes += one;
        }
        out.append(bytes);
    }
    return out;
}

QByteArray encodeLegacy(const QString &text, int maxBytes)
{
    return encodeLegacyFields({text}, {maxBytes}).value(0);
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

} // namespace mp3lib::detail

QString mp3lib::decodeLegacy(const QByteArray &bytes)
{
    return detail::decodeLegacyFields({detail::LegacyField{bytes, false}}).front();
}
