// Proposed names made from real files: markers, names from real tags, and
// the parallel reading giving what one-by-one reading gives.

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <thread>

#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include "existence.h"
#include "newname.h"
#include "renamefiles.h"
#include "renamelist.h"
#include "taginfo.h"
#include "testdata.h"
#include "vbmp3.h"

using namespace renaming;

namespace {

// Writes an ID3v2 tag with only the fields given (a null QString leaves
// that field out of the tag).
void writeTag(const QString &path, const QString &artist, const QString &title)
{
    TagLib::MPEG::File file(QFile::encodeName(path).constData());
    QVERIFY(file.isValid());
    TagLib::ID3v2::Tag *tag = file.ID3v2Tag(true);
    if (!artist.isNull())
        tag->setArtist(TagLib::String(artist.toStdString(), TagLib::String::UTF8));
    if (!title.isNull())
        tag->setTitle(TagLib::String(title.toStdString(), TagLib::String::UTF8));
    QVERIFY(file.save(TagLib::MPEG::File::ID3v2));
}

// Makes the file a kind describes and returns the path to put in the list:
// "tagged:ARTIST|TITLE" a sample with that tag ("-": the field is absent),
// "untagged" a sample without any tag, "text", "folder", "fifo", "missing",
// "empty" (an empty entry).
QString makeFile(const QString &dir, const QString &name, const QString &kind)
{
    const QString path = dir + u'/' + name;
    if (kind.startsWith(u"id3v1:")) {
        // "id3v1:CODEPAGE:ARTIST|TITLE": an ID3v1 tag only, its text in that
        // code page, as a tagger of that language writes it.
        const QStringList parts = kind.split(u':');
        const QStringList fields = parts[2].split(u'|');
        QStringEncoder encoder(parts[1].toLatin1().constData());
        auto field = [&](const QString &text) {
            const QByteArray bytes = encoder.encode(text);
            return bytes + QByteArray(30 - bytes.size(), '\0');
        };
        testdata::copySample(dir, testdata::kStereoMpeg2, name);
        QFile file(path);
        if (file.open(QIODevice::Append))
            file.write("TAG" + field(fields[1]) + field(fields[0]) + QByteArray(64, '\0') + char(255));
    } else if (kind.startsWith(u"tagged:")) {
        const QStringList parts = kind.mid(7).split(u'|');
        testdata::copySample(dir, testdata::kStereoMpeg2, name);
        writeTag(path, parts[0] == u"-" ? QString() : parts[0], parts[1] == u"-" ? QString() : parts[1]);
    } else if (kind == u"untagged") {
        testdata::copySample(dir, testdata::kMonoMpeg1, name);
    } else if (kind == u"text") {
        testdata::writeAll(path, "just some text, no audio\n");
    } else if (kind == u"folder") {
        QDir(dir).mkdir(name);
    } else if (kind == u"fifo") {
        ::mkfifo(QFile::encodeName(path).constData(), 0644);
    } else if (kind == u"empty") {
        return QString();
    }
    return path;
}

QList<QByteArray> native(const QStringList &paths)
{
    QList<QByteArray> out;
    for (const QString &path : paths)
        out << QFile::encodeName(path);
    return out;
}

// The names as the list would get them reading one file after the other
// into one record that is kept from file to file.
QStringList oneByOne(const QStringList &paths)
{
    QStringList names;
    tags::TagInfo tag;
    for (const QString &path : paths) {
        if (!tags::fileExists(QFile::encodeName(path))) {
            names << kFileNotFound;
            continue;
        }
        mp3lib::TagInfoWire wire = tag.toWire();
        const bool ok = vbmp3_getFileTagInfo(QFile::encodeName(path).constData(), wire) != 0;
        tag.fromWire(wire);
        names << (ok ? ComposeNewName(tag) : kTagInfoError);
    }
    return names;
}

} // namespace

