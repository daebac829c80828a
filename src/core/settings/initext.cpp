#include "core/settings/initext.h"

#include <QStringDecoder>

#include <algorithm>

namespace initext {

namespace {

constexpr QByteArrayView kUtf8Bom("\xEF\xBB\xBF");

bool isBlank(char c) { return c == ' ' || c == '\t'; }

QByteArrayView trimBlanks(QByteArrayView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.sliced(b, e - b);
}

QString trimBlanks(const QString &s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && (s[b] == u' ' || s[b] == u'\t'))
        ++b;
    while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t'))
        --e;
    return s.sliced(b, e - b);
}

bool isQuote(char c) { return c == '"' || c == '\''; }

// A value in a pair of matching quotes loses them, as the profile functions do.
QByteArrayView unquote(QByteArrayView v)
{
    if (v.size() >= 2 && isQuote(v.front()) && v.back() == v.front())
        return v.sliced(1, v.size() - 2);
    return v;
}

// One line of the text: content [begin, contentEnd), line break [contentEnd, end).
struct Line {
    qsizetype begin = 0;
    qsizetype contentEnd = 0;
    qsizetype end = 0;
    bool lineFeed = false;   // the break ends in LF; a text cut after a CR has none
    bool hasBreak() const { return lineFeed; }
    // What completes the break of a line that has none: the LF alone after
    // a CR, else a whole break. Lines are only split at LF, so text added
    // after a lone CR would join this line.
    QByteArrayView missingBreak(QByteArrayView br) const
    {
        return end > contentEnd ? QByteArrayView("\n") : br;
    }
};

class LineReader {
public:
    explicit LineReader(QByteArrayView text)
        : text_(text), pos_(text.startsWith(kUtf8Bom) ? kUtf8Bom.size() : 0) {}

