// Hostile files through the library binding and the rename list: each file
// is read, named, opened for playing and written in a watched child of its
// own. The right result or marker, no crash, no hang, a refused write leaves
// the file as it was; time and memory are printed.

#include "hostile.h"
#include "newname.h"
#include "renamelist.h"
#include "taginfo.h"
#include "vbmp3.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

using hostile::kSanitized;

class TestHostile : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QList<hostile::HostileFile> files_;
    double worstSeconds_ = 0;
    long worstKb_ = 0;
    QString slowest_, largest_;

private slots:
    void initTestCase()
    {
        QVERIFY(vbmp3_init());
        QVERIFY(QDir(dir_.path()).mkdir("set"));
        files_ = hostile::writeHostileFiles(dir_.filePath("set"));
        mp3lib::setWavOutputForTesting(QFile::encodeName(dir_.filePath("sound.wav")).constData());
    }

    void cleanupTestCase()
    {
        mp3lib::setWavOutputForTesting(nullptr);
        qInfo("hostile files: %lld; slowest %.3f s (%s), most memory %ld KB (%s)%s",
              qlonglong(files_.size()), worstSeconds_, qPrintable(slowest_), worstKb_,
              qPrintable(largest_), kSanitized ? " [sanitized build]" : "");
    }

    void eachFile_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < files_.size(); ++i)
            QTest::newRow(qPrintable(files_[i].what)) << i;
    }

    void eachFile()
    {
        QFETCH(int, index);
        const hostile::HostileFile &file = files_[index];
        const QByteArray path = QFile::encodeName(file.path);
        const QByteArray before = file.regular ? hostile::sha1Of(file.path) : QByteArray();
        const QStringList folderBefore = hostile::entries(dir_.filePath("set"));

        QVariantMap o;
        QString why;
        QVERIFY2(hostile::runInChild(10, [&] {
            QVariantMap out;
            mp3lib::TagInfoWire wire{}, byTagLib{};
            out["read"] = vbmp3_getFileTagInfo(path.constData(), wire) != 0;
            // The same as when TagLib reads the file by itself.
            mp3lib::setTagLibFileStreamForTesting(true);
            out["readByTagLib"] = vbmp3_getFileTagInfo(path.constData(), byTagLib) != 0;
            mp3lib::setTagLibFileStreamForTesting(false);
            out["sameRecord"] = std::memcmp(&wire, &byTagLib, sizeof wire) == 0;
            out["proposed"] = renaming::makeRenameNames({path}).value(0);
            mp3lib::OpenInfoWire info{};
            out["open"] = vbmp3_open(path.constData(), info) != 0;
            if (out["open"].toBool()) {
                vbmp3_play();
                vbmp3_stop();
                vbmp3_close();
            }
            tags::TagInfo t;
            t.TrackName = tags::fitFieldWithNul(QStringLiteral("Written"), tags::kTextWidth);
            t.ArtistName = tags::fitFieldWithNul(QStringLiteral("Writer"), tags::kTextWidth);
            t.GenreNo = 17;
            mp3lib::TagInfoWire record = t.toWire();
            out["write"] = vbmp3_setTagInfo(path.constData(), record, 0, 1) != 0;
            if (out["write"].toBool())
                out["proposedAfterWrite"] = renaming::proposedNameFor(path);
            return out;
        }, o, why), qPrintable(why));

        const double seconds = o["seconds"].toDouble();
        const long kb = long(o["memoryKb"].toLongLong());
        if (seconds > worstSeconds_)
            worstSeconds_ = seconds, slowest_ = file.what;
        if (kb > worstKb_)
            worstKb_ = kb, largest_ = file.what;
        QCOMPARE(o["read"].toBool(), file.tagReads);
        QCOMPARE(o["readByTagLib"].toBool(), file.tagReads);
        QVERIFY(o["sameRecord"].toBool());
        QCOMPARE(o["proposed"].toString(), file.proposed);
        QCOMPARE(o["open"].toBool(), file.plays);
        QCOMPARE(o["write"].toBool(), file.tagWrites);
        if (file.tagWrites)
            QCOMPARE(o["proposedAfterWrite"].toString(), QStringLiteral("Writer - Written.mp3"));
        else if (file.regular)   // a FIFO or /dev/zero cannot be hashed
            QCOMPARE(hostile::sha1Of(file.path), before);
        QCOMPARE(hostile::entries(dir_.filePath("set")), folderBefore);
        if (!kSanitized)
            QVERIFY2(kb < 100 * 1024, qPrintable(QString::number(kb) + " KB"));
    }

    // The whole set at once, on every core: the same names as one by one.
    void wholeSetAtOnce()
    {
        QVERIFY(QDir(dir_.path()).mkdir("whole"));
        QList<QByteArray> paths;
        QStringList expected;
        for (const hostile::HostileFile &f : hostile::writeHostileFiles(dir_.filePath("whole")))
            paths << QFile::encodeName(f.path), expected << f.proposed;
        paths << QByteArray() << QFile::encodeName(dir_.filePath("whole/missing.mp3"));
        expected << renaming::kFileNotFound << renaming::kFileNotFound;
        QVariantMap o;
        QString why;
        QVERIFY2(hostile::runInChild(10, [&] { return QVariantMap{{"names", renaming::makeRenameNames(paths)}}; },
                                     o, why),
                 qPrintable(why));
        QCOMPARE(o["names"].toStringList(), expected);
        qInfo("whole set named at once in %.3f s", o["seconds"].toDouble());
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
