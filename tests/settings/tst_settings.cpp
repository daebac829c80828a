// The settings file: reading and writing the INI format as Windows does,
// keeping what a write does not change, and never damaging a file.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "inifile_io.h"
#include "testdata.h"

using testdata::readAll;
using testdata::writeAll;

namespace {

// A file as Windows and people write them: comments, a key before any
// section, names in another case, blanks around "=", quotes, garbage.
const QByteArray kWindowsFile =
    "; Dorvasu\r\norphan=before any section\r\n\r\n"
    "[position]\r\nTop = 1500 \r\nLEFT=\t2000\r\nFileTop=\"  300 \"\r\n\r\n"
    "[Unknown]\r\nThing=keep me\r\ngarbage without equals sign\r\n\r\n"
    "[Folder]\r\nMP3=\"C:\\Music\\J-Pop\"\r\n; history follows\r\n"
    "[DirList]\r\n00=C:\\Music\r\n";

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

private slots:
    void init()
    {
        QVERIFY(tmp_.isValid());
        QFile::setPermissions(tmp_.path(), QFile::Permissions(0x7755));   // others may enter
        file_ = tmp_.filePath(QStringLiteral("%1.ini").arg(QTest::currentTestFunction()));
        QFile::remove(file_);
        io_.setFileName(file_);
    }

