// The rename journal: a batch undone after a restart, after a crash at any
// point of the batch, and when names were taken or files moved meanwhile.
#include "renamejournal.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using renaming::JournalEntry;

namespace {

// The names of the files in `folder`, as bytes, sorted.
QByteArrayList names(const QString &folder)
{
    QByteArrayList out;
    if (DIR *d = ::opendir(QFile::encodeName(folder).constData())) {
        while (const dirent *e = ::readdir(d)) {
            if (e->d_type == DT_REG)
                out << QByteArray(e->d_name);
        }
        ::closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

using renaming::RenameJournal;

class TestJournal : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QByteArray path(const QByteArray &name) const { return QFile::encodeName(dir_.path()) + '/' + name; }

private slots:
    // Three files renamed a -> A, b -> B, "c\xff" -> C; the batch stops
    // after `renamed` of them with `noted` of those in the journal. Then
    // `meanwhile` happens and a new run undoes the batch.
    void undo_data()
    {
        QTest::addColumn<int>("renamed");
        QTest::addColumn<int>("noted");
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QByteArrayList>("after");   // the folder after Undo
        QTest::addColumn<int>("failed");
        QTest::addColumn<int>("gone");
        const QByteArrayList start{"a", "b", "c\xff"};
        QTest::newRow("whole batch") << 3 << 3 << "" << start << 0 << 0;
        QTest::newRow("batch over, one rename failed, same file under its name")
            << 2 << 2 << "link C, end" << QByteArrayList{"C", "a", "b", "c\xff"} << 0 << 0;
        QTest::newRow("crash before any note") << 3 << 0 << "" << start << 0 << 0;
        QTest::newRow("crash in the middle") << 2 << 1 << "" << start << 0 << 0;
        QTest::newRow("crash before the first rename") << 0 << 0 << "" << start << 0 << 0;
        QTest::newRow("an old name taken meanwhile")
            << 3 << 3 << "take b" << QByteArrayList{"B", "a", "b", "c\xff"} << 1 << 0;
        QTest::newRow("a renamed file deleted meanwhile") << 3 << 3 << "delete A" << QByteArrayList{"b", "c\xff"} << 0 << 1;
        QTest::newRow("another file under a new name, not noted")
            << 3 << 2 << "replace C" << QByteArrayList{"C", "a", "b"} << 0 << 0;
    }

    void undo()
    {
        QFETCH(int, renamed);
        QFETCH(int, noted);
        QFETCH(QString, meanwhile);
        QFETCH(QByteArrayList, after);
        QFETCH(int, failed);
        QFETCH(int, gone);
        for (const QByteArray &name : names(dir_.path()))
            ::unlink(QFile::encodeName(dir_.path()) + '/' + name);
        const QByteArray journalPath = path("config/journal.txt");
        QList<JournalEntry> batch;
        const char *pairs[][2] = {{"a", "A"}, {"b", "B"}, {"c\xff", "C"}};
        for (int i = 0; i < 3; ++i) {
            const int fd = ::open(path(pairs[i][0]).constData(), O_WRONLY | O_CREAT, 0644);
            QVERIFY(fd >= 0);
            ::close(fd);
            batch.append({path(pairs[i][0]), path(pairs[i][1])});
        }
        {
            RenameJournal journal(QFile::decodeName(journalPath));
            QVERIFY(journal.begin(batch));
            for (int i = 0; i < renamed; ++i) {
                QCOMPARE(::rename(batch[i].from.constData(), batch[i].to.constData()), 0);
                if (i < noted)
                    journal.markDone(i);
            }
        }   // the program ends (or crashes) here
        if (meanwhile == "link C, end") {
            // The third rename failed: a hard link of the same file had the
            // name. The batch ended; that file must stay where it is.
            QVERIFY(::link(path("c\xff").constData(), path("C").constData()) == 0);
            QFile f(QFile::decodeName(journalPath));
            QVERIFY(f.open(QIODevice::Append));
            f.write("E\n");
        }
        if (meanwhile == "take b")
            QFile(dir_.filePath("b")).open(QIODevice::WriteOnly);
        else if (meanwhile == "delete A")
            QFile::remove(dir_.filePath("A"));
        else if (meanwhile == "replace C") {
            // Made before the old one goes, so it cannot take its inode.
            QFile(dir_.filePath("C.new")).open(QIODevice::WriteOnly);
            QVERIFY(::rename(path("C.new").constData(), path("C").constData()) == 0);
        }

        RenameJournal journal(QFile::decodeName(journalPath));
        QList<JournalEntry> loaded;
        QCOMPARE(journal.load(loaded), RenameJournal::Load::Loaded);
        const renaming::UndoResult result = renaming::undoBatch(loaded);
        QCOMPARE(result.failed.size(), failed);
        QCOMPARE(result.gone, gone);
        QCOMPARE(names(dir_.path()), after);
    }

    // A journal cut short or damaged is told apart from one that is fine.
    void load_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("result");   // RenameJournal::Load
        QTest::addColumn<int>("entries");
        const QByteArray f = "F 1 2 /a%20b /c\nF 1 3 /d%FF /e\n";
        QTest::newRow("none") << QByteArray() << int(RenameJournal::Load::Nothing) << 0;
        QTest::newRow("fine") << "Dorvasu rename journal 1\n" + f + "D 0\n" << int(RenameJournal::Load::Loaded) << 2;
        QTest::newRow("last note cut") << "Dorvasu rename journal 1\n" + f + "D" << int(RenameJournal::Load::Loaded) << 2;
        QTest::newRow("not a journal") << QByteArray("\x00\x01garbage", 9) << int(RenameJournal::Load::Damaged) << 0;
        QTest::newRow("note past the batch") << "Dorvasu rename journal 1\n" + f + "D 7\n"
                                             << int(RenameJournal::Load::Damaged) << 0;
        QTest::newRow("bad line inside") << "Dorvasu rename journal 1\nF x y\n" + f << int(RenameJournal::Load::Damaged) << 0;
    }

    void load()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, result);
        QFETCH(int, entries);
        const QString file = dir_.filePath("load.txt");
        QFile::remove(file);
        if (!text.isNull()) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(text);
        }
        QList<JournalEntry> batch;
        QCOMPARE(int(RenameJournal(file).load(batch)), result);
        if (result == int(RenameJournal::Load::Loaded)) {
            QCOMPARE(batch.size(), entries);
            QCOMPARE(batch[0].from, QByteArray("/a b"));
            QCOMPARE(batch[1].from, QByteArray("/d\xff"));
        }
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
