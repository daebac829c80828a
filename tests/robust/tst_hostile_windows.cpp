// Hostile files through the windows: each file of the set goes into the main
// window's list with its proposed name, is clicked (tag display), updated
// with typed fields and played from the file selection window, in a child
// process of its own under a watchdog. The child reports what the windows
// showed; the parent checks it and the file on disk. Time is printed, never
// checked.

#include "frmfileselect.h"
#include "frmmain.h"
#include "frmplay.h"
#include "hostile.h"
#include "messagebox.h"
#include "testdata.h"
#include "vbmp3.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

using hostile::kSanitized;

namespace {

// The tag frame's six fields: title, singer, album, year, genre, comment.
using Six = QStringList;
const Six kBefore{"Before", "Before singer", "Before album", "1990", "Blues", "Before"};
const Six kTyped{"Written", "Writer", "Hostile album", "2024", "Rock", "Hostile comment"};

Six shown(const frmMain &w)
{
    return {w.txtTrackName->text(), w.txtArtistName->text(), w.txtAlbumName->text(),
            w.txtYear->text(),      w.cmbGenre->currentText(), w.txtComment->text()};
}

void type(frmMain &w, const Six &f)
{
    for (auto [edit, text] : {std::pair{w.txtTrackName, f[0]}, {w.txtArtistName, f[1]}, {w.txtAlbumName, f[2]},
                              {w.txtYear, f[3]}, {w.txtComment, f[5]}})
        edit->setText(text);
    w.cmbGenre->setCurrentIndex(w.cmbGenre->findText(f[4]));
}

// True when the WAV file holds a sample that is not silence.
bool hasSound(const QString &wav)
{
    const QByteArray bytes = testdata::readAll(wav);
    return bytes.size() > 44 && bytes.mid(44).count('\0') < bytes.size() - 44;
}

// Descriptors of this process open on any of `paths`.
QStringList openOn(const QStringList &paths)
{
    QStringList open;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot))
        if (paths.contains(QFile::symLinkTarget(fds.filePath(fd))))
            open << QFile::symLinkTarget(fds.filePath(fd));
    return open;
}

// What kind of entry `path` is itself, and where a link leads: a write must
// not put a file in the place of a FIFO or link.
QString kind(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("missing");
    return QString::number(st.st_mode & S_IFMT, 8) + u' ' + QFile::symLinkTarget(path);
}

// Plays `path` as a user would: a double-click on its File1 entry when the
// file selection window lists it, else straight through the player. A
// player that opens is stopped with its Stop button once sound has come out.
void play(frmMain &w, const QString &path, const QString &wav, QVariantMap &seen)
{
    const QFileInfo info(path);
    QByteArray folder = QFile::encodeName(info.absolutePath());
    frmFileSelect select(w.lstMP3Files, folder, w.IniFile(), w.topTwips(), w.leftTwips(),
                         w.windowIcon(), w.AppFolder(), &w);
    select.show();
    (void)QTest::qWaitForWindowExposed(&select);
    const QList<QListWidgetItem *> items = select.File1->findItems(info.fileName(), Qt::MatchExactly);
    seen["listed"] = !items.isEmpty();

    bool played = false;
    auto whilePlaying = [&](frmPLay &player) {
        played = true;
        seen["soundWhilePlaying"] = QTest::qWaitFor([&] { return hasSound(wav); }, 10000);
        QTest::mouseClick(player.cmdStop, Qt::LeftButton);
        if (player.isVisible()) // Stop did not close it: do not hang here
            player.reject();
    };
    if (!items.isEmpty()) {
        // The player runs modally inside the double-click; a timer reaches it.
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            auto *player = qobject_cast<frmPLay *>(QApplication::activeModalWidget());
            if (player && player->isVisible() && !played)
                whilePlaying(*player);
        });
        watch.start(10);
        select.File1->scrollToItem(items.first());
        const QPoint at = select.File1->visualItemRect(items.first()).center();
        QWidget *viewport = select.File1->viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
    } else {
        frmPLay player(&w);
        player.sPlayFile = QFile::encodeName(path);
        if (player.MP3_Play()) {
            player.show();
            whilePlaying(player);
        }
    }
    seen["played"] = played;
    seen["playerLeftOpen"] = QApplication::activeModalWidget() != nullptr
                             && QApplication::activeModalWidget() != &select;
    seen["stillPlaying"] = mp3lib::isPlayingForTesting();
    seen["sound"] = hasSound(wav);
    seen["openAfterPlay"] = openOn({info.absoluteFilePath(), QFileInfo(wav).absoluteFilePath()});
    select.reject();
}

