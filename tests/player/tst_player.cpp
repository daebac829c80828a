// The player window over the real binding: libmpg123 decodes, and out123
// writes the sound into a WAV file instead of the sound server.

#include "frmfileselect.h"
#include "frmplay.h"
#include "inifile_io.h"
#include "messagebox.h"
#include "testdata.h"
#include "vbmp3.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <climits>
#include <memory>

namespace {

int threadCount()
{
    return int(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// True when the WAV file holds a sample that is not silence.
bool hasSound(const QString &wav)
{
    const QByteArray bytes = testdata::readAll(wav);
    return bytes.size() > 44 && bytes.mid(44).count('\0') < bytes.size() - 44;
}

std::pair<int, int> channels()
{
    std::int32_t left = -1, right = -1;
    vbmp3_getVolume(left, right);
    return {left, right};
}

} // namespace

class tst_Player : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(vbmp3_init() != 0);
    }

    void cleanupTestCase()
    {
        mp3lib::setWavOutputForTesting(nullptr);
        vbmp3_free();
    }

    void init()
    {
        tmp_ = std::make_unique<QTemporaryDir>();
        wav_ = tmp_->filePath("out/sound.wav");
        QVERIFY(QDir().mkpath(tmp_->filePath("out")));
        mp3lib::setWavOutputForTesting(QFile::encodeName(wav_).constData());
        messages_.clear();
        ui::setMessageSinkForTesting([this](const QString &text, QMessageBox::Icon icon) {
            messages_.append(icon == QMessageBox::Warning ? text : "wrong icon: " + text);
        });
        ini_.setFileName(tmp_->filePath("dorvasu.ini"));
        sMP3Folder_ = QFile::encodeName(tmp_->path());
    }

    void cleanup()
    {
        fileSelect_.reset();
        ui::setMessageSinkForTesting({});
        tmp_.reset();
    }

    void barSetsBothChannels_data()
    {
        QTest::addColumn<int>("left"); // the channels before the window opens
        QTest::addColumn<int>("right");
        QTest::addColumn<int>("action"); // a key, or -1: drag, -2: none
        QTest::addColumn<int>("volume");
        QTest::newRow("opened at 30 and 71") << 30 << 71 << -2 << 50;
        QTest::newRow("opened at 100 and 99") << 100 << 99 << -2 << 99;
        QTest::newRow("Home: thumb at the top") << 50 << 50 << int(Qt::Key_Home) << 100;
        QTest::newRow("End: thumb at the bottom") << 50 << 50 << int(Qt::Key_End) << 0;
        QTest::newRow("Up: a line up") << 50 << 50 << int(Qt::Key_Up) << 51;
        QTest::newRow("Page Up: a page up") << 50 << 50 << int(Qt::Key_PageUp) << 60;
        QTest::newRow("thumb dragged to the top") << 50 << 50 << -1 << 100;
    }

    void barSetsBothChannels()
    {
        QFETCH(int, left);
        QFETCH(int, right);
        QFETCH(int, action);
        QFETCH(int, volume);
        vbmp3_setVolume(left, right);
        frmPLay player;
        player.show();
        QVERIFY(QTest::qWaitForWindowExposed(&player));
        QTRY_COMPARE(QApplication::focusWidget(), player.cmdStop);
        QScrollBar *bar = player.vsbVol;
        if (action >= 0) {
            bar->setFocus();
            QTest::keyClick(bar, Qt::Key(action));
        } else if (action == -1) { // while dragging the channels follow the thumb
            bar->setSliderDown(true);
            bar->setSliderPosition(bar->minimum());
            QCOMPARE(channels(), std::make_pair(100, 100));
            bar->setSliderDown(false);
        }
        QCOMPARE(player.volume(), volume);
        QCOMPARE(channels(), std::make_pair(volume, volume));
        QCOMPARE(frmPLay::volumeFromChannels(INT_MAX, INT_MAX), 100); // no overflow
        QCOMPARE(frmPLay::volumeFromChannels(INT_MIN, INT_MIN), 0);
    }

