// Settings text: parse arbitrary bytes as a settings file, store one value,
// parse again. Every other key must read as before, the stored value must
// read back, and storing it a second time must change nothing.
//
// Input: a mode byte, an index byte, then "section\nkey\nvalue\n" and the
// file's text. The mode picks the names from those lines or from the text
// itself, so that the rewrite of an existing key is reached as often as
// the addition of a new one.

#include "core/settings/initext.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

namespace {

QByteArrayView trimmed(QByteArrayView s)
{
    while (!s.isEmpty() && (s.front() == ' ' || s.front() == '\t'))
        s = s.sliced(1);
    while (!s.isEmpty() && (s.back() == ' ' || s.back() == '\t'))
        s.chop(1);
    return s;
}

// Every (section, key) the text seems to hold, in order: a loose reading
// that lists candidates only; what they hold is asked of initext itself.
QList<std::pair<QString, QString>> namesIn(QByteArrayView text, QList<QString> *sections)
{
    QList<std::pair<QString, QString>> names;
    QString section;
    for (QByteArrayView line : QByteArray(text.data(), text.size()).split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArrayView t = trimmed(line);
        if (t.startsWith('[') && t.indexOf(']') > 0) {
            section = QString::fromUtf8(trimmed(t.sliced(1, t.indexOf(']') - 1)));
            sections->append(section);
        } else if (!t.startsWith(';') && t.indexOf('=') > 0) {
            names.append({section, QString::fromUtf8(trimmed(t.first(t.indexOf('='))))});
        }
    }
    return names;
}

bool sameName(const QString &a, const QString &b)
{
    const auto trim = [](QString s) {
        while (!s.isEmpty() && (s.front() == u' ' || s.front() == u'\t'))
            s.remove(0, 1);
        while (!s.isEmpty() && (s.back() == u' ' || s.back() == u'\t'))
            s.chop(1);
        return s;
    };
    return trim(a).compare(trim(b), Qt::CaseInsensitive) == 0;
}

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "settings invariant broken: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const int mode = data[0] % 3;
    const int index = data[1];
    QByteArrayView rest(reinterpret_cast<const char *>(data) + 2, qsizetype(size - 2));
    QByteArrayView header[3];
    for (QByteArrayView &h : header) {
        const qsizetype nl = rest.indexOf('\n');
        h = nl < 0 ? rest : rest.first(nl);
        rest = nl < 0 ? QByteArrayView() : rest.sliced(nl + 1);
    }
    const QByteArrayView text = rest;

    QList<QString> sections;
    const QList<std::pair<QString, QString>> names = namesIn(text, &sections);
    QString section = QString::fromUtf8(header[0]);
    QString key = QString::fromUtf8(header[1]);
    const QString value = QString::fromUtf8(header[2]);
    if (mode == 1 && !sections.isEmpty())
        section = sections[index % sections.size()];
    if (mode == 2 && !names.isEmpty())
        std::tie(section, key) = names[index % names.size()];

    // Parsing alone must hold up, whatever the names.
    (void)initext::value(text, section, key);
    (void)initext::toInt16(text.first(std::min<qsizetype>(text.size(), 64)));
    const QByteArray cut = initext::cutValue(text.toByteArray(), index);
    if (cut.size() > index || cut.contains('\0') || !text.startsWith(cut))
        fail("cutValue");
    if (text.first(std::min<qsizetype>(text.size(), index)).isValidUtf8() && !cut.isValidUtf8())
        fail("cutValue split a character");

    const std::optional<QByteArray> after = initext::withValue(text, section, key, value);
    const bool storable = initext::isStorableSection(section) && initext::isStorableKey(key)
                          && initext::isStorableValue(value);
    if (after.has_value() != storable)
        fail("withValue refused a storable value, or stored an unstorable one");
    if (!after)
        return 0;

    const std::optional<QByteArray> back = initext::value(*after, section, key);
    if (!back || *back != value.toUtf8())
        fail("the stored value does not read back");
    for (const auto &[s, k] : names) {
        if (sameName(s, section) && sameName(k, key))
            continue;
        if (initext::value(text, s, k) != initext::value(*after, s, k))
            fail("another key changed");
    }
    if (initext::withValue(*after, section, key, value) != after)
        fail("storing the same value again changed the text");
    return 0;
}
