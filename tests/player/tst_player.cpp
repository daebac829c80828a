// The player window over the real binding: libmpg123 decodes, and out123
// writes the sound into a WAV file instead of the sound server.

#include "frmfileselect.h"
#include "frmplay.h"
#include "inifile_io.h"
#include "messagebox.h"
#include "testdata.h"
#include "twips.h"
#include "vbmp3.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <climits>
#include <memory>

namespace {

struct Message {
    QString text;
    QMessageBox::Icon icon;
};

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

qint64 fileSize(const QString &path)
{
    return QFileInfo(path).size();
}

// True when the WAV file holds at least one sample that is not silence.
bool hasSound(const QString &wav)
{
    const QByteArray bytes = testdata::readAll(wav);
    if (bytes.size() <= 44)
        return false;
    for (qsizetype i = 44; i < bytes.size(); ++i) {
        if (bytes.at(i) != 0)
            return true;
    }
    return false;
}

std::pair<int, int> channelVolumes()
{
    std::int32_t left = -1;
    std::int32_t right = -1;
    vbmp3_getVolume(left, right);
    return {left, right};
}

// Clicks a part of a scroll bar (an arrow, a trough side) where the style
// draws it.
void clickScrollBar(QScrollBar *bar, QStyle::SubControl part)
{
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    option.subControls = QStyle::SC_All;
    const QRect rect = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, part, bar);
    QTest::mouseClick(bar, Qt::LeftButton, {}, rect.center());
}

} // namespace

class tst_Player : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void volumeFromChannels_data();
    void volumeFromChannels();
    void openingSetsBothChannelsToTheBar_data();
    void openingSetsBothChannelsToTheBar();
    void barSetsBothChannels_data();
    void barSetsBothChannels();
    void windowAsSpecified();
    void nothingPlaysForFilesThatCannotPlay_data();
    void nothingPlaysForFilesThatCannotPlay();
    void doubleClickPlaysUntilStop();
    void windowStaysOpenAfterTheEnd();

private:
    // The file selection window on the test folder, shown.
    std::unique_ptr<frmFileSelect> openFileSelect();
    // Double-clicks File1's entry `name`; `whilePlaying` runs while the
    // player window is shown and must close it. False when no player window
    // was shown.
    bool doubleClick(frmFileSelect &w, const QString &name,
                     const std::function<void(frmPLay &)> &whilePlaying);

    std::unique_ptr<QTemporaryDir> tmp_;
    QString wav_;
    QList<Message> messages_;
    QWidget host_;
    QListWidget *lstMP3Files_ = nullptr;
    inifile_IO ini_;
    QString sMP3Folder_;
};

void tst_Player::initTestCase()
{
    QVERIFY(vbmp3_init() != 0);
    lstMP3Files_ = new QListWidget(&host_);
}

void tst_Player::cleanupTestCase()
{
    mp3lib::setWavOutputForTesting(nullptr);
    vbmp3_free();
}

void tst_Player::init()
{
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    wav_ = tmp_->filePath(QStringLiteral("out/sound.wav"));
    QVERIFY(QDir().mkpath(QFileInfo(wav_).path()));
    mp3lib::setWavOutputForTesting(QFile::encodeName(wav_).constData());
    messages_.clear();
    ui::setMessageSinkForTesting(
        [this](const QString &text, QMessageBox::Icon icon) { messages_.append({text, icon}); });
    vbmp3_setVolume(100, 100);
    ini_.setFileName(tmp_->filePath(QStringLiteral("dorvasu.ini")));
    sMP3Folder_ = tmp_->path();
}

void tst_Player::cleanup()
{
    ui::setMessageSinkForTesting({});
    tmp_.reset();
}

