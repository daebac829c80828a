#include "core/tags/garbled.h"

#include "core/tags/textcodec.h"

#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

// The chains: a program read the bytes of a tag in the wrong code page
// (Windows-1252, ISO-8859-1 or MacRoman, where they were CP932 or UTF-8; or
// CP932 where they were Windows-1252) and stored what it read as Unicode.
// Every such reading can be undone exactly: encode the text in the wrong
// code page, decode the bytes as what they were. What decides is whether it
// should be: most clean text survives a round trip too ("Amélie" encodes in
// Windows-1252 to bytes that are valid CP932, "Am駘ie"). So each field is
// scored as it is and as repaired by the legacy-text scoring (the judgement
// that tells CP932 from Windows-1252 in undeclared tag text), and a chain
// is taken only when the repair wins clearly over the whole tag and loses
// in no field. Where that scoring is weakest, shapes no writer makes rule a
// repair out first: half-width katakana against full-width Japanese or
// full-width Japanese against ASCII letters in a CP932 result, letters of
// two scripts side by side in a UTF-8 one, Greek or Cyrillic in Western
// text read as CP932. A tag whose '?' may stand for a lost byte gets no
// repair from the chains that could have lost it.

namespace mp3lib {

namespace {

using detail::LegacyCodec;
using detail::legacyPlausibility;

// ---- code pages of one byte a character ------------------------------

// Windows-1252's bytes 0x80-0x9F; the five it leaves undefined read as
// their C1 codes, as Windows reads them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// MacRoman's bytes 0x80-0xFF, Apple's mapping (0xDB the euro sign, 0xF0
// the Apple logo in the private use area).
constexpr char16_t kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5,
    0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4,
    0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6,
    0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF,
    0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5,
    0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044,
    0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9,
    0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7};

// A code page of one byte a character, ASCII below 0x80; `high` gives the
// `count` bytes from 0x80 up, bytes above read as the same Latin-1 code.
class ByteCodePage {
public:
    ByteCodePage(const char16_t *high, int count)
    {
        for (int i = 0; i < 128; ++i) {
            chars_[i] = i < count ? high[i] : char16_t(0x80 + i);
            back_[i] = {chars_[i], static_cast<unsigned char>(0x80 + i)};
        }
        std::sort(back_.begin(), back_.end());
    }

    char16_t toChar(unsigned char b) const { return b < 0x80 ? b : chars_[b - 0x80]; }

    // The byte of `c`; -1 when the code page lacks it.
    int toByte(char16_t c) const
    {
        if (c < 0x80)
            return c;
        const auto it = std::lower_bound(back_.begin(), back_.end(), std::pair<char16_t, unsigned char>(c, 0));
        return it != back_.end() && it->first == c ? it->second : -1;
    }

    // `text` in this code page; false when a character has no byte.
    bool encode(QStringView text, QByteArray &out) const
    {
        out.resize(text.size());
        for (qsizetype i = 0; i < text.size(); ++i) {
            const int b = toByte(text[i].unicode());
            if (b < 0)
                return false;
            out[i] = static_cast<char>(b);
        }
        return true;
    }

private:
    std::array<char16_t, 128> chars_;
    std::array<std::pair<char16_t, unsigned char>, 128> back_;
};

const ByteCodePage &byteCodePage(CodePage page)
{
    static const ByteCodePage cp1252(kCp1252High, 32), latin1(nullptr, 0), macRoman(kMacRomanHigh, 128);
    return page == CodePage::Windows1252 ? cp1252 : page == CodePage::Latin1 ? latin1 : macRoman;
}

bool isUndefined1252(unsigned char b)
{
    return b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
}

// ---- CP932 (Qt's converter, Microsoft's mapping) ---------------------

// Qt's converters keep an error once they met one (resetState does not clear
// it), so a converter that failed is made anew before its next use.
template <typename Converter>
Converter &cp932Converter()
{
    thread_local Converter converter("CP932", QStringConverter::Flag::Stateless);
    if (converter.hasError())
        converter = Converter("CP932", QStringConverter::Flag::Stateless);
    return converter;
}

// Whether `bytes` have the shape of CP932: single bytes 00-7F and A1-DF,
// lead bytes 81-9F and E0-FC each with a trail byte 40-7E or 80-FC. Most
// text that is no CP932 fails this, sparing the converter.
bool hasCp932Shape(QByteArrayView bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80 || (b >= 0xA1 && b <= 0xDF))
            continue;
        if (b == 0x80 || b == 0xA0 || b > 0xFC || i + 1 == bytes.size())
            return false;
        const auto t = static_cast<unsigned char>(bytes[++i]);
        if (t < 0x40 || t == 0x7F || t > 0xFC)
            return false;
    }
    return true;
}