// The child's work: the whole way of one file through the windows, with
// what the windows showed and said at each step.
QVariantMap throughTheWindows(const QString &path, const QString &work)
{
    QVariantMap seen;
    QStringList messages;
    ui::setMessageSinkForTesting([&](const QString &text, QMessageBox::Icon) { messages << text; });
    const QString wav = work + QStringLiteral("/sound.wav");
    mp3lib::setWavOutputForTesting(QFile::encodeName(wav).constData());
    frmMain::setAppFolderForTesting(work);
    auto step = [&](const char *name) { seen[QStringLiteral("%1Messages").arg(name)] = std::exchange(messages, {}); };

    frmMain w;
    if (!w.Form_Load())
        return {};
    w.show();
    (void)QTest::qWaitForWindowExposed(&w);
    auto proposed = [&] { return w.lstRename->count() == 1 ? w.lstRename->item(0)->text() : "<none>"; };

    w.lstMP3Files->addItem(path);
    w.MakeRenameList(0);
    seen["proposed"] = proposed();
    step("list");

    // A click on the entry: the tag display.
    type(w, kBefore);
    int clicks = 0;
    QObject::connect(&w, &frmMain::lstMP3FilesClickRaised, [&] { ++clicks; });
    const QPoint at = w.lstMP3Files->visualItemRect(w.lstMP3Files->item(0)).center();
    QTest::mouseClick(w.lstMP3Files->viewport(), Qt::LeftButton, {}, at);
    (void)QTest::qWaitFor([&] { return clicks > 0; }, 5000);
    seen["shown"] = shown(w);
    seen["frameEnabled"] = w.Frame1->isEnabled();
    step("display");

    // Update with typed fields, then the display again.
    type(w, kTyped);
    QTest::mouseClick(w.cmdRewrite, Qt::LeftButton);
    seen["proposedAfterUpdate"] = proposed();
    step("update");
    type(w, kBefore);
    w.lstMP3Files_Click();
    seen["shownAfterUpdate"] = shown(w);
    step("redisplay");

    play(w, path, wav, seen);
    step("play");
    w.close();
    seen["loaded"] = true;
    return seen;
}

} // namespace

class TestHostileWindows : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QList<hostile::HostileFile> files_;
    QByteArray audio_;
    double worstSeconds_ = 0;
    long worstKb_ = 0;
    QString slowest_, largest_;

