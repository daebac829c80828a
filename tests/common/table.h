// The case tables under tests/data, one format for all:
//
//   # a comment
//   [section]
//   @ | title | expected          the section's columns, by name
//   let $NAME | text               $NAME stands for the text in the cells below
//   let NAME | EXPR                NAME stands for the bytes in expressions below
//   a row's name | cell | cell
//     | a line starting with a blank goes on with the line above
//
// Cells are split at " | " ("a | | b" has an empty cell, a line ending " |"
// an empty last one); cells a row leaves out are empty. A test names the
// columns it reads and what each holds: text (with \s \r \n \t \0 and \uXXXX
// for characters), bytes (the cell's UTF-8) or an expression of
// id3build::Bytes (cells starting with "@" stay as they are). Each row is
// named "file:line name". A row the reader cannot make (a bad expression, an
// unknown or missing column, too many cells) fails alone, naming its file,
// line and why; the other rows still run.
#pragma once

#include "common/testdata.h"

namespace table {

enum class Kind { Text, Bytes, Expr };

struct Column {
    Column(const char *columnName, Kind columnKind = Kind::Text) : name(columnName), kind(columnKind) {}
    const char *name;
    Kind kind;
};
inline Column bytes(const char *name) { return {name, Kind::Bytes}; }
inline Column expr(const char *name) { return {name, Kind::Expr}; }

struct Row {
    QString where;   // "file:line"
    QString name;
    QList<QVariant> cells;   // in the order of the columns asked for
    QString error;           // why the row could not be made, or empty
    QString tag() const { return where + u' ' + name; }
    QString text(qsizetype i) const { return cells.value(i).toString(); }
    QByteArray bytes(qsizetype i) const { return cells.value(i).toByteArray(); }
};

struct Options {
    QHash<QString, QString> lets;       // as "let $NAME | text" lines before the table
    QHash<QByteArray, QByteArray> vars; // as "let NAME | EXPR" lines before the table
};

// The rows of [section] of the table `source` names `file`, or (empty
// `source`) of tests/data/`file`. A missing section gives one failing row.
QList<Row> rows(const char *file, const QString &section, const QList<Column> &columns, const Options &options = {},
                const QByteArray &source = {});

// Those rows as the running _data function's rows, a QTest column for each
// of `columns` (QString for text, QByteArray for the others; without
// columns, one QString column "name", the rows' names).
void addRows(const char *file, const QString &section, const QList<Column> &columns, const Options &options = {});

// The running row's name, without its file and line.
QString rowName();

// The reason the running row could not be made, or empty: the test fixture's
// init() calls failBrokenRow(), which fails it before the test function runs.
QString brokenRowReason();

// A cell's text as bytes, "\xHH" standing for the byte HH (names that are not UTF-8).
QByteArray cellBytes(const QString &cell);

// Names a step of a scene when the test fails while it lives: one is made
// for each step a row's cell spells.
class Step {
public:
    explicit Step(QString text) : text_(std::move(text)) {}
    ~Step()
    {
        if (QTest::currentTestFailed())
            qWarning("failed at the step \"%s\"", qPrintable(text_));
    }
    Step(const Step &) = delete;
    Step &operator=(const Step &) = delete;

private:
    QString text_;
};

} // namespace table

// Fails the running row where the table could not make it (for init()).
#define TABLE_FAIL_BROKEN_ROW()                                                                                        \
    do {                                                                                                               \
        if (const QString why = table::brokenRowReason(); !why.isEmpty())                                              \
            QFAIL(qPrintable(why));                                                                                    \
    } while (false)
