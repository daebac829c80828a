// The core of the batch commands: what a name gives under a pattern (the
// table tests/data/name-patterns.txt, made by make-name-patterns.py from the
// fields each name was put together from), the values a set of files
// shares, and a batch edit that writes one field and keeps every other byte.

#include "core/batch/batchedit.h"
#include "common/caserows.h"
#include "common/id3build.h"
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

    void names_data() { addCaseRows("name-patterns.txt", "names"); }

    // Each name as the file system gives it (bytes), read as the lists show it.
    void names()
    {
        QFETCH(QString, name);
        QFETCH(QString, pattern);
        QFETCH(QString, fields);
        const batch::NamePattern p(pattern);
        QVERIFY2(p.valid(), qPrintable(p.error()));
        QCOMPARE(spelled(p.matchPath("/music/folder/" + cellBytes(name))), fields);
    }

    void patternErrors_data() { testdata::addRows("batch.txt", "errors", {"pattern", "error"}, 1); }

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

    void shared_data() { testdata::addRows("batch.txt", "shared", {"a", "b", "c", "values"}, 3); }

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

    void album_data() { testdata::addRows("batch.txt", "album", {"file", "kept"}); }

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
