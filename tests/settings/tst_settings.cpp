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
    "; Dorvasu\r\n"
    "orphan=before any section\r\n"
    "\r\n"
    "[position]\r\n"
    "Top = 1500 \r\n"
    "LEFT=\t2000\r\n"
    "FileTop=\"  300 \"\r\n"
    "\r\n"
    "[Unknown]\r\n"
    "Thing=keep me\r\n"
    "garbage without equals sign\r\n"
    "\r\n"
    "[Folder]\r\n"
    "MP3=\"C:\\Music\\J-Pop\"\r\n"
    "; history follows\r\n"
    "[DirList]\r\n"
    "00=C:\\Music\r\n";

constexpr uid_t kNobody = 65534;

// Runs `fn` in a child process as uid/gid 65534 and gives its exit code;
// -1 when the child cannot become that user.
int runAsNobody(const std::function<bool()> &fn)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)
            _exit(99);
        _exit(fn() ? 0 : 1);
    }
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
    void init();
    void missingFileReadsDefaultsAndFirstWritesCreateIt();
    void shorterHistoryKeepsLaterKeys();
    void readInt_data();
    void readInt();
    void windowsFileReads();
    void writes_data();
    void writes();
    void refusedWrites_data();
    void refusedWrites();
    void hostileFiles_data();
    void hostileFiles();
    void unusablePaths();
    void readOnlyFolderKeepsOldFile();
    void permissionsOwnerAndLinkKept();
    void longValueCutAtCharacter_data();
    void longValueCutAtCharacter();
    void settingsFilePath_data();
    void settingsFilePath();
    void installedProgramKeepsSettingsPerUser_data();
    void installedProgramKeepsSettingsPerUser();
};

void TestSettings::init()
{
    QVERIFY(tmp_.isValid());
    QFile::setPermissions(tmp_.path(), QFile::Permissions(0x7755));   // others may enter
    file_ = tmp_.filePath(QStringLiteral("%1.ini").arg(QTest::currentTestFunction()));
    QFile::remove(file_);
    io_.setFileName(file_);
}

void TestSettings::missingFileReadsDefaultsAndFirstWritesCreateIt()
{
    QCOMPARE(io_.ReadStr("Position", "Top", "0"), "0");
    QCOMPARE(io_.ReadStr("DirList", "00", ""), "");
    QCOMPARE(io_.ReadInt("Position", "Top", 7), 7);
    QVERIFY(!QFile::exists(file_));   // reads never create it

    QVERIFY(io_.WriteStr("Position", "Top", "1500"));
    QVERIFY(io_.WriteStr("Position", "Left", "-30.5"));
    QVERIFY(io_.WriteStr("Folder", "MP3", ""));
    QCOMPARE(readAll(file_), "[Position]\r\nTop=1500\r\nLeft=-30.5\r\n\r\n[Folder]\r\nMP3=\r\n");
    QCOMPARE(io_.ReadStr("Folder", "MP3", "unset"), "unset");   // empty reads as missing
    QCOMPARE(io_.ReadStr("position", "TOP", "0"), "1500");
}

void TestSettings::shorterHistoryKeepsLaterKeys()
{
    const auto key = [](int i) { return QString::asprintf("%02d", i); };
    for (int i = 0; i < 5; ++i)
        QVERIFY(io_.WriteStr("DirList", key(i), "/old" + key(i)));
    for (int i = 0; i < 3; ++i)
        QVERIFY(io_.WriteStr("DirList", key(i), "/new" + key(i)));
    QStringList read;
    for (int i = 0; i < 6; ++i)
        read << io_.ReadStr("DirList", key(i), "");
    QCOMPARE(read, QStringList({"/new00", "/new01", "/new02", "/old03", "/old04", ""}));
}