void tst_Player::volumeFromChannels_data()
{
    QTest::addColumn<qint64>("left");
    QTest::addColumn<qint64>("right");
    QTest::addColumn<int>("bar");

    QTest::newRow("30 and 71: fraction dropped") << qint64(30) << qint64(71) << 50;
    QTest::newRow("equal") << qint64(80) << qint64(80) << 80;
    QTest::newRow("0 and 1") << qint64(0) << qint64(1) << 0;
    QTest::newRow("full") << qint64(100) << qint64(100) << 100;
    QTest::newRow("above the bar") << qint64(150) << qint64(250) << 100;
    QTest::newRow("below the bar") << qint64(-20) << qint64(-1) << 0;
    QTest::newRow("largest channel values") << qint64(INT_MAX) << qint64(INT_MAX) << 100;
    QTest::newRow("smallest channel values") << qint64(INT_MIN) << qint64(INT_MIN) << 0;
}

void tst_Player::volumeFromChannels()
{
    QFETCH(qint64, left);
    QFETCH(qint64, right);
    QFETCH(int, bar);
    QCOMPARE(frmPLay::volumeFromChannels(left, right), bar);
}

void tst_Player::openingSetsBothChannelsToTheBar_data()
{
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("right");
    QTest::addColumn<int>("bar");

    QTest::newRow("30 and 71") << 30 << 71 << 50;
    QTest::newRow("0 and 1") << 0 << 1 << 0;
    QTest::newRow("100 and 99") << 100 << 99 << 99;
    QTest::newRow("both full") << 100 << 100 << 100;
    QTest::newRow("both silent") << 0 << 0 << 0;
}

void tst_Player::openingSetsBothChannelsToTheBar()
{
    QFETCH(int, left);
    QFETCH(int, right);
    QFETCH(int, bar);

    vbmp3_setVolume(left, right);
    QCOMPARE(channelVolumes(), std::make_pair(left, right));
    frmPLay player;
    player.show();
    QVERIFY(QTest::qWaitForWindowExposed(&player));
    QCOMPARE(player.volume(), bar);
    QCOMPARE(channelVolumes(), std::make_pair(bar, bar));
    player.reject();
}

void tst_Player::barSetsBothChannels_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("volume"); // starting from 50

    QTest::newRow("thumb to the top (Home)") << "Home" << 100;
    QTest::newRow("thumb to the bottom (End)") << "End" << 0;
    QTest::newRow("Up key") << "Up" << 51;
    QTest::newRow("Down key") << "Down" << 49;
    QTest::newRow("Page Up") << "PageUp" << 60;
    QTest::newRow("Page Down") << "PageDown" << 40;
    QTest::newRow("top arrow") << "TopArrow" << 51;
    QTest::newRow("bottom arrow") << "BottomArrow" << 49;
    QTest::newRow("trough above the thumb") << "TroughAbove" << 60;
    QTest::newRow("trough below the thumb") << "TroughBelow" << 40;
    QTest::newRow("thumb dragged to the top") << "DragTop" << 100;
}

void tst_Player::barSetsBothChannels()
{
    QFETCH(QString, action);
    QFETCH(int, volume);

    vbmp3_setVolume(50, 50);
    frmPLay player;
    player.show();
    QVERIFY(QTest::qWaitForWindowExposed(&player));
    QCOMPARE(player.volume(), 50);
    QScrollBar *bar = player.findChild<QScrollBar *>(QStringLiteral("vsbVol"));
    QVERIFY(bar);

    const QHash<QString, Qt::Key> keys{{"Home", Qt::Key_Home},     {"End", Qt::Key_End},
                                       {"Up", Qt::Key_Up},         {"Down", Qt::Key_Down},
                                       {"PageUp", Qt::Key_PageUp}, {"PageDown", Qt::Key_PageDown}};
    if (keys.contains(action)) {
        bar->setFocus();
        QTest::keyClick(bar, keys.value(action));
    } else if (action == u"TopArrow") {
        clickScrollBar(bar, QStyle::SC_ScrollBarSubLine);
    } else if (action == u"BottomArrow") {
        clickScrollBar(bar, QStyle::SC_ScrollBarAddLine);
    } else if (action == u"TroughAbove") {
        clickScrollBar(bar, QStyle::SC_ScrollBarSubPage);
    } else if (action == u"TroughBelow") {
        clickScrollBar(bar, QStyle::SC_ScrollBarAddPage);
    } else if (action == u"DragTop") {
        // While dragging the channels follow the thumb; letting go keeps it.
        bar->setSliderDown(true);
        bar->setSliderPosition(bar->minimum());
        QCOMPARE(channelVolumes(), std::make_pair(100, 100));
        bar->setSliderDown(false);
    }
    QCOMPARE(player.volume(), volume);
    QCOMPARE(channelVolumes(), std::make_pair(volume, volume));
    player.reject();
}

