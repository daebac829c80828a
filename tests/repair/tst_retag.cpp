// Repairing garbled text and converting to Unicode as a user meets them: the
// real dorvasu-cli on files built byte by byte (tests/data/retag.txt), and
// the preview that the file list's menu opens in the main window.

#include "common/id3build.h"
#include "app/mainwindowfixture.h"
#include "gui/repair/retagdialog.h"
#include "common/table.h"

namespace {

// The frames of the ID3v2 tag at the start of `file`, or empty when what
// follows them is not all padding; its version in `version`.
QByteArray framesOf(const QByteArray &file, const QByteArray &expected, int *version)
{
    const int size = id3build::tagSize(file);
    *version = size ? file[3] : 0;
    const QByteArray body = file.mid(10, size - 10);
    return body.startsWith(expected) && body.mid(expected.size()).count('\0') == body.size() - expected.size()
               ? expected
               : body;
}

} // namespace

class TestRetag : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    WindowFixture f_;

private slots:
    void initTestCase()
    {
        qputenv("HOME", QFile::encodeName(home_.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.path() + "/.config"));
    }

    void init() { TABLE_FAIL_BROKEN_ROW(); }

    void cli_data()
    {
        using table::bytes, table::expr;
        table::addRows("retag.txt", "cli",
                       {expr("start"), expr("frames"), expr("tail"), expr("out"), bytes("command"), bytes("version"), bytes("exit")});
    }

    // The command's output and exit status, and the file's bytes after it.
    void cli()
    {
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, frames);
        QFETCH(QByteArray, tail);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, version);
        QFETCH(QByteArray, exit);
        QTemporaryDir dir;
        testdata::writeAll(dir.filePath("a.mp3"), start);
        QProcess cli;
        cli.setWorkingDirectory(dir.path());
        cli.start(DORVASU_CLI, QString::fromUtf8(command).split(u' '));
        QVERIFY(cli.waitForFinished(60000) && cli.exitStatus() == QProcess::NormalExit);
        const QByteArray err = cli.readAllStandardError();
        QCOMPARE(QString::fromUtf8(cli.readAllStandardOutput()), QString::fromUtf8(out));
        QVERIFY2(cli.exitCode() == exit.toInt(), err.constData());
        const QByteArray after = testdata::readAll(dir.filePath("a.mp3"));
        int v = 0;
        if (frames == "@same") {
            QVERIFY(after == start);
        } else {
            QCOMPARE(framesOf(after, frames, &v).toHex(' '), frames.toHex(' '));
            QCOMPARE(v, version.toInt());
        }
        QVERIFY(after.endsWith(tail) && after.size() == id3build::tagSize(after) + tail.size());
    }

    // The preview shows one row per field that would change, checked but
    // for a close call; Apply writes the checked rows only, and the proposed
    // names follow. Cancel writes nothing.
    void preview()
    {
        f_.setUp();
        f_.load();
        const QString a = f_.file("a.mp3", {"–é–¾‚¯‚Ì‰Ì", "ŽR“c‘¾˜Y", "Best"});
        const QString b = f_.file("b.mp3", {"CafÃ© del Mar", "Plain"});
        const QString c = f_.file("c.mp3", {"Clean", "Queen"});
        f_.w->appendFiles({QFile::encodeName(a), QFile::encodeName(b), QFile::encodeName(c)});
        QCOMPARE(preview(retag::Kind::Repair, 1, true),
                 QStringList({"a.mp3|曲名|–é–¾‚¯‚Ì‰Ì|夜明けの歌", "a.mp3|歌手名|ŽR“c‘¾˜Y|山田太郎",
                              "b.mp3|曲名|CafÃ© del Mar|Café del Mar"}));
        QCOMPARE(WindowFixture::readTag(a).mid(0, 3), QStringList({"夜明けの歌", "ŽR“c‘¾˜Y", "Best"}));
        QCOMPARE(WindowFixture::readTag(b).mid(0, 2), QStringList({"Café del Mar", "Plain"}));
        QCOMPARE(testdata::texts(f_.w->lstRename),
                 QStringList({"ŽR“c‘¾˜Y - 夜明けの歌.mp3", "Plain - Café del Mar.mp3", "Queen - Clean.mp3"}));
        QCOMPARE(f_.w->txtTrackName->text(), "夜明けの歌");   // the tag frame shows the file as written

        const QString d = f_.path("d.mp3"), e = f_.path("e.mp3");
        testdata::writeAll(d, testdata::audio() + id3build::v1("\xc9\xc9"));
        testdata::writeAll(e, testdata::audio() + id3build::v1("\x82\xb3\x82\xad\x82\xe7"));
        f_.w->cmdClear_Click();
        f_.w->appendFiles({QFile::encodeName(d), QFile::encodeName(e)});
        QCOMPARE(preview(retag::Kind::Convert, -1, false),
                 QStringList({"d.mp3|曲名|ÉÉ  (ID3v1, Windows-1252)|ÉÉ  (ID3v2.3, UTF-16) (off)",
                              "e.mp3|曲名|さくら  (ID3v1, CP932)|さくら  (ID3v2.3, UTF-16)"}));
        QVERIFY(!id3build::tagSize(testdata::readAll(d)) && !id3build::tagSize(testdata::readAll(e)));
        QVERIFY(f_.messages.isEmpty());
        f_.tearDown();
    }

private:
    // Runs `kind` from the main window; in its preview unchecks row
    // `uncheck` (-1 none), then applies or cancels. The rows it showed.
    QStringList preview(retag::Kind kind, int uncheck, bool apply)
    {
        QStringList shown;
        const bool opened = WindowFixture::whenModal<RetagDialog>(
            [&](RetagDialog &d) {
                for (int r = 0; r < d.tblRetag->rowCount(); ++r) {
                    QStringList cells;
                    for (int col = 0; col < 4; ++col)
                        cells << d.tblRetag->item(r, col)->text();
                    shown << cells.join(u'|') + (d.tblRetag->item(r, 0)->checkState() == Qt::Checked ? "" : " (off)");
                }
                if (uncheck >= 0)
                    d.tblRetag->item(uncheck, 0)->setCheckState(Qt::Unchecked);
                QTest::mouseClick(apply ? d.cmdApply : d.cmdCancel, Qt::LeftButton);
            },
            [&] { f_.w->retagFiles(kind); });
        return opened ? shown : QStringList{"(no preview)"};
    }
};

QTEST_MAIN(TestRetag)
#include "tst_retag.moc"
