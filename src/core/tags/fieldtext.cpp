#include "core/tags/fieldtext.h"

namespace mp3lib {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == QChar(0x3000);
}

} // namespace

QString trimBlanks(QStringView text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin).toString();
}

QString shownInBox(const QString &stored, int length)
{
    QString text = trimBlanks(stored);
    if (text.size() > length)
        text.truncate(length > 0 && text.at(length - 1).isHighSurrogate() ? length - 1 : length);
    return text;
}

QString yearDigits(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() >= 0xFF10 && c.unicode() <= 0xFF19)
            c = QChar(u'0' + (c.unicode() - 0xFF10));
    }
    return text;
}

} // namespace mp3lib