void TestSettings::readInt_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("expected");
    const int def = -99;
    QTest::newRow("half down to even") << QByteArray("12.5") << 12;
    QTest::newRow("half up to even") << QByteArray("13.5") << 14;
    QTest::newRow("negative half") << QByteArray("-2.5") << -2;
    QTest::newRow("minus half is zero") << QByteArray("-0.5") << 0;
    QTest::newRow("just above half") << QByteArray("0.50000000000000000001") << 1;
    QTest::newRow("highest plus half") << QByteArray("32767.5") << def;
    QTest::newRow("too big") << QByteArray("40000") << def;
    QTest::newRow("blanks inside quotes") << QByteArray("\" 7 \"") << 7;
    QTest::newRow("exponent") << QByteArray("1e2") << 100;
    QTest::newRow("empty") << QByteArray("") << def;
    QTest::newRow("letters") << QByteArray("abc") << def;
    QTest::newRow("comma") << QByteArray("1,5") << def;
}

void TestSettings::readInt()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, expected);
    writeAll(file_, "[S]\r\nk=" + stored + "\r\n");
    QCOMPARE(io_.ReadInt("S", "k", -99), expected);
}

void TestSettings::windowsFileReads()
{
    writeAll(file_, kWindowsFile);
    QCOMPARE(io_.ReadStr("Position", "top", "-"), "1500");          // other case, blanks
    QCOMPARE(io_.ReadStr("POSITION", "Left", "-"), "2000");         // tab after "="
    QCOMPARE(io_.ReadStr("Position", "FileTop", "-"), "  300 ");    // quotes keep blanks
    QCOMPARE(io_.ReadStr("Folder", "MP3", "-"), "C:\\Music\\J-Pop");
    QCOMPARE(io_.ReadStr("Unknown", "Thing", "-"), "keep me");
    QCOMPARE(io_.ReadStr("Position", "orphan", "-"), "-");          // belongs to no section
    QCOMPARE(io_.ReadStr("Unknown", "garbage without equals sign", "-"), "-");
}

void TestSettings::writes_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");
    const QByteArray w = kWindowsFile;
    auto replaced = [&](const char *from, const char *to) { return QByteArray(w).replace(from, to); };

    QTest::newRow("value replaced in its line")
        << w << "Position" << "TOP" << "20" << replaced("Top = 1500 \r\n", "Top=20\r\n");
    QTest::newRow("new key ends its section")
        << w << "POSITION" << "FileLeft" << "5"
        << replaced("FileTop=\"  300 \"\r\n", "FileTop=\"  300 \"\r\nFileLeft=5\r\n");
    QTest::newRow("new key before a comment")
        << w << "folder" << "Sub" << "x" << replaced("J-Pop\"\r\n", "J-Pop\"\r\nSub=x\r\n");
    QTest::newRow("new section at the end")
        << w << "Player" << "Vol" << "50" << w + "\r\n[Player]\r\nVol=50\r\n";
    QTest::newRow("no final line break, same section")
        << QByteArray("[A]\r\nx=1") << "A" << "y" << "2" << QByteArray("[A]\r\nx=1\r\ny=2\r\n");
    QTest::newRow("header only, blank lines stay after")
        << QByteArray("[A]\r\n\r\n[B]\r\n") << "A" << "x" << "1" << QByteArray("[A]\r\nx=1\r\n\r\n[B]\r\n");
    QTest::newRow("LF file stays LF")
        << QByteArray("[A]\nx=1\n") << "A" << "y" << "2" << QByteArray("[A]\nx=1\ny=2\n");
    QTest::newRow("first of duplicate keys")
        << QByteArray("[A]\r\nk=1\r\nk=2\r\n") << "A" << "K" << "3" << QByteArray("[A]\r\nk=3\r\nk=2\r\n");
    QTest::newRow("BOM kept")
        << QByteArray("\xEF\xBB\xBF[A]\r\nx=1\r\n") << "a" << "x" << "2"
        << QByteArray("\xEF\xBB\xBF[A]\r\nx=2\r\n");
    QTest::newRow("empty value keeps the key")
        << QByteArray("[A]\r\nx=1\r\n") << "A" << "x" << "" << QByteArray("[A]\r\nx=\r\n");
    QTest::newRow("blanks kept by quotes")
        << QByteArray() << "A" << "x" << " /music/ old " << QByteArray("[A]\r\nx=\" /music/ old \"\r\n");
    QTest::newRow("same value leaves the file alone")
        << QByteArray("[A]\n x = 1 ") << "A" << "x" << "1" << QByteArray("[A]\n x = 1 ");
    QTest::newRow("Japanese names and value")
        << QByteArray("[A]\r\n") << "設定" << "フォルダ" << "/音楽/邦楽 ベスト"
        << QByteArray("[A]\r\n\r\n[設定]\r\nフォルダ=/音楽/邦楽 ベスト\r\n");
}

