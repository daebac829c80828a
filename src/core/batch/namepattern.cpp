#include "core/batch/namepattern.h"

#include "core/paths/paths.h"

namespace batch {

namespace {

struct Placeholder {
    const char *name;
    int slot;
};

// In the order of the tag record; the slot numbers are NamePattern::Slot.
constexpr Placeholder kPlaceholders[] = {{"title", 0},   {"artist", 1}, {"album", 2}, {"year", 3},
                                         {"comment", 4}, {"track", 5},  {"skip", 6}};
constexpr int kYearSlot = 3, kTrackSlot = 5, kSkipSlot = 6;

// A text field holds something besides blanks (spaces, ideographic spaces,
// tabs); the title takes the longest text, the others the shortest.
const QString kTitleText = QStringLiteral("(.*[^ \\t\\x{3000}].*)");
const QString kOtherText = QStringLiteral("(.*?[^ \\t\\x{3000}].*?)");
const QString kDigits = QStringLiteral("[0-9\\x{FF10}-\\x{FF19}]");
QString trimBlanks(const QString &text)
{
    qsizetype from = 0, to = text.size();
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t' || c == QChar(0x3000); };
    while (from < to && blank(text[from]))
        ++from;
    while (to > from && blank(text[to - 1]))
        --to;
    return text.mid(from, to - from);
}

// ASCII digits for full-width ones.
QString asciiDigits(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() >= 0xFF10 && c.unicode() <= 0xFF19)
            c = QChar(u'0' + (c.unicode() - 0xFF10));
    }
    return text;
}

} // namespace

NamePattern::NamePattern(const QString &text) : text_(text)
{
    const auto fail = [this](const QString &english, const QString &japanese) {
        error_ = english;
        errorMessage_ = japanese;
    };
    // The pattern as literal pieces and placeholders.
    QString regex = QStringLiteral("^");
    QString literal;
    bool seen[std::size(kPlaceholders)] = {};
    bool fieldNamed = false;
    int previous = -1;   // the slot right before, with no literal between
    const auto flushLiteral = [&] {
        if (!literal.isEmpty()) {
            regex += QRegularExpression::escape(literal);
            literal.clear();
            previous = -1;
        }
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype end = text[i] == u'%' ? text.indexOf(u'%', i + 1) : -1;
        const QString name = end > i ? text.mid(i + 1, end - i - 1) : QString();
        const bool looksLikeOne = end > i + 1 && std::all_of(name.begin(), name.end(), [](QChar c) {
            return c.isLetter() && c.unicode() < 128;
        });
        if (!looksLikeOne) {
            literal += text[i];
            continue;
        }
        const Placeholder *p = nullptr;
        for (const Placeholder &candidate : kPlaceholders) {
            if (name.compare(QLatin1String(candidate.name), Qt::CaseInsensitive) == 0)
                p = &candidate;
        }
        if (!p) {
            fail(QStringLiteral("unknown placeholder %%1%").arg(name),
                 QStringLiteral("%%1% は使えません。").arg(name));
            return;
        }
        if (p->slot != kSkipSlot && seen[p->slot]) {
            fail(QStringLiteral("%%1% appears twice").arg(name),
                 QStringLiteral("%%1% が二度あります。").arg(name));
            return;
        }
        flushLiteral();
        // Two texts side by side have no boundary between them.
        const auto numeric = [](int slot) { return slot == kYearSlot || slot == kTrackSlot; };
        if (previous >= 0 && !numeric(previous) && !numeric(p->slot)) {
            fail(QStringLiteral("%%1% and %%2% need text between them")
                     .arg(QLatin1String(kPlaceholders[previous].name), QLatin1String(p->name)),
                 QStringLiteral("%%1% と %%2% の間に区切りの文字が必要です。")
                     .arg(QLatin1String(kPlaceholders[previous].name), QLatin1String(p->name)));
            return;
        }
        seen[p->slot] = true;
        fieldNamed = fieldNamed || p->slot < kTrackSlot;
        if (p->slot == kTrackSlot)
            regex += QStringLiteral("(%1+)(?!%1)").arg(kDigits);
        else if (p->slot == kYearSlot)
            regex += QStringLiteral("(%1{4})").arg(kDigits);
        else if (p->slot == kSkipSlot)
            regex += QStringLiteral("(.*?)");
        else if (p->slot == 0)
            regex += kTitleText;
        else
            regex += kOtherText;
        slots_.append(Slot(p->slot));
        i = end;
        previous = p->slot;
    }
    flushLiteral();
    if (!fieldNamed) {
        fail(QStringLiteral("the pattern names no tag field (%title%, %artist%, %album%, %year% or %comment%)"),
             QStringLiteral("パターンにタグの項目 (%title%, %artist%, %album%, %year%, %comment%) がありません。"));
        return;
    }
    regex_ = QRegularExpression(regex + QStringLiteral("$"), QRegularExpression::DotMatchesEverythingOption);
}

NameFields NamePattern::match(const QString &name) const
{
    NameFields out;
    if (!valid())
        return out;
    QString stem = name.normalized(QString::NormalizationForm_C);
    if (stem.endsWith(QStringLiteral(".mp3"), Qt::CaseInsensitive))
        stem.chop(4);
    const QRegularExpressionMatch m = regex_.match(stem);
    if (!m.hasMatch())
        return out;
    out.matched = true;
    for (qsizetype i = 0; i < slots_.size(); ++i) {
        const QString value = m.captured(int(i) + 1);
        switch (slots_[i]) {
        case Title:
            out.fields.title = trimBlanks(value);
            break;
        case Artist:
            out.fields.artist = trimBlanks(value);
            break;
        case Album:
            out.fields.album = trimBlanks(value);
            break;
        case Comment:
            out.fields.comment = trimBlanks(value);
            break;
        case Year:
            out.fields.year = asciiDigits(value);
            break;
        case Track:
            out.track = asciiDigits(value).toLongLong();
            break;
        case Skip:
            break;
        }
    }
    return out;
}

NameFields NamePattern::matchPath(const QByteArray &path) const
{
    return match(paths::display(paths::nameOf(path)));
}

QList<history::TagEdit> fromNameEdits(const QList<QByteArray> &paths, const NamePattern &pattern,
                                      QList<qsizetype> *matched)
{
    QList<history::TagEdit> edits;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const NameFields got = pattern.matchPath(paths[i]);
        if (!got.matched)
            continue;
        edits.append({paths[i], got.fields});
        if (matched)
            matched->append(i);
    }
    return edits;
}

} // namespace batch
