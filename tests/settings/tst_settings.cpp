// The settings file: reading and writing the INI format as Windows does,
// keeping what a write does not change, and never damaging a file.
#include <grp.h>

#include "common/id3build.h"
#include "common/table.h"
#include "core/settings/inifile_io.h"

using testdata::readAll;
using testdata::writeAll;

namespace {

constexpr uid_t kNobody = 65534;

// Runs `fn` in a child process as uid/gid 65534 and gives its exit code;
// -1 when the child cannot become that user.
int runAsNobody(const std::function<bool()> &fn)
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0 ? 99 : fn() ? 0 : 1);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) == 99)
        return -1;
    return WEXITSTATUS(status);
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;
    QString file_;
    inifile_IO io_;
    const QByteArray windows_ = table::rows("settings.txt", "windows", {"text"}).value(0).text(0).toUtf8();

    // A file's bytes as a table spells them: "windows" the file above,
    // "windows+ADDED" with ADDED at its end, "windows:FROM>TO" with FROM
    // replaced by TO, "bytes EXPR" an id3build::Bytes expression (why it
    // cannot be read goes to `bad`), else the text.
    QByteArray file(const QString &text, QByteArray &bad) const
    {
        if (text.startsWith("bytes ")) {
            id3build::Bytes bytes;
            const QByteArray out = bytes(text.mid(6).toUtf8());
            bad += bytes.error;
            return out;
        }
        const QByteArrayList change = text.mid(8).toUtf8().split('>');
        if (!text.startsWith("windows") || text.size() == 7)
            return text == u"windows" ? windows_ : text.toUtf8();
        return text[7] == u'+' ? windows_ + change[0] : QByteArray(windows_).replace(change[0], change.value(1));
    }

private slots:
    void init()
    {
        TABLE_FAIL_BROKEN_ROW();
        QVERIFY(tmp_.isValid());
        QFile::setPermissions(tmp_.path(), QFile::Permissions(0x7755));   // others may enter
        file_ = tmp_.filePath(QStringLiteral("%1.ini").arg(QTest::currentTestFunction()));
        QFile::remove(file_);
        io_.setFileName(file_);
    }

    // What a read of text or of a whole number gives back from the file.
    void reads_data() { table::addRows("settings.txt", "reads", {"stored", "section", "key", "as", "read"}); }

    void reads()
    {
        QFETCH(QString, stored);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, as);
        QFETCH(QString, read);
        QByteArray bad;
        const QByteArray content = file(stored, bad), expected = file(read, bad);
        QVERIFY2(bad.isEmpty(), bad.constData());
        writeAll(file_, content);
        if (as == u"number")
            QCOMPARE(io_.ReadInt(section, key, -99), read.toInt());
        else
            QCOMPARE(io_.ReadStr(section, key, "-"), QString::fromUtf8(expected));
    }

    // "refused" after: the write is refused, the file kept.
    void writes_data() { table::addRows("settings.txt", "writes", {"before", "section", "key", "value", "after"}); }

    void writes()
    {
        QFETCH(QString, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, after);
        QByteArray bad;
        const QByteArray start = file(before, bad), end = after == u"refused" ? QByteArray() : file(after, bad);
        QVERIFY2(bad.isEmpty(), bad.constData());
        writeAll(file_, start);
        QCOMPARE(io_.WriteStr(section, key, value), !end.isNull());
        QCOMPARE(readAll(file_), end.isNull() ? start : end);
        QCOMPARE(io_.ReadStr(section, key, "-"), end.isNull() || value.isEmpty() ? "-" : value);
    }

    void unusablePaths()
    {
        const QString folder = tmp_.filePath("folder"), fifo = tmp_.filePath("fifo");
        QVERIFY(QDir().mkdir(folder));
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
        QCOMPARE(io_.ReadInt("Position", "Top", 7), 7);
        QVERIFY(!QFile::exists(file_));   // reads never create it
        for (const QString &path : {folder, fifo, tmp_.filePath("missing/settings.ini"), QString()}) {
            io_.setFileName(path);
            QCOMPARE(io_.ReadInt("Position", "Top", 3), 3);   // a FIFO must not block
            QVERIFY(!io_.WriteStr("Position", "Top", "1"));
        }
        QVERIFY(!QFileInfo(fifo).isFile() && QDir(folder).isEmpty() && !QFileInfo::exists(tmp_.filePath("missing")));
    }

    // A write to a folder the user may not write to keeps the old file,
    // though the file itself may be written; a write through a link keeps
    // the link and the target's permissions and owner.
    void fileKeptAsItWas()
    {
        const QString dir = tmp_.filePath("readonly"), path = dir + "/settings.ini";
        QVERIFY(QDir().mkpath(dir));
        writeAll(path, windows_);
        QVERIFY(QFile::setPermissions(path, QFile::Permissions(0x6666)));
        QVERIFY(QFile::setPermissions(dir, QFile::Permissions(0x5555)));
        io_.setFileName(path);
        const auto write = [&] { return io_.WriteStr("Position", "Top", "9"); };
        QCOMPARE(geteuid() == 0 ? runAsNobody(write) : int(!write()), 1);
        QFile::setPermissions(dir, QFile::Permissions(0x7755));
        QCOMPARE(readAll(path), windows_);
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList("settings.ini"));

        const QString target = tmp_.filePath("target.ini");
        writeAll(target, "[A]\r\nx=1\r\n");
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        const bool root = geteuid() == 0;
        QVERIFY(!root || chown(QFile::encodeName(target).constData(), kNobody, kNobody) == 0);
        QVERIFY(QFile::link(target, file_));
        io_.setFileName(file_);
        QVERIFY(io_.WriteStr("A", "x", "2"));
        QVERIFY(QFileInfo(file_).isSymLink());
        QCOMPARE(readAll(target), "[A]\r\nx=2\r\n");
        struct stat st {};
        QCOMPARE(stat(QFile::encodeName(target).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0640u);
        QCOMPARE(st.st_uid, root ? kNobody : geteuid());
    }

    void settingsFilePath_data() { table::addRows("settings.txt", "settingsFilePath", {"folder", "goes"}); }

    void settingsFilePath()
    {
        QFETCH(QString, folder);
        QFETCH(QString, goes);
        const bool beside = goes == u"beside";
        const QString base = tmp_.path() + '/';
        for (const char *dir : {"bin", "readonly", "config"})
            QDir().mkpath(base + dir);
        QFile::setPermissions(base + "readonly", QFile::Permissions(0x5555));
        QFile::setPermissions(base + "config", QFile::Permissions(0x7777));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(base + "config"));
        QDir(base + "config/dorvasu").removeRecursively();
        const QString expected = base + (beside ? "bin/prog.ini" : "config/dorvasu/prog.ini");
        const auto check = [&] {
            return ::settingsFilePath(folder.startsWith('/') ? folder : base + folder, "prog") == expected
                && (beside || QFileInfo(base + "config/dorvasu").isDir());
        };
        // Root may write anywhere: a read-only folder stops only other users.
        if (folder == "readonly" && geteuid() == 0)
            QCOMPARE(runAsNobody(check), 0);
        else
            QVERIFY(check());
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