    void readInt_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("expected");   // -99: the default
        QTest::newRow("half down to even") << QByteArray("12.5") << 12;
        QTest::newRow("half up to even") << QByteArray("13.5") << 14;
        QTest::newRow("negative half") << QByteArray("-2.5") << -2;
        QTest::newRow("just above half") << QByteArray("0.50000000000000000001") << 1;
        QTest::newRow("highest plus half") << QByteArray("32767.5") << -99;
        QTest::newRow("too big") << QByteArray("40000") << -99;
        QTest::newRow("exponent") << QByteArray("1e2") << 100;
        QTest::newRow("letters") << QByteArray("abc") << -99;
        QTest::newRow("comma, whatever the locale") << QByteArray("1,5") << -99;
    }

    void readInt()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, expected);
        writeAll(file_, "[S]\r\nk=" + stored + "\r\n");
        QCOMPARE(io_.ReadInt("S", "k", -99), expected);
    }

    void windowsFileReads()
    {
        writeAll(file_, kWindowsFile);
        QCOMPARE(io_.ReadStr("Position", "top", "-"), "1500");          // other case, blanks
        QCOMPARE(io_.ReadStr("POSITION", "Left", "-"), "2000");         // tab after "="
        QCOMPARE(io_.ReadStr("Position", "FileTop", "-"), "  300 ");    // quotes keep blanks
        QCOMPARE(io_.ReadStr("Folder", "MP3", "-"), "C:\\Music\\J-Pop");
        QCOMPARE(io_.ReadStr("Unknown", "Thing", "-"), "keep me");
        QCOMPARE(io_.ReadStr("Position", "orphan", "-"), "-");          // belongs to no section
    }

    void writes_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");   // null: the write is refused, the file kept
        const QByteArray w = kWindowsFile, refused;
        auto replaced = [&](const char *from, const char *to) { return QByteArray(w).replace(from, to); };
        QByteArray binary(256 * 1024, '\0');
        QRandomGenerator(4711).fillRange(reinterpret_cast<quint32 *>(binary.data()), binary.size() / 4);
        const QString utf16 = QChar(0xFEFF) + QStringLiteral("[Position]\r\nTop=5\r\n");

        QTest::newRow("value replaced in its line")
            << w << "Position" << "TOP" << "20" << replaced("Top = 1500 \r\n", "Top=20\r\n");
        QTest::newRow("new key before a comment")
            << w << "folder" << "Sub" << "x" << replaced("J-Pop\"\r\n", "J-Pop\"\r\nSub=x\r\n");
        QTest::newRow("new section at the end") << w << "Player" << "Vol" << "50" << w + "\r\n[Player]\r\nVol=50\r\n";
        QTest::newRow("no final line break") << QByteArray("[A]\r\nx=1")
            << "A" << "y" << "2" << QByteArray("[A]\r\nx=1\r\ny=2\r\n");
        QTest::newRow("lone CR at the end") << QByteArray("[A]\r\nx=1\r")
            << "A" << "y" << "2" << QByteArray("[A]\r\nx=1\r\ny=2\r\n");
        QTest::newRow("blank lines stay after the section")
            << QByteArray("[A]\r\n\r\n[B]\r\n") << "A" << "x" << "1" << QByteArray("[A]\r\nx=1\r\n\r\n[B]\r\n");
        QTest::newRow("LF file stays LF") << QByteArray("[A]\nx=1\n") << "A" << "y" << "2" << QByteArray("[A]\nx=1\ny=2\n");
        QTest::newRow("first of duplicate keys")
            << QByteArray("[A]\r\nk=1\r\nk=2\r\n") << "A" << "K" << "3" << QByteArray("[A]\r\nk=3\r\nk=2\r\n");
        QTest::newRow("BOM of the file kept")
            << QByteArray("\xEF\xBB\xBF[A]\r\nx=1\r\n") << "a" << "x" << "2" << QByteArray("\xEF\xBB\xBF[A]\r\nx=2\r\n");
        QTest::newRow("key beginning with U+FEFF")
            << QByteArray("[A]\r\n\xEF\xBB\xBFx=1\r\n") << "A" << QChar(0xFEFF) + QString("x") << "2"
            << QByteArray("[A]\r\n\xEF\xBB\xBFx=2\r\n");
        QTest::newRow("empty value keeps the key")
            << QByteArray("[Position]\r\nTop=1\r\n") << "Position" << "Top" << "" << QByteArray("[Position]\r\nTop=\r\n");
        QTest::newRow("blanks kept by quotes")
            << QByteArray() << "A" << "x" << " /music/ old " << QByteArray("[A]\r\nx=\" /music/ old \"\r\n");
        QTest::newRow("quotes kept by quotes") << QByteArray() << "A" << "x" << "'a'" << QByteArray("[A]\r\nx=\"'a'\"\r\n");
        QTest::newRow("same value leaves the file alone")
            << QByteArray("[A]\n x = 1 ") << "A" << "x" << "1" << QByteArray("[A]\n x = 1 ");
        QTest::newRow("Japanese names and value")
            << QByteArray() << "設定" << "フォルダ" << "/音楽/邦楽 ベスト"
            << QByteArray("[設定]\r\nフォルダ=/音楽/邦楽 ベスト\r\n");
        // Names and values that would change the meaning of the file.
        QTest::newRow("] in section") << w << "Pos]ition" << "Top" << "1" << refused;
        QTest::newRow("= in key") << w << "Position" << "To=p" << "1" << refused;
        QTest::newRow("line break in key") << w << "Position" << "Top\n[Evil]" << "1" << refused;
        QTest::newRow("CR LF in value") << w << "Folder" << "New" << "/a\r\n[Position]\r\nTop=9" << refused;
        QTest::newRow("NUL in value") << w << "Folder" << "New" << QString("/a") + QChar(0) + "b" << refused;
        QTest::newRow("key like a comment") << w << "Folder" << ";MP3" << "1" << refused;
        QTest::newRow("key like a header") << w << "Folder" << "[x" << "]" << refused;
        QTest::newRow("empty key") << w << "Folder" << " " << "1" << refused;
        // Files that are not settings text: read as defaults, never rewritten.
        QTest::newRow("random bytes") << binary << "Position" << "Top" << "9" << refused;
        QTest::newRow("NUL in stored value") << "[Position]\r\nTop=" + QByteArray(2, '\0') + "7\r\n"
            << "Position" << "Top" << "9" << refused;
        QTest::newRow("UTF-16") << QByteArray(reinterpret_cast<const char *>(utf16.utf16()), utf16.size() * 2)
                                << "Position" << "Top" << "9" << refused;
        QTest::newRow("2 MB line") << "[Position]\r\nTop=" + QByteArray(2 << 20, '7') + "\r\n"
            << "Position" << "Top" << "9" << refused;
    }

    void writes()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        writeAll(file_, before);
        QCOMPARE(io_.WriteStr(section, key, value), !after.isNull());
        QCOMPARE(readAll(file_), after.isNull() ? before : after);
        QCOMPARE(io_.ReadStr(section, key, "-"), after.isNull() || value.isEmpty() ? "-" : value);
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
        struct stat st {};
        QVERIFY(stat(QFile::encodeName(fifo).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
        QVERIFY(QDir(folder).isEmpty() && !QFileInfo::exists(tmp_.filePath("missing")));
    }

    void readOnlyFolderKeepsOldFile()
    {
        const QString dir = tmp_.filePath("readonly"), path = dir + "/settings.ini";
        QVERIFY(QDir().mkpath(dir));
        writeAll(path, kWindowsFile);
        // The file itself may be written: only a write in place could succeed.
        QVERIFY(QFile::setPermissions(path, QFile::Permissions(0x6666)));
        QVERIFY(QFile::setPermissions(dir, QFile::Permissions(0x5555)));
        io_.setFileName(path);
        const auto write = [&] { return io_.WriteStr("Position", "Top", "9"); };
        QCOMPARE(geteuid() == 0 ? runAsNobody(write) : int(!write()), 1);
        QFile::setPermissions(dir, QFile::Permissions(0x7755));
        QCOMPARE(readAll(path), kWindowsFile);
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList("settings.ini"));
    }

    void permissionsOwnerAndLinkKept()
    {
        const QString target = tmp_.filePath("target.ini");
        writeAll(target, "[A]\r\nx=1\r\n");
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        const bool root = geteuid() == 0;
        if (root)
            QCOMPARE(chown(QFile::encodeName(target).constData(), kNobody, kNobody), 0);
        QVERIFY(QFile::link(target, file_));
        QVERIFY(io_.WriteStr("A", "x", "2"));
        QVERIFY(QFileInfo(file_).isSymLink());
        QCOMPARE(readAll(target), "[A]\r\nx=2\r\n");
        struct stat st {};
        QCOMPARE(stat(QFile::encodeName(target).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0640u);
        QCOMPARE(st.st_uid, root ? kNobody : geteuid());
    }

    // Reads give back at most 1023 bytes, never half a character.
    void longValueCutAtCharacter()
    {
        for (const auto &[character, kept] : {std::pair{QString("a"), 1023}, std::pair{QString("あ"), 341}}) {
            QVERIFY(io_.WriteStr("Folder", "MP3", character.repeated(2000)));
            QCOMPARE(io_.ReadStr("Folder", "MP3", ""), character.repeated(kept));
        }
    }

    void settingsFilePath_data()
    {
        QTest::addColumn<QString>("folder");   // relative to the temporary folder unless absolute
        QTest::addColumn<bool>("beside");      // the file goes in that folder, not the config folder
        QTest::newRow("writable folder") << "bin" << true;
        QTest::newRow("ending in /") << "bin/" << true;
        QTest::newRow("read-only folder") << "readonly" << false;
        QTest::newRow("no such folder") << "nothere" << false;
        // Also when the process may write there, as root may.
        QTest::newRow("/usr/bin") << "/usr/bin" << false;
        QTest::newRow("/usr/local/bin/") << "/usr/local/bin/" << false;
    }

    void settingsFilePath()
    {
        QFETCH(QString, folder);
        QFETCH(bool, beside);
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
