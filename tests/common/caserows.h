// Case tables under tests/data: "[section]" headers, then one row a line, its
// cells split at " | " (next to each other too: "a | | b" has an empty cell;
// a line ending " |" an empty last one), a line beginning "  | " going on with
// the row above, "#" lines skipped. "let $NAME | text" makes $NAME stand for
// the text in the cells below it, as the `lets` given do everywhere; \s \r \n
// \t \0 and \uXXXX stand for characters. A first row "@ | name | ..." names
// the section's columns.
#pragma once

#include "common/testdata.h"

inline QList<QStringList> caseRows(const char *file, const QString &section, QHash<QString, QString> lets = {})
{
    static const QRegularExpression bar(R"( \|(?= |$))"), code(R"(\\(u[0-9A-F]{4}|[srnt0]))");
    static const QHash<QString, QChar> named{{"s", u' '}, {"r", u'\r'}, {"n", u'\n'}, {"t", u'\t'}, {"0", QChar()}};
    const QString text = QString::fromUtf8(testdata::readAll(testdata::sample(file))).replace("\n  | ", " | ");
    QList<QStringList> out;
    QString current;
    for (const QString &line : text.split(u'\n')) {
        QStringList row = line.split(bar);
        for (QString &cell : row) {
            if (cell.startsWith(u' '))
                cell.remove(0, 1);
            for (auto let = lets.cbegin(); let != lets.cend(); ++let)
                cell.replace(let.key(), let.value());
            for (qsizetype at = 0; at >= 0 && (at = cell.indexOf(code, at)) >= 0; ++at) {   // left to right, once
                const QString c = code.match(cell, at).captured(1);
                cell.replace(at, c.size() + 1, c.size() > 1 ? QChar(c.mid(1).toUShort(nullptr, 16)) : named[c]);
            }
        }
        if (line.startsWith(u'['))
            current = line.mid(1, line.indexOf(u']') - 1);
        else if (line.startsWith("let "))
            lets[row[0].mid(4)] = row.value(1);
        else if (current == section && !line.isEmpty() && !line.startsWith(u'#'))
            out << row;
    }
    return out;
}

// A cell's text as bytes, "\xHH" standing for the byte HH (names that are not UTF-8).
inline QByteArray cellBytes(const QString &cell)
{
    QByteArray out = cell.toUtf8();
    for (qsizetype at; (at = out.indexOf("\\x")) >= 0;)
        out.replace(at, 4, QByteArray::fromHex(out.mid(at + 2, 2)));
    return out;
}

// Those rows as the running _data function's rows: in the columns the "@" row
// names, as text, or else whole, in one column "row".
inline void addCaseRows(const char *file, const QString &section, const QHash<QString, QString> &lets = {})
{
    static QByteArrayList names;   // QTest keeps the pointers to the columns' names
    const QList<QStringList> rows = caseRows(file, section, lets);
    const QStringList columns = rows.value(0).value(0) == u"@" ? rows[0].mid(1) : QStringList();
    if (columns.isEmpty())
        QTest::addColumn<QStringList>("row");
    for (const QString &column : columns)
        QTest::addColumn<QString>((names << column.toUtf8()).last().constData());
    for (const QStringList &row : rows.mid(columns.isEmpty() ? 0 : 1)) {
        QTestData &data = QTest::newRow(qPrintable(row[0]));
        if (columns.isEmpty())
            data << row;
        for (qsizetype i = 1; i <= columns.size(); ++i)
            data << row.value(i);
    }
}