    void nothingPlaysForFilesThatCannotPlay_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("deleted after it was listed") << "deleted" << QStringList{};
        QTest::newRow("replaced by a FIFO") << "fifo" << QStringList{};
        QTest::newRow("text named .mp3") << "text" << QStringList{"Open Error"};
    }

    void nothingPlaysForFilesThatCannotPlay()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, messages);
        const QString path = testdata::copySample(tmp_->path(), testdata::kStereoMpeg1, "song.mp3");
        if (kind == u"text")
            testdata::writeAll(path, "This is not an MP3 file.\n");
        QVERIFY(showFileSelect());
        if (kind != u"text")
            QVERIFY(QFile::remove(path));
        if (kind == u"fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        QVERIFY(!doubleClick("song.mp3", [](frmPLay &) {}));
        QCOMPARE(messages_, messages);
        QVERIFY(!hasSound(wav_));
    }

    void doubleClickPlaysUntilStopOrTheEnd()
    {
        testdata::copySample(tmp_->path(), testdata::kNoise3s, "noise.mp3");
        testdata::copySample(tmp_->path(), testdata::kStereoMpeg1, "tone.mp3");
        QVERIFY(showFileSelect());
        const int threadsBefore = threadCount();

        bool stoppedWhilePlaying = false;
        QPoint offCentre;
        QVERIFY(doubleClick("noise.mp3", [&](frmPLay &player) {
            offCentre = player.frameGeometry().center() - fileSelect_->frameGeometry().center();
            if (!QTest::qWaitFor([&] { return QFileInfo(wav_).size() > 44 + 16384; }))
                return;
            stoppedWhilePlaying = QFileInfo(wav_).size() < 3 * 44100 * 4;
            QTest::mouseClick(player.cmdStop, Qt::LeftButton);
        }));
        QVERIFY(hasSound(wav_));
        QVERIFY(stoppedWhilePlaying);
        QVERIFY(offCentre.manhattanLength() <= 3);
        QVERIFY(messages_.isEmpty());
        QTRY_COMPARE(threadCount(), threadsBefore);

        // The next file plays in a window built anew, which stays open after
        // the end of the file (1 s, all written but the output's last buffer).
        QVERIFY(QFile::remove(wav_));
        bool openAfterEnd = false;
        QVERIFY(doubleClick("tone.mp3", [&](frmPLay &player) {
            if (!QTest::qWaitFor([&] { return QFileInfo(wav_).size() >= 44 + 44100 * 4 - 8192; }, 20000))
                return;
            QTest::qWait(300); // a moment for the end of the file to pass
            openAfterEnd = player.isVisible();
            player.close();
        }));
        QVERIFY(openAfterEnd);
        QVERIFY(hasSound(wav_));
        QTRY_COMPARE(threadCount(), threadsBefore);
    }

private:
    // The file selection window on the test folder, shown.
    bool showFileSelect()
    {
        fileSelect_ = std::make_unique<frmFileSelect>(new QListWidget(&host_), sMP3Folder_, ini_, 0,
                                                      0, QIcon(), tmp_->path());
        fileSelect_->show();
        return QTest::qWaitForWindowExposed(fileSelect_.get());
    }

    // Double-clicks File1's entry `name`; `whilePlaying` runs while the
    // player window is shown and closes it. False when no player was shown.
    bool doubleClick(const QString &name, const std::function<void(frmPLay &)> &whilePlaying)
    {
        QListWidget *list = fileSelect_->File1;
        const QList<QListWidgetItem *> items = list->findItems(name, Qt::MatchExactly);
        if (items.size() != 1) {
            QTest::qFail(qPrintable("File1 does not list " + name), __FILE__, __LINE__);
            return false;
        }
        const QRect rect = list->visualItemRect(items.first());

        // The player runs modally inside the double-click; a timer reaches it.
        bool shown = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            auto *player = qobject_cast<frmPLay *>(QApplication::activeModalWidget());
            if (!player || !player->isVisible() || shown)
                return;
            shown = true;
            whilePlaying(*player);
            if (player->isVisible()) // a check failed half-way: do not hang
                player->reject();
        });
        watch.start(10);
        // As the window system delivers it: press, release, double-click, release.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, rect.center());
        return shown;
    }

    std::unique_ptr<QTemporaryDir> tmp_;
    QString wav_;
    QStringList messages_;
    QWidget host_;
    inifile_IO ini_;
    QByteArray sMP3Folder_;
    std::unique_ptr<frmFileSelect> fileSelect_;
};

QTEST_MAIN(tst_Player)
#include "tst_player.moc"
