// The core of the batch commands: what a name gives under a pattern (the
// table tests/data/name-patterns.txt, made by make-name-patterns.py from the
// fields each name was put together from), the values a set of files
// shares, and a batch edit that writes one field and keeps every other byte.

#include "core/batch/batchedit.h"
#include "common/id3build.h"
#include "common/table.h"
#include "core/batch/namepattern.h"
#include "core/tags/vbmp3.h"

namespace {

// What a name gave, as the table spells it.
QString spelled(const batch::NameFields &m)
{
    if (!m.matched)
        return QStringLiteral("-");
    QStringList cells;
    const std::pair<const char *, std::optional<QString>> fields[] = {{"title", m.fields.title},
                                                                       {"artist", m.fields.artist},
                                                                       {"album", m.fields.album},
                                                                       {"year", m.fields.year},
                                                                       {"comment", m.fields.comment}};
    for (const auto &[key, value] : fields) {
        if (value)
            cells << QStringLiteral("%1=%2").arg(QLatin1String(key), *value);
    }
    if (m.track)
        cells << QStringLiteral("track=%1").arg(*m.track);
    return cells.join(u'\t');
}

QByteArrayList without(QByteArrayList frames, const QByteArray &id)
{
    frames.removeIf([&](const QByteArray &f) { return f.startsWith(id); });
    return frames;
}

} // namespace

class tst_Batch : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(vbmp3_init() != 0); }
    void init() { TABLE_FAIL_BROKEN_ROW(); }

    void names_data() { table::addRows("name-patterns.txt", "names", {"name", "pattern", "fields"}); }

    // Each name as the file system gives it (bytes), read as the lists show it.
    void names()
    {
        QFETCH(QString, name);
        QFETCH(QString, pattern);
        QFETCH(QString, fields);
        const batch::NamePattern p(pattern);
        QVERIFY2(p.valid(), qPrintable(p.error()));
        QCOMPARE(spelled(p.matchPath("/music/folder/" + table::cellBytes(name))), fields);
    }

    void patternErrors_data() { table::addRows("batch.txt", "errors", {table::expr("pattern"), table::bytes("error")}); }

    void patternErrors()
    {
        QFETCH(QByteArray, pattern);
        QFETCH(QByteArray, error);
        const batch::NamePattern p(QString::fromUtf8(pattern));
        QVERIFY(!p.valid() && !p.errorMessage().isEmpty());
        QVERIFY2(p.error().contains(QString::fromUtf8(error)), qPrintable(p.error()));
        QVERIFY(!p.matchPath("Queen - Song.mp3").matched);
        QVERIFY(batch::fromNameEdits({"Queen - Song.mp3"}, p).isEmpty());
    }

    void shared_data()
    {
        table::addRows("batch.txt", "shared", {table::expr("a"), table::expr("b"), table::expr("c"), table::bytes("values")});
    }

    void shared()
    {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(QByteArray, c);
        QFETCH(QByteArray, values);
        QTemporaryDir dir;
        QList<QByteArray> files;
        for (const QByteArray &content : {a, b, c}) {
            files << QFile::encodeName(dir.filePath(QString::number(files.size()) + ".mp3"));
            if (content != "@missing")
                testdata::writeAll(QFile::decodeName(files.back()), content);
        }
        const std::optional<batch::FieldValues> got = batch::sharedFields(files);
        QVERIFY(got);
        const auto cell = [](const std::optional<QString> &v) { return v.value_or(QStringLiteral("~")); };
        const QStringList spelled{cell(got->title), cell(got->artist), cell(got->album), cell(got->year),
                                  cell(got->comment),
                                  got->genre ? QString::number(got->genre->GenreNo) : QStringLiteral("~")};
        QCOMPARE(spelled.join(u';'), QString::fromUtf8(values));

        // A stopped read gives nothing.
        batch::ReadProgress stop;
        stop.cancel = true;
        QVERIFY(!batch::sharedFields(files, &stop));
    }

    void album_data() { table::addRows("batch.txt", "album", {table::expr("file"), table::expr("kept")}); }

    // The album set through the batch, as the dialog and the command line do.
    void album()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, kept);
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.filePath("song.mp3"));
        testdata::writeAll(QFile::decodeName(path), file);

        batch::FieldValues start = *batch::sharedFields({path}), shown = start;
        shown.album = QStringLiteral("新しいアルバム");
        const tags::FieldChanges changes = batch::changedFields(start, shown);
        QVERIFY(changes.album && !changes.title && !changes.artist && !changes.year && !changes.comment
                && !changes.genre);
        const history::TagBatchResult result = history::applyTagBatch(batch::batchEdits({path}, changes), "album");
        QCOMPARE(result.files.size(), 1);
        QCOMPARE(result.files[0].result.outcome, tags::WriteResult::Written);

        const QByteArray after = testdata::readAll(QFile::decodeName(path));
        const batch::FieldValues now = *batch::sharedFields({path});
        QCOMPARE(*now.album, QStringLiteral("新しいアルバム"));
        QCOMPARE(*now.title, *start.title);
        QCOMPARE(*now.artist, *start.artist);
        QCOMPARE(*now.year, *start.year);
        QCOMPARE(*now.comment, *start.comment);
        QCOMPARE(now.genre->GenreNo, start.genre->GenreNo);
        if (id3build::tagSize(file) > 0)
            QCOMPARE(without(id3build::frames(after), "TALB"), without(id3build::frames(file), "TALB"));
        // The audio, and an ID3v1 tag but its album.
        const QByteArray audio = testdata::audio();
        QVERIFY(after.indexOf(audio) >= 0);
        if (file.right(128).startsWith("TAG")) {
            QCOMPARE(after.right(128).left(63), file.right(128).left(63));
            QCOMPARE(after.right(128).mid(93), file.right(128).mid(93));
        }
        QVERIFY(after.contains(kept));
        // Set again: nothing to write.
        QCOMPARE(history::applyTagBatch(batch::batchEdits({path}, changes), "album").files[0].result.outcome,
                 tags::WriteResult::Unchanged);
    }
};

QTEST_GUILESS_MAIN(tst_Batch)
#include "tst_batch.moc"