    bool next(Line &line)
    {
        if (pos_ >= text_.size())
            return false;
        line.begin = pos_;
        const qsizetype nl = text_.indexOf('\n', pos_);
        line.end = nl < 0 ? text_.size() : nl + 1;
        line.contentEnd = nl < 0 ? text_.size() : nl;
        line.lineFeed = nl >= 0;
        if (line.contentEnd > line.begin && text_[line.contentEnd - 1] == '\r')
            --line.contentEnd;
        pos_ = line.end;
        return true;
    }

private:
    QByteArrayView text_;
    qsizetype pos_;
};

enum class Kind { Blank, Comment, Section, Key, Other };

struct Parsed {
    Kind kind = Kind::Other;
    QByteArrayView name;    // section or key name, blanks removed
    QByteArrayView value;   // key lines: value, blanks and quotes removed
};

Parsed classify(QByteArrayView content)
{
    Parsed p;
    const QByteArrayView t = trimBlanks(content);
    if (t.isEmpty()) {
        p.kind = Kind::Blank;
    } else if (t.front() == ';') {
        p.kind = Kind::Comment;
    } else if (t.front() == '[' && t.indexOf(']') > 0) {
        p.kind = Kind::Section;
        p.name = trimBlanks(t.sliced(1, t.indexOf(']') - 1));
    } else if (const qsizetype eq = t.indexOf('='); eq >= 0) {
        p.kind = Kind::Key;
        p.name = trimBlanks(t.first(eq));
        p.value = unquote(trimBlanks(t.sliced(eq + 1)));
    }
    return p;
}

bool sameName(QByteArrayView stored, const QString &name)
{
    // QString::fromUtf8 drops a leading U+FEFF; in a name it is a character
    // like any other, written as such.
    QStringDecoder decode(QStringDecoder::Utf8,
                          QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return !name.isEmpty() && QString(decode(stored)).compare(name, Qt::CaseInsensitive) == 0;
}

// Where section and key stand in the text.
struct Place {
    bool sectionFound = false;
    Line lastOfSection;        // header or last key line: a new key goes after it
    bool keyFound = false;
    Line keyLine;
    QByteArrayView keyName;    // as it stands in the file
    QByteArrayView value;
    Line lastLine;             // last line of the whole text
    bool lastLineBlank = true;
};

Place locate(QByteArrayView text, const QString &section, const QString &key)
{
    Place place;
    const QString sec = trimBlanks(section);
    const QString k = trimBlanks(key);
    bool inSection = false;
    LineReader reader(text);
    Line line;
    while (reader.next(line)) {
        const Parsed p = classify(text.sliced(line.begin, line.contentEnd - line.begin));
        place.lastLine = line;
        place.lastLineBlank = p.kind == Kind::Blank;
        if (p.kind == Kind::Section) {
            // Only the first section of a name counts, for reading and writing alike.
            inSection = !place.sectionFound && sameName(p.name, sec);
            if (inSection) {
                place.sectionFound = true;
                place.lastOfSection = line;
            }
        } else if (p.kind == Kind::Key && inSection) {
            place.lastOfSection = line;
            if (!place.keyFound && sameName(p.name, k)) {
                place.keyFound = true;
                place.keyLine = line;
                place.keyName = p.name;
                place.value = p.value;
            }
        }
    }
    return place;
}

// New and rewritten lines end as the file's lines already do: CR LF unless
// its first line ends in LF alone.
QByteArrayView lineBreakOf(QByteArrayView text)
{
    const qsizetype nl = text.indexOf('\n');
    if (nl > 0 && text[nl - 1] != '\r')
        return "\n";
    return "\r\n";
}

// Blanks around a value, or a pair of quotes enclosing it, would be lost on
// reading; a pair of double quotes around the whole value keeps them.
QByteArray encodeValue(const QString &value)
{
    const QByteArray v = value.toUtf8();
    const bool quote = !v.isEmpty()
        && (isBlank(v.front()) || isBlank(v.back())
            || (v.size() >= 2 && isQuote(v.front()) && v.back() == v.front()));
    return quote ? '"' + v + '"' : v;
}

bool hasLineBreakOrNul(const QString &s)
{
    return s.contains(u'\n') || s.contains(u'\r') || s.contains(QChar(u'\0'));
}

} // namespace

bool isStorableSection(const QString &section)
{
    const QString s = trimBlanks(section);
    return !s.isEmpty() && !hasLineBreakOrNul(s) && !s.contains(u']');
}

bool isStorableKey(const QString &key)
{
    const QString k = trimBlanks(key);
    return !k.isEmpty() && !hasLineBreakOrNul(k) && !k.contains(u'=') && !k.startsWith(u';')
        && !k.startsWith(u'[');
}

bool isStorableValue(const QString &value) { return !hasLineBreakOrNul(value); }

std::optional<QByteArray> value(QByteArrayView text, const QString &section, const QString &key)
{
    const Place place = locate(text, section, key);
    if (!place.keyFound)
        return std::nullopt;
    return place.value.toByteArray();
}

std::optional<QByteArray> withValue(QByteArrayView text, const QString &section,
                                    const QString &key, const QString &value)
{
    if (!isStorableSection(section) || !isStorableKey(key) || !isStorableValue(value))
        return std::nullopt;

    const Place place = locate(text, section, key);
    const QByteArrayView br = lineBreakOf(text);
    const QByteArray encoded = encodeValue(value);
    QByteArray out;
    out.reserve(text.size() + section.size() * 3 + key.size() * 3 + encoded.size() + 16);

    if (place.keyFound && place.value == value.toUtf8())
        return text.toByteArray();   // already stored: the line stays as it is
    if (place.keyFound) {
        // The key keeps its spelling, the line its place and its line break.
        const Line &l = place.keyLine;
        out.append(text.first(l.begin));
        out.append(place.keyName).append('=').append(encoded);
        out.append(text.sliced(l.contentEnd));
        return out;
    }

    const QByteArray newKeyLine = trimBlanks(key).toUtf8() + '=' + encoded;
    if (place.sectionFound) {
        const Line &l = place.lastOfSection;
        out.append(text.first(l.end));
        if (!l.hasBreak())
            out.append(l.missingBreak(br));
        out.append(newKeyLine).append(br);
        out.append(text.sliced(l.end));
        return out;
    }

    // A new section at the end, after a blank line as Windows writes it.
    out.append(text);
    const bool onlyBom = text.size() == kUtf8Bom.size() && text.startsWith(kUtf8Bom);
    if (!text.isEmpty() && !onlyBom) {
        if (!place.lastLine.hasBreak())
            out.append(place.lastLine.missingBreak(br));
        if (!place.lastLineBlank)
            out.append(br);
    }
    out.append('[').append(trimBlanks(section).toUtf8()).append(']').append(br);
    out.append(newKeyLine).append(br);
    return out;
}

QByteArray cutValue(QByteArray bytes, qsizetype maxBytes)
{
    if (const qsizetype nul = bytes.indexOf('\0'); nul >= 0)
        bytes.truncate(nul);
    if (bytes.size() > maxBytes) {
        qsizetype cut = maxBytes;
        // Step back over continuation bytes (10xxxxxx) to the start of a character.
        while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80)
            --cut;
        bytes.truncate(cut);
    }
    return bytes;
}