// Strict: false on any byte sequence CP932 lacks (which the converter may
// also give as U+FFFD without an error), and on its user-defined area,
// which no repaired text holds.
bool decodeCp932(QByteArrayView bytes, QString &out)
{
    if (!hasCp932Shape(bytes))
        return false;
    QStringDecoder &decoder = cp932Converter<QStringDecoder>();
    out = decoder.decode(bytes);
    if (decoder.hasError())
        return false;
    return std::none_of(out.cbegin(), out.cend(), [](QChar c) {
        return (c.unicode() >= 0xE000 && c.unicode() <= 0xF8FF) || c == QChar::ReplacementCharacter;
    });
}

// False when a character has no CP932 form (the converter then writes a
// stand-in and flags the error) or does not come back as itself.
bool encodeCp932(QStringView text, QByteArray &out)
{
    // Latin-1 letters, which CP932 lacks, rule most Western text out early.
    if (std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0xC0 && c.unicode() <= 0xFF; }))
        return false;
    QStringEncoder &encoder = cp932Converter<QStringEncoder>();
    out = encoder.encode(text);
    QString back;
    return !encoder.hasError() && decodeCp932(out, back) && back == text;
}

// CP932 has some characters twice: the NEC-selected IBM extensions (lead
// bytes ED and EE) and NEC's row 13 (lead 87) repeat characters of the IBM
// extensions (FA to FC) and of row 2 (81). An encoder gives one code for
// each; the other codes that read as the same character, keyed by the code
// the encoder gives.
const QHash<quint16, QList<quint16>> &cp932Twins()
{
    static const QHash<quint16, QList<quint16>> twins = [] {
        QHash<quint16, QList<quint16>> out;
        for (int lead : {0x87, 0xED, 0xEE}) {
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                QString ch;
                QByteArray code;
                if (trail != 0x7F && decodeCp932(QByteArrayView(pair, 2), ch) && ch.size() == 1
                    && encodeCp932(ch, code) && code.size() == 2 && code != QByteArrayView(pair, 2))
                    out[quint16(quint8(code[0]) << 8 | quint8(code[1]))].append(quint16(lead << 8 | trail));
            }
        }
        return out;
    }();
    return twins;
}

// The Windows-1252 bytes CP932 text stands for, where a character CP932 has
// twice may stand for either code: the one that reads better as
// Windows-1252 beside its neighbours ("tralharíamos" read as CP932 holds 僘
// of ED 61, which an encoder writes FA 7D, "ú}"), an accented letter
// followed by an ASCII letter above all ("amperímetro", not "amperúŠetro").
void chooseCp932Twins(QByteArray &bytes)
{
    const auto &twins = cp932Twins();
    for (qsizetype i = 0; i + 1 < bytes.size(); ++i) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x81 || (lead > 0x9F && lead < 0xE0))
            continue;
        const auto it = twins.find(quint16(lead << 8 | static_cast<unsigned char>(bytes[i + 1])));
        if (it != twins.end()) {
            const qsizetype from = std::max<qsizetype>(0, i - 3);
            QByteArray window = bytes.mid(from, i + 5 - from);
            const qsizetype at = i - from;
            const auto windowScore = [&] {
                const QChar trail = QLatin1Char(window[at + 1]);
                return legacyPlausibility(LegacyCodec::Windows1252, window)
                       + (trail.unicode() < 0x80 && trail.isLetter() ? 2 : 0);
            };
            double bestScore = windowScore();
            for (quint16 code : *it) {
                window[at] = static_cast<char>(code >> 8);
                window[at + 1] = static_cast<char>(code & 0xFF);
                const double score = windowScore();
                if (score > bestScore) {
                    bytes[i] = window[at];
                    bytes[i + 1] = window[at + 1];
                    bestScore = score;
                }
            }
        }
        ++i;
    }
}

