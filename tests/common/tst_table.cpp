// The table reader on small tables held here: cells by name, rows named by
// file and line, and a broken row failing alone with where and why.

#include "common/table.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// A string, not a raw one: moc reads lines starting with "#" as its own.
const QByteArray kTable = "# a comment\n"
                          "[other]\n"
                          "@ | x\n"
                          "elsewhere | 1\n"
                          "[cases]\n"
                          "let $who | Ann\n"
                          "let two | \"b\" * 2\n"
                          "@ | bytes | text | raw\n"
                          "plain | \"a\" + two | $who\\sB | \\x41\n"
                          "continued | \"c\"\n"
                          "  | left out\n"
                          "typo in a function | tagg(3, \"\", 0) | t\n"
                          "unclosed text | \"abc | t\n"
                          "too many cells | \"a\" | t | r | extra\n";

} // namespace

class TestTable : public QObject {
    Q_OBJECT

private slots:
    void readsRowsAndSaysWhereOnesBreak()
    {
        const QList<table::Row> rows
            = table::rows("t.txt", u"cases"_s, {table::expr("bytes"), "text", table::bytes("raw")}, {}, kTable);
        QStringList got;
        for (const table::Row &row : rows)
            got << row.tag() + u" = "_s + QString::fromLatin1(row.bytes(0)) + u';' + row.text(1) + u';' + row.text(2)
                       + u" | "_s + row.error;
        QCOMPARE(got, (QStringList{
                          u"t.txt:9 plain = abb;Ann B;\\x41 | "_s,
                          u"t.txt:10 continued = c;left out; | "_s,
                          u"t.txt:12 typo in a function = ;; | t.txt:12: typo in a function: column \"bytes\": bad "
                          u"expression at 14: no function \"tagg\" in tagg(3, \"\", 0)"_s,
                          u"t.txt:13 unclosed text = ;; | t.txt:13: unclosed text: column \"bytes\": bad expression at 4: "
                          u"a text without its closing quote in \"abc"_s,
                          u"t.txt:14 too many cells = ;; | t.txt:14: too many cells: 4 cells, but the header at t.txt:8 "
                          u"names 3"_s,
                      }));
    }

    // A column the test reads that the header lacks, or one the header names
    // that the test does not read, fails every row; so does a missing section.
    void columnsMustMatch()
    {
        const QList<table::Row> rows = table::rows("t.txt", u"cases"_s, {"bytes", "text", "title"}, {}, kTable);
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows[0].error, u"t.txt:9: plain: no column \"title\" in the header; unknown column \"raw\" in the header "
                                u"(header at t.txt:8)"_s);
        QCOMPARE(table::rows("t.txt", u"none"_s, {}, {}, kTable).value(0).error,
                 u"t.txt:0: (none): no section [none] with a header row"_s);
    }
};

QTEST_GUILESS_MAIN(TestTable)
#include "tst_table.moc"
