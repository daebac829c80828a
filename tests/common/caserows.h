// Case tables under tests/data: "[section]" headers, then one row a line,
// its fields split by " | " (a line beginning "  | " goes on with the row
// above, one ending " |" has an empty last field), "#" lines skipped. \r \n \t \0 and \uXXXX stand for characters.
#pragma once

#include <QRegularExpression>
#include <QStringList>
#include <QTest>

#include "testdata.h"

inline QList<QStringList> caseRows(const char *file, const QString &section)
{
    static const QRegularExpression code(R"(\\(u[0-9A-F]{4}|[rnt0]))");
    QString text = QString::fromUtf8(testdata::readAll(testdata::sample(file))).replace("\n  | ", " | ");
    text = text.section("\n[" + section + "]\n", 1).section("\n[", 0, 0);
    QList<QStringList> out;
    for (const QString &line : text.split(u'\n')) {
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        QStringList row = (line.endsWith(" |") ? line + u' ' : line).split(" | ");   // an empty last field
        for (QString &field : row) {
            for (QRegularExpressionMatch m; (m = code.match(field)).hasMatch();) {
                const QString c = m.captured(1);
                const int ch = c.size() > 1 ? c.mid(1).toInt(nullptr, 16) : c == u"r" ? 13 : c == u"n" ? 10 : c == u"t" ? 9 : 0;
                field.replace(m.capturedStart(), m.capturedLength(), QChar(ch));
            }
        }
        out << row;
    }
    return out;
}

// Those rows as the running _data function's rows, each in one column "row".
inline void addCaseRows(const char *file, const QString &section)
{
    QTest::addColumn<QStringList>("row");
    for (const QStringList &row : caseRows(file, section))
        QTest::newRow(qPrintable(row[0])) << row;
}
