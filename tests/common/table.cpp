#include "common/table.h"

#include "common/id3build.h"

using namespace Qt::Literals::StringLiterals;

namespace table {

namespace {

// Why each broken row of this run could not be made, by its data tag.
QHash<QByteArray, QString> &brokenRows()
{
    static QHash<QByteArray, QString> reasons;
    return reasons;
}

// \s \r \n \t \0 and \uXXXX as the characters they stand for, left to right, once.
QString unescaped(QString cell)
{
    static const QRegularExpression code(uR"(\\(u[0-9A-Fa-f]{4}|[srnt0]))"_s);
    for (qsizetype at = 0; at >= 0 && (at = cell.indexOf(code, at)) >= 0; ++at) {
        const QString c = code.match(cell, at).captured(1);
        const QChar by = c.size() > 1 ? QChar(c.mid(1).toUShort(nullptr, 16))
                         : c == u"s"   ? u' '
                         : c == u"r"   ? u'\r'
                         : c == u"n"   ? u'\n'
                         : c == u"t"   ? u'\t'
                                       : QChar();
        cell.replace(at, c.size() + 1, by);
    }
    return cell;
}

struct Line {
    int number;
    QString text;
};

// The file's lines, each continued line joined to the one it goes on.
QList<Line> logicalLines(const QByteArray &source)
{
    QList<Line> out;
    int number = 0;
    for (const QString &line : QString::fromUtf8(source).split(u'\n')) {
        ++number;
        if (line.startsWith(u' ') && !out.isEmpty())
            out.last().text += line.mid(1);
        else
            out.append({number, line});
    }
    return out;
}

} // namespace

QList<Row> rows(const char *file, const QString &section, const QList<Column> &columns, const Options &options,
                const QByteArray &source)
{
    static const QRegularExpression bar(uR"( \|(?= |$))"_s);
    const QString fileName = QString::fromUtf8(file);
    const QByteArray text = source.isEmpty() ? testdata::readAll(testdata::sample(file)) : source;
    id3build::Bytes bytesOf(options.vars);
    if (source.isEmpty() && text.isEmpty())
        return {{fileName + u":0"_s, u"(none)"_s, {}, u"cannot read the table "_s + fileName}};
    bytesOf.vars.insert("audio", testdata::audio());
    bytesOf.vars.insert("stereo", testdata::audio());
    bytesOf.vars.insert("mono", testdata::readAll(testdata::sample(testdata::kMonoMpeg1)));
    bytesOf.vars.insert("mpeg2", testdata::readAll(testdata::sample(testdata::kStereoMpeg2)));
    QHash<QString, QString> lets = options.lets;

    QList<Row> out;
    QString current, headerError, headerAt;
    bool seen = false;
    QList<qsizetype> at;   // where each asked column stands in a row, counting the name as 0
    qsizetype width = 0;   // the cells a row may have, its name included
    for (const Line &line : logicalLines(text)) {
        const QString where = fileName + u':' + QString::number(line.number);
        QStringList cells = line.text.split(bar);
        for (QString &cell : cells) {
            if (cell.startsWith(u' '))
                cell.remove(0, 1);
            for (auto let = lets.cbegin(); let != lets.cend(); ++let)
                cell.replace(let.key(), let.value());
        }
        if (line.text.startsWith(u'[')) {
            current = line.text.mid(1, line.text.indexOf(u']') - 1);
            headerAt.clear();
        } else if (line.text.startsWith(u"let $"_s)) {
            lets[cells[0].mid(4)] = unescaped(cells.value(1));
        } else if (line.text.startsWith(u"let "_s)) {
            const QByteArray value = bytesOf(cells.value(1).toUtf8());
            if (!bytesOf.error.isEmpty() && current == section)
                out.append({where, cells[0], {}, QString::fromUtf8(bytesOf.error)});
            bytesOf.vars[cells[0].mid(4).toUtf8()] = value;
        } else if (current != section || line.text.isEmpty() || line.text.startsWith(u'#')) {
            continue;
        } else if (cells[0] == u"@" && headerAt.isEmpty()) {
            seen = true;
            headerAt = where;
            headerError.clear();
            const QStringList named = cells.mid(1);
            at.clear();
            for (const Column &column : columns) {
                at.append(named.indexOf(QString::fromUtf8(column.name)) + 1);
                if (at.last() == 0)
                    headerError += u"no column \""_s + QString::fromUtf8(column.name) + u"\" in the header; "_s;
            }
            for (const QString &name : named) {
                if (std::none_of(columns.begin(), columns.end(), [&](const Column &c) { return name == QString::fromUtf8(c.name); }))
                    headerError += u"unknown column \""_s + name + u"\" in the header; "_s;
            }
            width = named.size() + 1;
            if (!headerError.isEmpty())
                headerError = headerError.chopped(2) + u" (header at "_s + where + u')';
        } else {
            Row row{where, unescaped(cells[0]), {}, headerError};
            if (headerAt.isEmpty())
                row.error = u"a row before the header row \"@ | column | ...\" of ["_s + section + u']';
            else if (cells.size() > width)
                row.error = QString::number(cells.size() - 1) + u" cells, but the header at "_s + headerAt + u" names "_s
                            + QString::number(width - 1);
            for (qsizetype i = 0; i < columns.size() && row.error.isEmpty(); ++i) {
                const QString cell = cells.value(at[i]);
                if (columns[i].kind == Kind::Text)
                    row.cells.append(unescaped(cell));
                else if (columns[i].kind == Kind::Bytes || cell.startsWith(u'@'))
                    row.cells.append(cell.toUtf8());
                else if (row.cells.append(bytesOf(cell.toUtf8())); !bytesOf.error.isEmpty())
                    row.error = u"column \""_s + QString::fromUtf8(columns[i].name) + u"\": "_s + QString::fromUtf8(bytesOf.error);
            }
            out.append(row);
        }
    }
    if (!seen)
        out.append({fileName + u":0"_s, u"(none)"_s, {}, u"no section ["_s + section + u"] with a header row"_s});
    for (Row &row : out) {
        if (!row.error.isEmpty())
            row.error = row.where + u": "_s + row.name + u": "_s + row.error;
    }
    return out;
}

void addRows(const char *file, const QString &section, const QList<Column> &columns, const Options &options)
{
    if (columns.isEmpty())   // QTest wants a column: the rows' names
        QTest::addColumn<QString>("name");
    for (const Column &column : columns) {
        if (column.kind == Kind::Text)
            QTest::addColumn<QString>(column.name);
        else
            QTest::addColumn<QByteArray>(column.name);
    }
    for (const Row &row : rows(file, section, columns, options)) {
        const QByteArray tag = row.tag().toUtf8();
        QTestData &data = QTest::newRow(tag.constData());
        if (!row.error.isEmpty())
            brokenRows().insert(tag, row.error);
        if (columns.isEmpty())
            data << row.name;
        for (qsizetype i = 0; i < columns.size(); ++i) {
            if (columns[i].kind == Kind::Text)
                data << row.text(i);
            else
                data << row.bytes(i);
        }
    }
}

QString rowName() { return QString::fromUtf8(QTest::currentDataTag()).section(u' ', 1); }

QString brokenRowReason()
{
    const char *tag = QTest::currentDataTag();
    return tag ? brokenRows().value(tag) : QString();
}

QByteArray cellBytes(const QString &cell)
{
    QByteArray out = cell.toUtf8();
    for (qsizetype at; (at = out.indexOf("\\x")) >= 0;)
        out.replace(at, 4, QByteArray::fromHex(out.mid(at + 2, 2)));
    return out;
}

} // namespace table