private slots:
    void initTestCase()
    {
        QVERIFY(QDir(dir_.path()).mkdir("set"));
        files_ = hostile::writeHostileFiles(dir_.filePath("set"));
        audio_ = testdata::readAll(testdata::sample(testdata::kStereoMpeg1));
    }

    void cleanupTestCase()
    {
        qInfo("hostile files through the windows: %lld; slowest %.3f s (%s), most memory %ld KB (%s)%s",
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
        const QString work = dir_.filePath(QStringLiteral("work%1").arg(index));
        QVERIFY(QDir().mkpath(work));
        const QByteArray before = file.regular ? hostile::sha1Of(file.path) : QByteArray();
        const QString kindBefore = kind(file.path);
        const QStringList folderBefore = hostile::entries(dir_.filePath("set"));

        // The parent has built no window and started no thread of its own,
        // so the child's Qt starts from a clean state.
        QVariantMap seen;
        QString why;
        QVERIFY2(hostile::runInChild(kSanitized ? 180 : 60, [&] { return throughTheWindows(file.path, work); },
                                     seen, why),
                 qPrintable(why));
        // Figures first: they are wanted also when a check fails.
        const double seconds = seen["seconds"].toDouble();
        const long kb = long(seen["memoryKb"].toLongLong());
        qInfo("%.3f s, peak memory +%ld KB", seconds, kb);
        if (seconds > worstSeconds_)
            worstSeconds_ = seconds, slowest_ = file.what;
        if (kb > worstKb_)
            worstKb_ = kb, largest_ = file.what;
        QVERIFY2(seen["loaded"].toBool(), "the main window did not load");

        // Proposed name and tag display: the marker or message, the fields
        // left as they were; a readable tag shows the title and singer the
        // proposed name was made of.
        const QStringList readErrors = !file.regular    ? QStringList{"File not found"}
                                       : !file.tagReads ? QStringList{"Tag info error"}
                                                        : QStringList();
        QCOMPARE(seen["proposed"].toString(), file.proposed);
        QCOMPARE(seen["displayMessages"].toStringList(), readErrors);
        QVERIFY(seen["frameEnabled"].toBool());
        const Six display = seen["shown"].toStringList();
        const QString base = file.proposed.chopped(4); // "Singer - Title"
        if (file.tagReads)
            QCOMPARE(display.mid(0, 2), Six({base.section(" - ", 1), base.section(" - ", 0, 0)}));
        else
            QCOMPARE(display, kBefore);

        // Update: written and shown back, or refused with the file untouched
        // (nothing said for an entry that is no regular file).
        QCOMPARE(seen["updateMessages"].toStringList(),
                 file.regular && !file.tagWrites ? QStringList{"Tag write error"} : QStringList());
        if (file.tagWrites) {
            QCOMPARE(seen["proposedAfterUpdate"].toString(), QStringLiteral("Writer - Written.mp3"));
            QCOMPARE(seen["redisplayMessages"].toStringList(), QStringList());
            QCOMPARE(seen["shownAfterUpdate"].toStringList(), kTyped);
            QVERIFY2(testdata::readAll(file.path).contains(audio_), "audio bytes lost or changed");
        } else {
            QCOMPARE(seen["proposedAfterUpdate"].toString(), file.proposed);
            QCOMPARE(seen["redisplayMessages"].toStringList(), readErrors);
            QCOMPARE(seen["shownAfterUpdate"].toStringList(), display);
            if (file.regular)
                QCOMPARE(hostile::sha1Of(file.path), before);
        }
        QCOMPARE(kind(file.path), kindBefore);
        QCOMPARE(hostile::entries(dir_.filePath("set")), folderBefore);

        // Playing: listed and played to sound, or "Open Error" (nothing for
        // an entry that is no regular file) and silence; stopped and closed.
        QCOMPARE(seen["listed"].toBool(), file.regular);
        QCOMPARE(seen["played"].toBool(), file.plays);
        QCOMPARE(seen["playMessages"].toStringList(),
                 file.regular && !file.plays ? QStringList{"Open Error"} : QStringList());
        QCOMPARE(seen["soundWhilePlaying"].toBool(), file.plays);
        QCOMPARE(seen["sound"].toBool(), file.plays);
        QVERIFY(!seen["playerLeftOpen"].toBool() && !seen["stillPlaying"].toBool());
        QCOMPARE(seen["openAfterPlay"].toStringList(), QStringList());
        if (!kSanitized)
            QVERIFY2(kb < 200 * 1024, qPrintable(QString::number(kb) + " KB"));
    }
};

QTEST_MAIN(TestHostileWindows)
#include "tst_hostile_windows.moc"