void TestSettings::writes()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);
    writeAll(file_, before);
    QVERIFY(io_.WriteStr(section, key, value));
    QCOMPARE(readAll(file_), after);
    QCOMPARE(io_.ReadStr(section, key, "(default)"), value.isEmpty() ? "(default)" : value);
}

void TestSettings::refusedWrites_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("] in section") << "Pos]ition" << "Top" << "1";
    QTest::newRow("= in key") << "Position" << "To=p" << "1";
    QTest::newRow("line break in key") << "Position" << "Top\n[Evil]" << "1";
    QTest::newRow("CR LF in value") << "Folder" << "MP3" << "/a\r\n[Position]\r\nTop=9";
    QTest::newRow("NUL in value") << "Folder" << "MP3" << QString("/a") + QChar(0) + "b";
    QTest::newRow("key like a comment") << "Folder" << ";MP3" << "1";
    QTest::newRow("key like a header") << "Folder" << "[x" << "]";
    QTest::newRow("empty key") << "Folder" << " " << "1";
}

void TestSettings::refusedWrites()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    writeAll(file_, kWindowsFile);
    QVERIFY(!io_.WriteStr(section, key, value));
    QCOMPARE(readAll(file_), kWindowsFile);
}

void TestSettings::hostileFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("left");      // Position/Left as read
    QTest::addColumn<bool>("writable");
    QByteArray binary(256 * 1024, '\0');
    QRandomGenerator rng(4711);
    rng.fillRange(reinterpret_cast<quint32 *>(binary.data()), binary.size() / 4);
    QByteArray text = binary;
    text.replace('\0', '\x01').replace('=', '-').replace('[', '(');
    const QString utf16 = QChar(0xFEFF) + QStringLiteral("[Position]\r\nLeft=5\r\n");

    QTest::newRow("random bytes") << binary << "d" << false;
    QTest::newRow("random bytes without NUL") << text << "d" << true;
    QTest::newRow("NUL in value") << "[Position]\r\nLeft=" + QByteArray(2, '\0') + "7\r\n" << "d" << false;
    QTest::newRow("UTF-16") << QByteArray(reinterpret_cast<const char *>(utf16.utf16()), utf16.size() * 2)
                            << "d" << false;
    QTest::newRow("2 MB line") << "[Position]\r\nLeft=5\r\nTop=" + QByteArray(2 << 20, '7') + "\r\n"
                               << "5" << false;
}

void TestSettings::hostileFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, left);
    QFETCH(bool, writable);
    writeAll(file_, bytes);
    QCOMPARE(io_.ReadStr("Position", "Left", "d"), left);
    QCOMPARE(io_.ReadInt("Position", "Top", -1), -1);
    QCOMPARE(io_.WriteStr("Position", "Top", "9"), writable);
    const QByteArray now = readAll(file_);
    QVERIFY(writable ? now.startsWith(bytes) && now.size() > bytes.size() : now == bytes);
}