class TestRenameList : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(vbmp3_init() != 0); }
    void cleanupTestCase() { vbmp3_free(); }
    void emptyList() { QCOMPARE(makeRenameNames({}), QStringList()); }

    void proposedName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expected");
        QTest::newRow("tagged") << "a.mp3" << "tagged:  ABC |XYZ  " << "ABC - XYZ.mp3";
        QTest::newRow("upper-case extension") << "X.MP3" << u"tagged:歌手|曲名"_qs << u"歌手 - 曲名.mp3"_qs;
        QTest::newRow("title only") << "t.mp3" << "tagged:-|Title" << " - Title.mp3";
        QTest::newRow("Western ID3v1") << "w.mp3" << u"id3v1:windows-1252:Édith Piaf|L’hymne à l’amour"_qs
                                       << u"Édith Piaf - L’hymne à l’amour.mp3"_qs;
        QTest::newRow("Japanese ID3v1") << "j.mp3" << u"id3v1:CP932:中島ゆき|時代"_qs << u"中島ゆき - 時代.mp3"_qs;
        QTest::newRow("rejected character in tag") << "r.mp3" << "tagged:AC/DC|Song" << kFilenameError;
        QTest::newRow("missing") << "gone.mp3" << "missing" << kFileNotFound;
        QTest::newRow("empty entry") << "" << "empty" << kFileNotFound;
        QTest::newRow("hidden file") << ".h.mp3" << "tagged:S|T" << kFileNotFound;
        QTest::newRow("folder") << "d.mp3" << "folder" << kFileNotFound;
        QTest::newRow("FIFO") << "p.mp3" << "fifo" << kFileNotFound;
        QTest::newRow("text file") << "t.mp3" << "text" << kTagInfoError;
        QTest::newRow("no tag at all") << "u.mp3" << "untagged" << kTagInfoError;
    }

    void proposedName()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = makeFile(dir.path(), name, kind);
        QCOMPARE(proposedNameFor(QFile::encodeName(path)), expected);
        QCOMPARE(makeRenameNames({QFile::encodeName(path)}), QStringList{expected});
    }

    void parallelEqualsOneByOne()
    {
        // A few hundred entries in a mix that puts every kind next to every
        // other: a title-only tag right after a full one shows whether anything
        // of one file's tag reaches the next file's name.
        const QList<QPair<QString, QString>> kinds = {
            {"tagged:Singer %1|Title %1", "Singer %1 - Title %1.mp3"}, {"tagged:-|Only title %1", " - Only title %1.mp3"},
            {"missing", kFileNotFound}, {"untagged", kTagInfoError}, {"tagged:A%1|B%1", "A%1 - B%1.mp3"},
            {"text", kTagInfoError}, {"tagged:Bad?%1|x", kFilenameError}, {"empty", kFileNotFound},
            {u"tagged:%1 歌|曲 %1"_qs, u"%1 歌 - 曲 %1.mp3"_qs}};
        QTemporaryDir dir;
        QStringList paths, expected;
        for (int i = 0; i < 301; ++i) {
            const auto &[kind, name] = kinds[(i * 7 + i / 9) % kinds.size()];
            paths << makeFile(dir.path(), QString::number(i) + ".mp3", QString(kind).replace("%1", QString::number(i)));
            expected << QString(name).replace("%1", QString::number(i));
        }
        QCOMPARE(makeRenameNames(native(paths)), expected);
        QCOMPARE(oneByOne(paths), expected);
        // And again, in the other order: nothing depends on which file came first.
        QCOMPARE(makeRenameNames(native(QStringList(paths.rbegin(), paths.rend()))), QStringList(expected.rbegin(), expected.rend()));
    }

    // Cancelled in the middle, proposed names cover a prefix of the list (the
    // entries not read are not added), and a Rename stops between files:
    // those before are renamed, those after keep their names.
    void cancelInTheMiddle_data()
    {
        QTest::addColumn<bool>("rename");
        QTest::newRow("reading") << false;
        QTest::newRow("renaming") << true;
    }

    void cancelInTheMiddle()
    {
        QFETCH(bool, rename);
        QTemporaryDir dir;
        const QString first = makeFile(dir.path(), "0000.mp3", "tagged:S|T");
        QList<QByteArray> paths;
        QList<RenameJob> jobs;
        for (int i = 0; i < 3000; ++i) {
            const QString p = dir.filePath(QStringLiteral("%1.mp3").arg(i, 4, 10, QChar(u'0')));
            if (i > 0)
                QVERIFY(QFile::copy(first, p));
            paths << QFile::encodeName(p);
            jobs.append({i, paths.last(), QStringLiteral("r%1.mp3").arg(i, 4, 10, QChar(u'0'))});
        }
        NameProgress names;
        RenameProgress renames;
        QStringList got;
        RenameResult result;
        std::thread work([&] {
            if (rename)
                result = renameFiles(jobs, nullptr, &renames);
            else
                got = makeRenameNames(paths, &names);
        });
        while ((rename ? qsizetype(renames.done.load()) : names.done.load()) < 50)
            std::this_thread::yield();
        (rename ? renames.cancel : names.cancel) = true;
        work.join();
        if (!rename) {
            QVERIFY(got.size() >= 50 && got.size() < 3000);
            QCOMPARE(got, QStringList(got.size(), "S - T.mp3"));
            return;
        }
        const int renamed = 3000 - result.notTried;
        QVERIFY(result.notTried > 0 && renamed >= 50);
        QCOMPARE(result.failed, QStringList());
        QCOMPARE(QDir(dir.path()).entryList({"r*.mp3"}).size(), renamed);
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("r%1.mp3").arg(renamed - 1, 4, 10, QChar(u'0')))));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("%1.mp3").arg(renamed, 4, 10, QChar(u'0')))));
    }
};

QTEST_GUILESS_MAIN(TestRenameList)
#include "tst_renamelist.moc"