// ---- plausibility -----------------------------------------------------

bool isHalfWidthKana(QChar c)
{
    return c.unicode() >= 0xFF61 && c.unicode() <= 0xFF9F;
}

// Japanese of full width: kana, kanji, punctuation, full-width forms.
bool isFullWidth(QChar c)
{
    return c.unicode() >= 0x3000 && !isHalfWidthKana(c) && !c.isSurrogate();
}

// How plausibly `text` reads as text a person wrote, by the legacy-text
// scoring of its Windows-1252 form, or of its CP932 form where it has one
// that reads better. In the Windows-1252 form a character that code page
// lacks stands in as an accented letter when it is a letter (Polish ł),
// as "¤" when it is another visible character (♪, emoji), and as an
// undefined byte when no writer means it (C1 and other controls, private
// use, unassigned codes, a lone combining mark).
double plausibility(QStringView text, bool *standInsUsed = nullptr)
{
    const ByteCodePage &cp1252 = byteCodePage(CodePage::Windows1252);
    QByteArray western;
    western.reserve(text.size());
    bool standIns = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if ((c >= 0xFE00 && c <= 0xFE0F) || c == 0x200D)
            continue;   // a variation selector or joiner, part of the emoji before it
        const int b = c <= 0xFFFF ? cp1252.toByte(char16_t(c)) : -1;
        if (b >= 0 && !(c >= 0x80 && c < 0xA0)) {
            western += static_cast<char>(b);
            continue;
        }
        switch (QChar::category(c)) {
        case QChar::Other_Control: case QChar::Other_Format: case QChar::Other_Surrogate:
        case QChar::Other_PrivateUse: case QChar::Other_NotAssigned: case QChar::Mark_NonSpacing:
        case QChar::Mark_SpacingCombining: case QChar::Mark_Enclosing:
            western += '\x81';
            break;
        default:
            standIns = true;
            western += !QChar::isLetter(c) ? '\xA4' : QChar::isUpper(c) ? '\xC9' : '\xE9';
        }
    }
    double score = legacyPlausibility(LegacyCodec::Windows1252, western);
    QByteArray japanese;
    if (standIns && std::any_of(text.begin(), text.end(), isFullWidth) && encodeCp932(text, japanese))
        score = std::max(score, legacyPlausibility(LegacyCodec::Cp932, japanese));
    else if (standInsUsed)
        *standInsUsed = standIns;
    return score;
}

// ---- the chains -------------------------------------------------------

struct Chain {
    CodePage misreadAs, real;
};

// UTF-8 first: when one of those is sure, the others need no trying (see
// findGarbleRepair). On a tie the earlier chain wins.
constexpr Chain kChains[] = {
    {CodePage::Windows1252, CodePage::Utf8},  {CodePage::Latin1, CodePage::Utf8},
    {CodePage::MacRoman, CodePage::Utf8},     {CodePage::Windows1252, CodePage::Cp932},
    {CodePage::Latin1, CodePage::Cp932},      {CodePage::MacRoman, CodePage::Cp932},
    {CodePage::Cp932, CodePage::Windows1252}};

// How much more plausible a tag must read repaired than as it is, for a
// chain to be taken: UTF-8 (when sure, see findGarbleRepair) little, being
// near proof on its own; Western text read as CP932 a little too, its own
// guards (no Greek or Cyrillic, ASCII letters beside) ruling out the clean
// Japanese texts that also go back; CP932 read as a Western code page, and
// UTF-8 giving text beyond both code pages, more, since runs of Western
// capitals read as katakana. Then the least gain of
// any one field a chain changes, and how far apart two chains with
// different results must be for the better one to be taken.
constexpr double kUtf8Gain = 1;
constexpr double kCp932Gain = 3;
constexpr double kWesternGain = 1;
constexpr double kFieldGain = 0.5;
constexpr double kCloseGain = 3;