void TestSettings::unusablePaths()
{
    const QString folder = tmp_.filePath("folder"), fifo = tmp_.filePath("fifo");
    QVERIFY(QDir().mkdir(folder));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
    for (const QString &path : {folder, fifo, tmp_.filePath("missing/settings.ini"), QString()}) {
        io_.setFileName(path);
        QCOMPARE(io_.ReadStr("Position", "Top", "0"), "0");   // a FIFO must not block
        QCOMPARE(io_.ReadInt("Position", "Top", 3), 3);
        QVERIFY(!io_.WriteStr("Position", "Top", "1"));
    }
    struct stat st {};
    QVERIFY(stat(QFile::encodeName(fifo).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
    QVERIFY(QDir(folder).isEmpty() && !QFileInfo::exists(tmp_.filePath("missing")));
}

void TestSettings::readOnlyFolderKeepsOldFile()
{
    const QString dir = tmp_.filePath("readonly");
    QVERIFY(QDir().mkpath(dir));
    const QString path = dir + "/settings.ini";
    writeAll(path, kWindowsFile);
    // The file itself may be written: only a write in place could succeed.
    QVERIFY(QFile::setPermissions(path, QFile::Permissions(0x6666)));
    QVERIFY(QFile::setPermissions(dir, QFile::Permissions(0x5555)));
    io_.setFileName(path);
    const auto write = [&] { return io_.WriteStr("Position", "Top", "9"); };
    if (geteuid() == 0)
        QCOMPARE(runAsNobody(write), 1);
    else
        QVERIFY(!write());
    QFile::setPermissions(dir, QFile::Permissions(0x7755));
    QCOMPARE(readAll(path), kWindowsFile);
    QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList("settings.ini"));
}

void TestSettings::permissionsOwnerAndLinkKept()
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
    if (root)
        QCOMPARE(st.st_uid, kNobody);
}

void TestSettings::longValueCutAtCharacter_data()
{
    QTest::addColumn<QString>("character");
    QTest::addColumn<int>("keptChars");
    QTest::newRow("1 byte") << "a" << 1023;
    QTest::newRow("2 bytes") << "é" << 511;
    QTest::newRow("3 bytes") << "あ" << 341;
}

void TestSettings::longValueCutAtCharacter()
{
    QFETCH(QString, character);
    QFETCH(int, keptChars);
    QVERIFY(io_.WriteStr("Folder", "MP3", character.repeated(2000)));
    QCOMPARE(io_.ReadStr("Folder", "MP3", ""), character.repeated(keptChars));
}

void TestSettings::settingsFilePath_data()
{
    QTest::addColumn<QString>("folder");   // relative to the temporary folder
    QTest::addColumn<bool>("writable");
    QTest::newRow("writable folder") << "bin" << true;
    QTest::newRow("ending in /") << "bin/" << true;
    QTest::newRow("no such folder") << "nothere" << false;
    QTest::newRow("read-only folder") << "readonly" << false;
}

void TestSettings::settingsFilePath()
{
    QFETCH(QString, folder);
    QFETCH(bool, writable);
    const QString base = tmp_.path() + '/';
    QDir().mkpath(base + "bin");
    QDir().mkpath(base + "readonly");
    QDir().mkpath(base + "config");
    QFile::setPermissions(base + "readonly", QFile::Permissions(0x5555));
    QFile::setPermissions(base + "config", QFile::Permissions(0x7777));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(base + "config"));
    QDir(base + "config/dorvasu").removeRecursively();

    const QString expected = writable ? base + "bin/prog.ini" : base + "config/dorvasu/prog.ini";
    const auto check = [&] {
        return ::settingsFilePath(base + folder, "prog") == expected
            && (writable || QFileInfo(base + "config/dorvasu").isDir());
    };
    // Root may write anywhere: a read-only folder stops only other users.
    if (folder == "readonly" && geteuid() == 0)
        QCOMPARE(runAsNobody(check), 0);
    else
        QVERIFY(check());
}

void TestSettings::installedProgramKeepsSettingsPerUser_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("/usr/bin") << "/usr/bin";
    QTest::newRow("/usr/local/bin/") << "/usr/local/bin/";
}

// Also when the process may write there, as root may.
void TestSettings::installedProgramKeepsSettingsPerUser()
{
    QFETCH(QString, folder);
    const QString config = tmp_.path() + "/config";
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    QCOMPARE(::settingsFilePath(folder, "prog"), config + "/dorvasu/prog.ini");
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