void tst_Player::windowAsSpecified()
{
    QWidget parent;
    parent.setGeometry(200, 150, 400, 300);
    frmPLay player(&parent);
    QCOMPARE(player.objectName(), QStringLiteral("frmPLay"));
    QCOMPARE(player.windowTitle(), QStringLiteral(">> 再生中"));
    QVERIFY(player.windowFlags().testFlag(Qt::Tool));
    QCOMPARE(player.size(), ui::twipsSize(1560, 2205));
    QCOMPARE(player.minimumSize(), player.maximumSize());
    QCOMPARE(player.cmdStop->text(), QStringLiteral("Stop"));
    QVERIFY(player.cmdStop->font().bold());
    QCOMPARE(player.cmdStop->font().pointSize(), 9);
    QCOMPARE(player.cmdStop->nextInFocusChain(), static_cast<QWidget *>(player.vsbVol));
    player.show();
    QVERIFY(QTest::qWaitForWindowExposed(&player));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(player.cmdStop));
    if (!qEnvironmentVariableIsEmpty("DORVASU_SCREENSHOTS")) {
        vbmp3_setVolume(70, 70);
        player.reject();
        frmPLay shown;
        shown.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shown));
        QTest::qWait(200);
        shown.grab().save(qEnvironmentVariable("DORVASU_SCREENSHOTS") + "/player.png");
    }
}

std::unique_ptr<frmFileSelect> tst_Player::openFileSelect()
{
    auto w = std::make_unique<frmFileSelect>(lstMP3Files_, sMP3Folder_, ini_, 0, 0, QIcon(),
                                             tmp_->path());
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get()))
        return nullptr;
    return w;
}

bool tst_Player::doubleClick(frmFileSelect &w, const QString &name,
                             const std::function<void(frmPLay &)> &whilePlaying)
{
    const QList<QListWidgetItem *> found = w.File1->findItems(name, Qt::MatchExactly);
    if (found.size() != 1)
        qFatal("no single entry %s in File1", qPrintable(name));
    const QRect rect = w.File1->visualItemRect(found.first());

    // The player runs modally inside the double-click; a timer reaches it.
    bool shown = false;
    QTimer watch;
    watch.setInterval(10);
    connect(&watch, &QTimer::timeout, this, [&] {
        auto *player = qobject_cast<frmPLay *>(QApplication::activeModalWidget());
        if (!player || !player->isVisible() || shown)
            return;
        shown = true;
        watch.stop();
        whilePlaying(*player);
        if (player->isVisible()) // the check failed half-way: do not hang
            player->reject();
    });
    watch.start();
    // A double-click as the window system delivers it: press, release,
    // double-click, release.
    QTest::mouseClick(w.File1->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(w.File1->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseRelease(w.File1->viewport(), Qt::LeftButton, {}, rect.center());
    watch.stop();
    return shown;
}

void tst_Player::nothingPlaysForFilesThatCannotPlay_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");

    QTest::newRow("deleted after it was listed") << "deleted" << "";
    QTest::newRow("text named .mp3") << "text" << "Open Error";
    QTest::newRow("empty file") << "empty" << "Open Error";
    QTest::newRow("replaced by a folder") << "folder" << "";
    QTest::newRow("replaced by a FIFO") << "fifo" << "";
}

void tst_Player::nothingPlaysForFilesThatCannotPlay()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);

    const QString path = tmp_->filePath(QStringLiteral("song.mp3"));
    testdata::copySample(tmp_->path(), testdata::kStereoMpeg1, QStringLiteral("song.mp3"));
    if (kind == u"text")
        testdata::writeAll(path, "This is not an MP3 file.\n");
    else if (kind == u"empty")
        testdata::writeAll(path, QByteArray());
    auto w = openFileSelect();
    QVERIFY(w);
    if (kind == u"deleted" || kind == u"folder" || kind == u"fifo")
        QVERIFY(QFile::remove(path));
    if (kind == u"folder")
        QVERIFY(QDir().mkdir(path));
    if (kind == u"fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);

    const bool shown = doubleClick(*w, QStringLiteral("song.mp3"), [](frmPLay &) {});
    QVERIFY(!shown);
    if (message.isEmpty()) {
        QVERIFY2(messages_.isEmpty(), qPrintable(messages_.value(0).text));
    } else {
        QCOMPARE(messages_.size(), 1);
        QCOMPARE(messages_.first().text, message);
        QCOMPARE(messages_.first().icon, QMessageBox::Warning);
    }
    QVERIFY(!hasSound(wav_));
    QVERIFY(w->isVisible());
}