// A '?' where CP932 text read in a single-byte code page lost a byte that
// code page lacks: it stood for a lead byte, so what follows is the rest of
// that character (a trail byte from 0x40) or the garbled rest of the text.
bool mayHaveLostLeadByte(QStringView text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        const char16_t next = text[i + 1].unicode();
        if (text[i] == u'?' && next >= 0x40)
            return true;
    }
    return false;
}

bool isAsciiLetter(QChar c)
{
    return c.unicode() < 0x80 && c.isLetter();
}

// Half-width katakana right beside full-width Japanese, or full-width
// Japanese right beside an ASCII letter: what UTF-8 bytes or Western
// capitals make when read as CP932 ("菌ﾎｾｵ", "ÉPÉES" as MacRoman "ケウS"),
// seldom what a Japanese writer typed.
bool oddJapaneseNeighbours(QStringView text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        const QChar a = text[i], b = text[i + 1];
        if ((isHalfWidthKana(a) && isFullWidth(b)) || (isFullWidth(a) && isHalfWidthKana(b))
            || (isFullWidth(a) && isAsciiLetter(b)) || (isAsciiLetter(a) && isFullWidth(b)))
            return true;
    }
    return false;
}

// Letters of two scripts right beside each other ("ҨΟ", Cyrillic and
// Greek): what a wrong UTF-8 reading makes, not what anyone writes. Han,
// kana and full-width forms count as one script, as Japanese mixes them.
bool mixesScripts(QStringView text)
{
    const auto group = [](char32_t c) {
        if (!QChar::isLetter(c))
            return -1;
        if (c >= 0xFF00 && c <= 0xFFEF)
            return int(QChar::Script_Han);
        const QChar::Script script = QChar::script(c);
        if (script == QChar::Script_Common || script == QChar::Script_Inherited)
            return -1;   // ー, 々 and the like go with any script
        return script == QChar::Script_Hiragana || script == QChar::Script_Katakana ? int(QChar::Script_Han)
                                                                                    : int(script);
    };
    int previous = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        const int current = group(c);
        if (previous >= 0 && current >= 0 && previous != current)
            return true;
        previous = current;
    }
    return false;
}

// Whether a '?' in `field` stood for a byte of UTF-8 lost when it was read
// as Windows-1252 or ISO-8859-1 (the five bytes Windows-1252 leaves
// undefined, or all of 80-9F): its bytes in that code page are no UTF-8 as
// they are, but would be with some '?' as a continuation byte.
bool lostUtf8Byte(const QString &field)
{
    const auto valid = [](QByteArrayView bytes, bool questionContinues) {
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            const auto b = static_cast<unsigned char>(bytes[i]);
            const int more = b < 0x80 ? 0 : b >= 0xC2 && b <= 0xDF ? 1 : b >= 0xE0 && b <= 0xEF ? 2
                                         : b >= 0xF0 && b <= 0xF4 ? 3 : -1;
            if (more < 0)
                return false;
            for (int k = 0; k < more; ++k) {
                const auto t = ++i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0;
                if ((t & 0xC0) != 0x80 && !(questionContinues && t == '?'))
                    return false;
            }
        }
        return true;
    };
    if (!field.contains(u'?'))
        return false;
    for (CodePage page : {CodePage::Windows1252, CodePage::Latin1}) {
        QByteArray bytes;
        if (byteCodePage(page).encode(field, bytes) && !QByteArrayView(bytes).isValidUtf8() && valid(bytes, true))
            return true;
    }
    return false;
}

// Greek, Cyrillic and box drawing: what CP932 makes of Windows-1252's ƒ and
// „ before a letter, and what clean Greek and Russian text holds.
bool hasCp932OtherScript(QStringView text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        return (c.unicode() >= 0x0370 && c.unicode() < 0x0530) || (c.unicode() >= 0x2500 && c.unicode() < 0x2580);
    });
}

