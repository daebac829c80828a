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

#include "newname.h"
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
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    if (out)
        *out = p.readAllStandardOutput().trimmed();
    return true;
}

// An image file formatted and mounted for the life of the object.
class Mount {
public:
    explicit Mount(const QString &kind) : kind_(kind) {}
    ~Mount()
    {
        if (mounted_)
            run(tool("fusermount"), {"-u", mountPoint()});
        if (!loop_.isEmpty())
            run(tool("losetup"), {"-d", loop_});
    }

    // Empty when mounted, else why not.
    QString mount()
    {
        if (::geteuid() != 0)
            return "mounting needs root";
        if (!dir_.isValid())
            return "no temporary folder";
        const QString image = dir_.filePath("fs.img");
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(16 << 20))
            return "cannot make the image";
        file.close();
        QDir(dir_.path()).mkdir("mnt");
        QString device = image, mounter;
        if (kind_ == "exfat") {
            if (tool("mkfs.exfat").isEmpty() || tool("mount.exfat-fuse").isEmpty()
                || tool("losetup").isEmpty())
                return "exfatprogs or exfat-fuse is not installed";
            if (!run(tool("mkfs.exfat"), {image}))
                return "mkfs.exfat failed";
            // exfat-fuse mounts block devices only.
            QByteArray loop;
            if (!run(tool("losetup"), {"-f", "--show", image}, &loop))
                return "no loop device";
            loop_ = device = QString::fromLocal8Bit(loop);
            mounter = tool("mount.exfat-fuse");
        } else {
            if (tool("mkfs.ntfs").isEmpty() || tool("ntfs-3g").isEmpty())
                return "ntfs-3g is not installed";
            if (!run(tool("mkfs.ntfs"), {"-F", "-q", image}))
                return "mkfs.ntfs failed";
            mounter = tool("ntfs-3g");
        }
        if (tool("fusermount").isEmpty() || !run(mounter, {device, mountPoint()}))
            return "the FUSE mount failed";
        mounted_ = true;
        return {};
    }

    QString mountPoint() const { return dir_.filePath("mnt"); }

private:
    QString kind_;
    QTemporaryDir dir_;
    QString loop_;
    bool mounted_ = false;
};

// Regular files as "name=content", everything else by name, sorted.
QStringList entries(const QString &dir)
{
    QStringList out;
    for (const QFileInfo &info :
         QDir(dir).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System
                                 | QDir::NoDotAndDotDot)) {
        out << (info.isFile() ? info.fileName() + u'='
                                    + QString::fromUtf8(testdata::readAll(info.filePath()))
                              : info.fileName());
    }
    out.sort();
    return out;
}

} // namespace

class TestRenameFs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void renameFiles_data();
    void renameFiles();

private:
    std::map<QString, std::unique_ptr<Mount>> mounts_;
    std::map<QString, QString> whyNot_;
};

void TestRenameFs::initTestCase()
{
    for (const QString kind : {"exfat", "ntfs"}) {
        auto mount = std::make_unique<Mount>(kind);
        whyNot_[kind] = mount->mount();
        mounts_[kind] = std::move(mount);
    }
}

void TestRenameFs::renameFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("before");    // files holding their own names
    QTest::addColumn<QStringList>("jobs");      // current name, new name, in pairs
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<QList<int>>("failedJobs");

    for (const QString kind : {"exfat", "ntfs"}) {
        const QByteArray k = kind.toLatin1();
        QTest::addRow("%s: renamed", k.constData())
            << kind << QStringList{"a.mp3"} << QStringList{"a.mp3", u"歌手 - 曲.mp3"_qs}
            << QStringList{u"歌手 - 曲.mp3=a.mp3"_qs} << QList<int>{};
        QTest::addRow("%s: target exists", k.constData())
            << kind << QStringList{"a.mp3", "b.mp3"} << QStringList{"a.mp3", "b.mp3"}
            << QStringList{"a.mp3=a.mp3", "b.mp3=b.mp3"} << QList<int>{0};
        QTest::addRow("%s: letter case only", k.constData())
            << kind << QStringList{"abc.mp3"} << QStringList{"abc.mp3", "ABC.mp3"}
            << QStringList{"ABC.mp3=abc.mp3"} << QList<int>{};
        QTest::addRow("%s: same proposed name twice", k.constData())
            << kind << QStringList{"a.mp3", "b.mp3"} << QStringList{"a.mp3", "n.mp3", "b.mp3", "n.mp3"}
            << QStringList{"b.mp3=b.mp3", "n.mp3=a.mp3"} << QList<int>{1};
        QTest::addRow("%s: swap refused", k.constData())
            << kind << QStringList{"a.mp3", "b.mp3"} << QStringList{"a.mp3", "b.mp3", "b.mp3", "a.mp3"}
            << QStringList{"a.mp3=a.mp3", "b.mp3=b.mp3"} << QList<int>{0, 1};
        QTest::addRow("%s: marker refused", k.constData())
            << kind << QStringList{"a.mp3"} << QStringList{"a.mp3", kTagInfoError}
            << QStringList{"a.mp3=a.mp3"} << QList<int>{0};
    }
    // A folder that ignores case: another file whose name differs in case
    // only is still another file.
    QTest::newRow("exfat: target exists in other letter case")
        << "exfat" << QStringList{"a.mp3", "B.mp3"} << QStringList{"a.mp3", "b.mp3"}
        << QStringList{"B.mp3=B.mp3", "a.mp3=a.mp3"} << QList<int>{0};
    QTest::newRow("exfat: case change, then a new name in the old case")
        << "exfat" << QStringList{"x.mp3", "y.mp3"} << QStringList{"x.mp3", "X.mp3", "y.mp3", "x.mp3"}
        << QStringList{"X.mp3=x.mp3", "y.mp3=y.mp3"} << QList<int>{1};
}

void TestRenameFs::renameFiles()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, before);
    QFETCH(QStringList, jobs);
    QFETCH(QStringList, after);
    QFETCH(QList<int>, failedJobs);
    if (!whyNot_[kind].isEmpty())
        QSKIP(qPrintable(whyNot_[kind]));

    // A fresh folder on the mount for each row.
    static int serial = 0;
    const QString dir = mounts_[kind]->mountPoint() + "/t" + QString::number(++serial);
    QVERIFY(QDir().mkpath(dir));
    for (const QString &name : before)
        testdata::writeAll(dir + u'/' + name, name.toUtf8());

    QList<RenameJob> list;
    QStringList expectedFailed;
    for (int j = 0; j + 1 < jobs.size(); j += 2) {
        list.append({j / 2, dir + u'/' + jobs[j], jobs[j + 1]});
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