void tst_Player::doubleClickPlaysUntilStop()
{
    testdata::copySample(tmp_->path(), testdata::kNoise3s, QStringLiteral("noise.mp3"));
    testdata::copySample(tmp_->path(), testdata::kStereoMpeg1, QStringLiteral("tone.mp3"));
    auto w = openFileSelect();
    QVERIFY(w);
    const int threadsBefore = threadCount();

    bool stoppedWhilePlaying = false;
    QPoint offCentre;
    const bool shown = doubleClick(*w, QStringLiteral("noise.mp3"), [&](frmPLay &player) {
        offCentre = player.frameGeometry().center() - w->frameGeometry().center();
        // Some sound reaches the output before Stop is pressed.
        if (!QTest::qWaitFor([&] { return fileSize(wav_) > 44 + 16384; }))
            return;
        stoppedWhilePlaying = fileSize(wav_) < 3 * 44100 * 4;
        QTest::mouseClick(player.cmdStop, Qt::LeftButton);
    });
    QVERIFY(shown);
    QVERIFY(hasSound(wav_));
    QVERIFY(stoppedWhilePlaying);
    QVERIFY2(offCentre.manhattanLength() <= 3,
             qPrintable(QStringLiteral("%1,%2").arg(offCentre.x()).arg(offCentre.y())));
    QCOMPARE(messages_.size(), 0);
    QTRY_COMPARE(threadCount(), threadsBefore);

    // Stopped and closed: the next file plays in a window built anew.
    QVERIFY(QFile::remove(wav_));
    const bool again = doubleClick(*w, QStringLiteral("tone.mp3"), [&](frmPLay &player) {
        if (QTest::qWaitFor([&] { return fileSize(wav_) > 44 + 16384; }))
            player.close(); // the close box
    });
    QVERIFY(again);
    QVERIFY(hasSound(wav_));
    QTRY_COMPARE(threadCount(), threadsBefore);
}

void tst_Player::windowStaysOpenAfterTheEnd()
{
    testdata::copySample(tmp_->path(), testdata::kStereoMpeg1, QStringLiteral("tone.mp3"));
    auto w = openFileSelect();
    QVERIFY(w);
    bool openAfterEnd = false;
    const bool shown = doubleClick(*w, QStringLiteral("tone.mp3"), [&](frmPLay &player) {
        // One second of 44.1 kHz stereo: all of it written, give or take the
        // output's last buffer.
        if (!QTest::qWaitFor([&] { return fileSize(wav_) >= 44 + 44100 * 4 - 8192; }, 20000))
            return;
        QTest::qWait(300);
        openAfterEnd = player.isVisible();
        QTest::mouseClick(player.cmdStop, Qt::LeftButton);
    });
    QVERIFY(shown);
    QVERIFY(openAfterEnd);
    QVERIFY(hasSound(wav_));
}

QTEST_MAIN(tst_Player)
#include "tst_player.moc"