// Whether a character beyond ASCII stands right beside an ASCII letter:
// Western text read as CP932 keeps its ASCII letters around the accented
// ones ("Am駘ie"); a Japanese text alone or between spaces ("Idylls 籤")
// was written so.
bool touchesAsciiLetter(QStringView text)
{
    const auto letter = [](QChar c) { return c.unicode() < 0x80 && c.isLetter(); };
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if ((text[i].unicode() >= 0x80 && letter(text[i + 1])) || (letter(text[i]) && text[i + 1].unicode() >= 0x80))
            return true;
    }
    return false;
}

enum class Outcome { NotGarbled, Rejected, Repaired };

struct FieldRepair {
    Outcome outcome = Outcome::NotGarbled;
    QString text;
    double gain = 0;
    bool fullWidth = false;   // the repaired text holds full-width Japanese
    bool standIns = false;    // its plausibility needed stand-ins (see plausibility)
};

// One field through one chain. `score` is the field's plausibility as it is,
// worked out the first time a chain needs it (NaN until then).
FieldRepair repairField(const Chain &chain, const QString &field, double &score)
{
    FieldRepair r;
    QByteArray bytes;
    if (chain.misreadAs == CodePage::Cp932) {
        // Western text read as Japanese.
        r.outcome = Outcome::Rejected;
        if (hasCp932OtherScript(field) || !touchesAsciiLetter(field) || !encodeCp932(field, bytes))
            return r;
        chooseCp932Twins(bytes);
        const ByteCodePage &cp1252 = byteCodePage(CodePage::Windows1252);
        r.text.resize(bytes.size());
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            const auto b = static_cast<unsigned char>(bytes[i]);
            if (isUndefined1252(b))
                return r;
            r.text[i] = cp1252.toChar(b);
        }
        r.gain = legacyPlausibility(LegacyCodec::Windows1252, bytes) - legacyPlausibility(LegacyCodec::Cp932, bytes);
    } else {
        r.outcome = Outcome::Rejected;
        if (!byteCodePage(chain.misreadAs).encode(field, bytes))
            return r;
        if (chain.real == CodePage::Cp932) {
            if (!decodeCp932(bytes, r.text) || oddJapaneseNeighbours(r.text))
                return r;
            r.fullWidth = std::any_of(r.text.cbegin(), r.text.cend(), isFullWidth);
            if (std::isnan(score))
                score = plausibility(field);
            r.gain = legacyPlausibility(LegacyCodec::Cp932, bytes) - score;
        } else {
            // UTF-8 that is not what another code page made of it: valid, and
            // with no C1 control, private use or unassigned code (the ASCII
            // controls, a comment's line breaks, come through as they were).
            if (!QByteArrayView(bytes).isValidUtf8())
                return r;
            r.text = QString::fromUtf8(bytes);
            if (mixesScripts(r.text))
                return r;
            for (QChar c : std::as_const(r.text)) {
                const auto cat = c.category();
                if ((c.unicode() >= 0x80 && c.unicode() < 0xA0) || cat == QChar::Other_PrivateUse
                    || cat == QChar::Other_NotAssigned)
                    return r;
            }
            if (std::isnan(score))
                score = plausibility(field);
            r.gain = plausibility(r.text, &r.standIns) - score;
        }
    }
    r.outcome = r.text == field ? Outcome::NotGarbled : Outcome::Repaired;
    return r;
}

bool isAscii(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

} // namespace

