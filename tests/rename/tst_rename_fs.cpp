// The rename that never replaces, on file systems that lack RENAME_NOREPLACE:
// NTFS through ntfs-3g (hard links, case-sensitive) and exFAT through
// exfat-fuse (no hard links, ignores letter case). Both are mounted from
// small images made here, which needs root and the tools; otherwise the
// tests are skipped.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <unistd.h>

#include "renamefiles.h"
#include "testdata.h"

using namespace renaming;

namespace {

QString tool(const QString &name)
{
    return QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
}

bool run(const QString &program, const QStringList &args, QByteArray *out = nullptr)
{
    QProcess p;
    p.start(program, args);
    const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (out)
        *out = p.readAllStandardOutput().trimmed();
    return ok;
}

// An image formatted and mounted for the life of the object; `whyNot`
// is empty when mounted.
class Mount {
public:
    explicit Mount(const QString &kind) { whyNot = mount(kind); }
    ~Mount()
    {
        if (whyNot.isEmpty())
            run(tool("fusermount"), {"-u", mountPoint()});
        if (!loop_.isEmpty())
            run(tool("losetup"), {"-d", loop_});
    }
    QString mountPoint() const { return dir_.filePath("mnt"); }
    QString whyNot;

private:
    QString mount(const QString &kind)
    {
        if (::geteuid() != 0)
            return "mounting needs root";
        const QString image = dir_.filePath("fs.img");
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(16 << 20))
            return "cannot make the image";
        file.close();
        QDir(dir_.path()).mkdir("mnt");
        QString device = image, mounter = tool(kind == "exfat" ? "mount.exfat-fuse" : "ntfs-3g");
        if (kind == "exfat") {
            QByteArray loop;   // exfat-fuse mounts block devices only
            if (mounter.isEmpty() || !run(tool("mkfs.exfat"), {image})
                || !run(tool("losetup"), {"-f", "--show", image}, &loop))
                return "exfatprogs, exfat-fuse or a loop device is missing";
            loop_ = device = QString::fromLocal8Bit(loop);
        } else if (mounter.isEmpty() || !run(tool("mkfs.ntfs"), {"-F", "-q", image})) {
            return "ntfs-3g is not installed";
        }
        if (tool("fusermount").isEmpty() || !run(mounter, {device, mountPoint()}))
            return "the FUSE mount failed";
        return {};
    }

    QTemporaryDir dir_;
    QString loop_;
};

// Regular files as "name=content", everything else by name, sorted.
QStringList entries(const QString &dir)
{
    QStringList out;
    for (const QFileInfo &info :
         QDir(dir).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        out << info.fileName() + (info.isFile() ? u'=' + QString::fromUtf8(testdata::readAll(info.filePath())) : "");
    out.sort();
    return out;
}

} // namespace

class TestRenameFs : public QObject {
    Q_OBJECT

    std::map<QString, std::unique_ptr<Mount>> mounts_;

private slots:
    void initTestCase()
    {
        for (const QString kind : {"exfat", "ntfs"})
            mounts_[kind] = std::make_unique<Mount>(kind);
    }
    void renameFiles_data();
    void renameFiles();
};

void TestRenameFs::renameFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("before");    // files holding their own names
    QTest::addColumn<QStringList>("jobs");      // current name, new name, in pairs
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<QList<int>>("failedJobs");
    using L = QStringList;
    // NTFS takes the hard-link way, exFAT the reserved-empty-file way.
    for (const QString kind : {"exfat", "ntfs"}) {
        const QByteArray k = kind.toLatin1();
        QTest::addRow("%s: renamed", k.constData()) << kind << L{"a.mp3"} << L{"a.mp3", u"歌手 - 曲.mp3"_qs}
                                                    << L{u"歌手 - 曲.mp3=a.mp3"_qs} << QList<int>{};
        QTest::addRow("%s: target exists", k.constData()) << kind << L{"a.mp3", "b.mp3"} << L{"a.mp3", "b.mp3"}
                                                          << L{"a.mp3=a.mp3", "b.mp3=b.mp3"} << QList<int>{0};
        QTest::addRow("%s: letter case only", k.constData()) << kind << L{"abc.mp3"} << L{"abc.mp3", "ABC.mp3"}
                                                             << L{"ABC.mp3=abc.mp3"} << QList<int>{};
        QTest::addRow("%s: same proposed name twice", k.constData())
            << kind << L{"a.mp3", "b.mp3"} << L{"a.mp3", "n.mp3", "b.mp3", "n.mp3"} << L{"b.mp3=b.mp3", "n.mp3=a.mp3"}
            << QList<int>{1};
    }
    // A folder that ignores case: another file whose name differs in case
    // only is still another file.
    QTest::newRow("exfat: target exists in other letter case") << "exfat" << L{"a.mp3", "B.mp3"} << L{"a.mp3", "b.mp3"}
                                                               << L{"B.mp3=B.mp3", "a.mp3=a.mp3"} << QList<int>{0};
    QTest::newRow("exfat: case change, then a new name in the old case")
        << "exfat" << L{"x.mp3", "y.mp3"} << L{"x.mp3", "X.mp3", "y.mp3", "x.mp3"} << L{"X.mp3=x.mp3", "y.mp3=y.mp3"}
        << QList<int>{1};
}

void TestRenameFs::renameFiles()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, before);
    QFETCH(QStringList, jobs);
    QFETCH(QStringList, after);
    QFETCH(QList<int>, failedJobs);
    if (!mounts_[kind]->whyNot.isEmpty())
        QSKIP(qPrintable(mounts_[kind]->whyNot));

    static int serial = 0;   // a fresh folder on the mount for each row
    const QString dir = mounts_[kind]->mountPoint() + "/t" + QString::number(++serial);
    QVERIFY(QDir().mkpath(dir));
    for (const QString &name : before)
        testdata::writeAll(dir + u'/' + name, name.toUtf8());
    QList<RenameJob> list;
    QStringList expectedFailed;
    for (int j = 0; j + 1 < jobs.size(); j += 2) {
        list.append({j / 2, QFile::encodeName(dir + u'/' + jobs[j]), jobs[j + 1]});
        if (failedJobs.contains(j / 2))
            expectedFailed << dir + u'/' + jobs[j];
    }
    const RenameResult result = renaming::renameFiles(list);
    QCOMPARE(result.failed, expectedFailed);
    QCOMPARE(result.newPaths.size(), list.size() - failedJobs.size());
    // No temporary name or reserved empty file is left behind.
    QCOMPARE(entries(dir), after);
}

QTEST_GUILESS_MAIN(TestRenameFs)
#include "tst_rename_fs.moc"
