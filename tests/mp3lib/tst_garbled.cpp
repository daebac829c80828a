// The garbled-text detector over the labelled corpus tests/data/garbled.txt:
// per chain, at least 99% of the garbled tags repaired exactly and none
// wrongly; no repair proposed for a tag that lost bytes or a clean one.

#include "common/table.h"
#include "core/tags/garbled.h"

using namespace mp3lib;

class TestGarbled : public QObject {
    Q_OBJECT

private slots:
    void corpus()
    {
        QStringList sections{"lost", "clean", "CP932 > Windows-1252"};
        for (const char *misread : {"Windows-1252", "ISO-8859-1", "MacRoman"})
            sections << QString("%1 > CP932").arg(misread) << QString("%1 > UTF-8").arg(misread);
        QStringList faults;
        for (const QString &section : sections) {
            // Garbled rows hold pairs (stored text, text meant) per field, the
            // others the fields alone.
            const bool garbled = section.contains(u'>');
            const QList<table::Column> columns = garbled ? QList<table::Column>{"title", "titleMeant", "artist", "artistMeant", "album",
                                                                                "albumMeant", "comment", "commentMeant"}
                                                         : QList<table::Column>{"title", "artist", "album", "comment"};
            const QList<table::Row> rows = table::rows("garbled.txt", section, columns);
            int repaired = 0, wrong = 0, missed = 0, shown = 0;
            for (const table::Row &row : rows) {
                QVERIFY2(row.error.isEmpty(), qPrintable(row.error));
                TagTexts in, want;
                for (qsizetype i = 0; i < columns.size(); ++i)
                    (garbled && i % 2 ? want : in)[garbled ? i / 2 : i] = row.text(i);
                const std::optional<GarbleRepair> found = findGarbleRepair(in);
                const bool right = found && garbled && found->texts == want;
                (right ? repaired : found ? wrong : missed) += 1;
                if (found && !right && ++shown <= 5)
                    faults << QString("%1 %2: %3 -> %4").arg(section, row.tag(), QStringList(in.begin(), in.end()).join(" / "),
                                                              QStringList(found->texts.begin(), found->texts.end()).join(" / "));
            }
            qInfo("%s: %lld tags, %d repaired exactly, %d %s, %d %s", qPrintable(section), rows.size(), repaired,
                  wrong, garbled ? "wrong" : "proposals", missed, garbled ? "missed" : "left alone");
            QVERIFY2(rows.size() >= (garbled ? 400 : 200), qPrintable(section));
            if (garbled && repaired < 0.99 * double(rows.size()))
                faults << QString("%1: only %2 of %3 repaired").arg(section).arg(repaired).arg(rows.size());
        }
        for (const QString &f : faults) qWarning("%s", qPrintable(f));
        QVERIFY(faults.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestGarbled)
#include "tst_garbled.moc"