std::optional<GarbleRepair> findGarbleRepair(const TagTexts &fields)
{
    // Which fields could be garbled at all; a U+FFFD anywhere says the tag
    // went through a conversion that lost bytes.
    std::array<bool, 4> candidate{};
    std::array<double, 4> score{};
    bool any = false;
    for (std::size_t f = 0; f < fields.size(); ++f) {
        if (fields[f].contains(QChar::ReplacementCharacter))
            return std::nullopt;
        candidate[f] = !isAscii(fields[f]);
        any = any || candidate[f];
    }
    if (!any)
        return std::nullopt;
    score.fill(std::numeric_limits<double>::quiet_NaN());

    // A '?' in any field, ASCII ones too, may be a byte the wrong reading
    // lost: Western text read as CP932 loses an accented letter before a
    // space, and CP932 read as Windows-1252 loses the lead byte 0x81 of
    // its punctuation ("ー" = 81 5B becomes "?[").
    // And UTF-8 read as a Western code page loses a continuation byte.
    bool question = false, lostLead = false;
    for (const QString &field : fields) {
        question = question || field.contains(u'?');
        lostLead = lostLead || mayHaveLostLeadByte(field);
        if (lostUtf8Byte(field))
            return std::nullopt;
    }

    // Every chain that goes back, with its gain.
    struct Candidate {
        GarbleRepair repair;
        double gain;
        bool sure;   // UTF-8 whose every character reads in Windows-1252 or CP932, and gains
    };
    QList<Candidate> found;
    bool sure = false;
    for (const Chain &chain : kChains) {
        if (sure && chain.real != CodePage::Utf8)
            break;
        if ((chain.misreadAs == CodePage::Cp932 && question) || (chain.real == CodePage::Cp932 && lostLead))
            continue;
        GarbleRepair repair{chain.misreadAs, chain.real, fields};
        double gain = 0;
        bool changed = false, rejected = false, fullWidth = false, standIns = false;
        for (std::size_t f = 0; f < fields.size() && !rejected; ++f) {
            if (!candidate[f])
                continue;
            const FieldRepair r = repairField(chain, fields[f], score[f]);
            rejected = r.outcome == Outcome::Rejected
                       || (r.outcome == Outcome::Repaired && r.gain < kFieldGain);
            if (r.outcome == Outcome::Repaired) {
                repair.texts[f] = r.text;
                gain += r.gain;
                changed = true;
                fullWidth = fullWidth || r.fullWidth;
                standIns = standIns || r.standIns;
            }
        }
        // Japanese written in half-width katakana alone cannot be told from
        // Western capitals ("ÆØÅ" is "ﾆﾘﾅ").
        if (chain.real == CodePage::Cp932 && !fullWidth)
            rejected = true;
        if (!rejected && changed) {
            found.append({repair, gain, chain.real == CodePage::Utf8 && !standIns && gain >= kUtf8Gain});
            sure = sure || found.back().sure;
        }
    }

    // Valid UTF-8 of several bytes a character is near proof on its own
    // (few texts in other code pages form it), so a UTF-8 chain comes before
    // the others, as in the reading of undeclared text, when what it gives
    // is Western or Japanese text ("Ç¬Ç¨" is UTF-8 too, for "Ǭ", but CP932
    // read as MacRoman, for "ぬの"). Among the rest the most plausible wins,
    // but only clearly: two readings of nearly the same plausibility ("é®"
    // is 魄 as Windows-1252, 耳 as MacRoman) are a guess.
    const Candidate *best = nullptr;
    for (const Candidate &c : found) {
        if (c.sure == sure && (!best || c.gain > best->gain))
            best = &c;
    }
    const double least = best && best->sure ? kUtf8Gain
                         : best && best->repair.real == CodePage::Windows1252 ? kWesternGain
                                                                              : kCp932Gain;
    if (!best || best->gain < least)
        return std::nullopt;
    for (const Candidate &c : found) {
        if (c.sure == sure && c.repair.texts != best->repair.texts && c.gain > best->gain - kCloseGain)
            return std::nullopt;
    }
    return best->repair;
}

QString codePageName(CodePage page)
{
    switch (page) {
    case CodePage::Windows1252: return QStringLiteral("Windows-1252");
    case CodePage::Latin1: return QStringLiteral("ISO-8859-1");
    case CodePage::MacRoman: return QStringLiteral("MacRoman");
    case CodePage::Cp932: return QStringLiteral("CP932");
    case CodePage::Utf8: return QStringLiteral("UTF-8");
    }
    return {};
}

} // namespace mp3lib
