// The list model of entries without a display: appending in chunks (up to
// 200,000 entries), duplicates, names, moved paths, and removing blocks of
// a selection, the name list following row for row.
#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

#include "core/collection/entrylist.h"
#include "core/paths/paths.h"
#include "core/rename/namereader.h"
#include "core/rename/newname.h"

using collection::EntryList;
using collection::RowBlock;

namespace {

QList<QByteArray> numbered(int count, int from = 0)
{
    QList<QByteArray> out;
    out.reserve(count);
    for (int i = from; i < from + count; ++i)
        out.append("/music/" + QByteArray::number(i) + ".mp3");
    return out;
}

// Blocks "a-b a-b ...", or "every2nd" / "all" of `count` rows.
QItemSelection selection(const EntryList &list, const QString &blocks)
{
    QItemSelection out;
    const int count = list.count();
    if (blocks == u"every2nd" || blocks == u"all") {
        const int step = blocks == u"all" ? 1 : 2;
        for (int row = 0; row < count; row += step)
            out.select(list.index(row), list.index(row));
        return out;
    }
    for (const QString &b : blocks.split(u' ', Qt::SkipEmptyParts))
        out.select(list.index(b.section(u'-', 0, 0).toInt()), list.index(b.section(u'-', 1).toInt()));
    return out;
}

} // namespace

class TestCollection : public QObject {
    Q_OBJECT

private slots:
    // Entries go in a chunk per signal, whatever their number; a file added again is listed again.
    void append_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("added");
        QTest::newRow("few") << 0 << 5;
        QTest::newRow("one chunk") << 3 << EntryList::kInsertChunk;
        QTest::newRow("one past a chunk") << 0 << EntryList::kInsertChunk + 1;
        QTest::newRow("a whole collection") << 0 << 200000;
        QTest::newRow("again the same files") << 200000 << 200000;
    }

    void append()
    {
        QFETCH(int, before);
        QFETCH(int, added);
        EntryList list;
        list.append(numbered(before));
        QSignalSpy inserted(&list, &EntryList::rowsInserted), namesInserted(list.names(), &QAbstractItemModel::rowsInserted);
        list.append(numbered(added));
        QCOMPARE(list.count(), before + added);
        QCOMPARE(list.names()->rowCount(), before + added);
        const int chunks = (added + EntryList::kInsertChunk - 1) / EntryList::kInsertChunk;
        QCOMPARE(inserted.size(), chunks);
        QCOMPARE(namesInserted.size(), chunks);
        QCOMPARE(inserted.last().at(2).toInt(), before + added - 1);
        QCOMPARE(list.path(before + added - 1), "/music/" + QByteArray::number(added - 1) + ".mp3");
        QCOMPARE(list.path(before), before ? list.path(0) : QByteArray("/music/0.mp3"));
        QCOMPARE(list.name(before), QString());
        QCOMPARE(list.path(before + added), QByteArray());   // past the end: nothing
    }

    // Names given to new rows; rows past the last name read are taken out; moved files show their new paths.
    void namesAndPaths()
    {
        EntryList list;
        QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QAbstractItemModelTester namesTester(list.names(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        list.append(numbered(4), {"a", "b", "c", "d"});
        list.append(numbered(6, 4));
        list.setNames(4, {"e", "f", "g"});   // reading cancelled after three
        QCOMPARE(list.count(), 7);
        QStringList names;
        for (int row = 0; row < list.names()->rowCount(); ++row)
            names << list.names()->index(row, 0).data().toString();
        QCOMPARE(names, QStringList({"a", "b", "c", "d", "e", "f", "g"}));

        QSignalSpy changed(&list, &EntryList::dataChanged);
        const QByteArray cp932 = "/music/\x89\xB9.mp3";
        list.setPaths({{1, cp932}, {5, "/other/x.mp3"}, {99, "/nowhere"}});
        QCOMPARE(changed.size(), 1);
        QCOMPARE(list.path(1), cp932);
        QCOMPARE(list.index(1).data(paths::kPathRole).toByteArray(), cp932);
        QCOMPARE(list.index(1).data().toString(), paths::display(cp932));
        QCOMPARE(list.shown(5), QStringLiteral("/other/x.mp3"));
        list.setName(6, "new");
        QCOMPARE(list.names()->index(6, 0).data().toString(), QStringLiteral("new"));
        list.clear();
        QCOMPARE(list.names()->rowCount(), 0);
    }

    // Remove takes the selected blocks out of both columns alike, in few signals, at any size.
    void remove_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QList<int>>("firstKept");
        QTest::addColumn<int>("left");
        QTest::newRow("rows 1 and 3 of five") << 5 << "1-1 3-3" << QList<int>{0, 2, 4} << 3;
        QTest::newRow("overlapping, out of order") << 6 << "3-4 0-1 1-2" << QList<int>{5} << 1;
        QTest::newRow("nothing") << 3 << "" << QList<int>{0, 1, 2} << 3;
        QTest::newRow("all of 200,000") << 200000 << "all" << QList<int>{} << 0;
        QTest::newRow("every second of 200,000") << 200000 << "every2nd" << QList<int>{1, 3, 5} << 100000;
    }

    void remove()
    {
        QFETCH(int, count);
        QFETCH(QString, selected);
        QFETCH(QList<int>, firstKept);
        QFETCH(int, left);
        EntryList list;
        QStringList names;
        for (int i = 0; i < count; ++i)
            names << QString::number(i);
        list.append(numbered(count), names);
        const std::vector<RowBlock> blocks = collection::blocksOf(selection(list, selected));
        QSignalSpy removed(&list, &EntryList::rowsRemoved), reset(&list, &EntryList::modelReset);
        list.remove(blocks);
        QCOMPARE(list.count(), left);
        QVERIFY(removed.size() + reset.size() <= 16);
        for (int i = 0; i < firstKept.size(); ++i) {
            QCOMPARE(list.path(i), numbered(1, firstKept[i])[0]);
            QCOMPARE(list.names()->index(i, 0).data().toString(), QString::number(firstKept[i]));
        }
    }

    // Names read in the background come back in chunks, a signal per batch of them, and go into
    // the list in one change per run of rows; a cancel before the reading began names nothing
    // and says where the names end.
    void namesInChunks()
    {
        constexpr int kRows = 5000;
        EntryList list;
        list.append(numbered(kRows));
        renaming::NameReader reader;
        QSignalSpy told(&reader, &renaming::NameReader::namesRead), changed(&list, &EntryList::dataChanged);
        reader.read(0, numbered(kRows / 2));
        reader.read(kRows / 2, numbered(kRows / 2, kRows / 2));
        reader.wait();
        QVERIFY(!reader.busy());
        QTRY_COMPARE(told.size(), 1);   // once until taken, however many chunks
        const QList<renaming::NameReader::Names> runs = reader.take();
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs[0].first, 0);
        QCOMPARE(runs[0].names.size(), kRows);
        list.fillNames(runs[0].first, runs[0].names);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(list.name(kRows - 1), renaming::kFileNotFound);
        QCOMPARE(reader.firstUnread(), -1);
        QCOMPARE(reader.progress().done.load(), kRows);

        reader.hold(true);
        reader.read(7, numbered(10));
        reader.cancel();
        reader.hold(false);
        reader.wait();
        QCOMPARE(reader.firstUnread(), 7);
        QVERIFY(reader.take().isEmpty());
        reader.reset();
        QCOMPARE(reader.firstUnread(), -1);
    }
};

QTEST_GUILESS_MAIN(TestCollection)
#include "tst_collection.moc"