std::optional<std::int16_t> toInt16(QByteArrayView text)
{
    const QByteArrayView t = trimBlanks(text);
    qsizetype i = 0;
    const auto isDigit = [&](qsizetype at) { return at < t.size() && t[at] >= '0' && t[at] <= '9'; };

    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        negative = t[i++] == '-';

    // All mantissa digits without leading zeros, and how many of them stand
    // before the decimal point (may go negative for 0.00ddd).
    QByteArray digits;
    qsizetype pointPos = 0;
    qsizetype mantissaDigits = 0;
    for (; isDigit(i); ++i, ++mantissaDigits) {
        if (!digits.isEmpty() || t[i] != '0') {
            digits.append(t[i]);
            ++pointPos;
        }
    }
    if (i < t.size() && t[i] == '.') {
        for (++i; isDigit(i); ++i, ++mantissaDigits) {
            if (!digits.isEmpty() || t[i] != '0')
                digits.append(t[i]);
            else
                --pointPos;
        }
    }
    if (mantissaDigits == 0)
        return std::nullopt;

    qint64 exponent = 0;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        bool expNegative = false;
        if (i < t.size() && (t[i] == '+' || t[i] == '-'))
            expNegative = t[i++] == '-';
        if (!isDigit(i))
            return std::nullopt;
        for (; isDigit(i); ++i)
            exponent = std::min<qint64>(exponent * 10 + (t[i] - '0'), 1'000'000'000);
        if (expNegative)
            exponent = -exponent;
    }
    if (i != t.size())
        return std::nullopt;

    while (!digits.isEmpty() && digits.back() == '0')
        digits.chop(1);
    if (digits.isEmpty())
        return std::int16_t(0);

    // value = 0.<digits> x 10^intDigits
    const qint64 intDigits = pointPos + exponent;
    if (intDigits > 5)
        return std::nullopt;   // at least 100000
    qint64 whole = 0;
    for (qint64 d = 0; d < intDigits; ++d)
        whole = whole * 10 + (d < digits.size() ? digits[d] - '0' : 0);

    // Round on the fraction: its first digit and whether anything follows it.
    const qint64 firstFrac = intDigits;   // index of the first fraction digit
    if (firstFrac >= 0 && firstFrac < digits.size()) {
        const int first = digits[firstFrac] - '0';
        const bool more = firstFrac + 1 < digits.size();   // trailing zeros are gone
        if (first > 5 || (first == 5 && (more || whole % 2 == 1)))
            ++whole;
    }
    // firstFrac < 0: the value is below 0.1 and rounds to 0.

    const qint64 result = negative ? -whole : whole;
    if (result < -32768 || result > 32767)
        return std::nullopt;
    return static_cast<std::int16_t>(result);
}

} // namespace initext
