// The player window over the real binding: libmpg123 decodes, and out123
// writes the sound into a WAV file instead of the sound server.

#include "core/settings/inifile_io.h"
#include "app/mainwindowfixture.h"

namespace {

std::pair<int, int> channels()
{
    std::int32_t left = -1, right = -1;
    vbmp3_getVolume(left, right);
    return {left, right};
}

} // namespace

class tst_Player : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;
    QString wav_ = tmp_.filePath("sound.wav");
    QStringList messages_;

private slots:
    void initTestCase()
    {
        QVERIFY(vbmp3_init() != 0);
        mp3lib::setWavOutputForTesting(QFile::encodeName(wav_).constData());
        ui::setMessageSinkForTesting([this](const QString &text, QMessageBox::Icon icon) {
            messages_.append(icon == QMessageBox::Warning ? text : "wrong icon: " + text);
        });
    }

    void cleanupTestCase()
    {
        ui::setMessageSinkForTesting({});
        mp3lib::setWavOutputForTesting(nullptr);
        vbmp3_free();
    }
    void init() { TABLE_FAIL_BROKEN_ROW(); }

    void barSetsBothChannels_data() { table::addRows("player.txt", "volume", {"before", "key", "after"}); }

    void barSetsBothChannels()
    {
        QFETCH(QString, before);
        QFETCH(QString, key);
        QFETCH(QString, after);
        const int volume = after.toInt();
        vbmp3_setVolume(before.section(", ", 0, 0).toInt(), before.section(", ", 1).toInt());
        frmPLay player;
        player.show();
        QVERIFY(QTest::qWaitForWindowExposed(&player));
        QTRY_COMPARE(QApplication::focusWidget(), player.cmdStop);
        QScrollBar *bar = player.vsbVol;
        if (key != u"drag" && key != u"-") {
            bar->setFocus();
            QTest::keyClick(bar, QKeySequence(key)[0].key());
        } else if (key == u"drag") { // while dragging the channels follow the thumb
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

    // A double-click on the file selection window's "song.mp3": deleted, a
    // FIFO or text show no player; the noise plays until Stop, the tone to
    // its end, the window staying open after it.
    void doubleClick_data() { table::addRows("player.txt", "clicks", {"song", "messages"}); }

    void doubleClick()
    {
        QFETCH(QString, song);
        QFETCH(QString, messages);
        const QString file = song;
        const bool plays = file == u"noise" || file == u"tone";
        const QString path = testdata::copySample(tmp_.path(), file == u"noise" ? testdata::kNoise3s : testdata::kStereoMpeg1,
                                                  "song.mp3");
        if (file == u"text")
            testdata::writeAll(path, "This is not an MP3 file.\n");
        // A WAV file in a folder that does not exist: the output cannot be opened.
        mp3lib::setWavOutputForTesting(QFile::encodeName(file == u"no output" ? tmp_.filePath("none/x.wav") : wav_));
        QFile::remove(wav_);
        messages_.clear();
        inifile_IO ini;
        ini.setFileName(tmp_.filePath("dorvasu.ini"));
        QByteArray mp3Folder = QFile::encodeName(tmp_.path());
        frmFileSelect fileSelect(mp3Folder, ini, 0, 0, QIcon(), tmp_.path());
        fileSelect.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fileSelect));
        const int threadsBefore = testdata::threadCount();
        if (file == u"deleted" || file == u"fifo")
            QVERIFY(QFile::remove(path));
        if (file == u"fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);

        // The player runs modally inside the double-click (press, release, double-click, release).
        bool played = false;
        QPoint offCentre;
        QCOMPARE(fileSelect.File1->count(), 1);
        const bool shown = WindowFixture::play(fileSelect, "song.mp3", [&](frmPLay &player) {
            offCentre = player.frameGeometry().center() - fileSelect.frameGeometry().center();
            const qint64 written = file == u"noise" ? 44 + 16384 : 44 + 44100 * 4 - 8192;   // the tone: 1 s
            if (QTest::qWaitFor([&] { return QFileInfo(wav_).size() >= written; }, 20000)) {
                QTest::qWait(file == u"noise" ? 0 : 300);   // a moment for the end of the tone to pass
                played = file == u"noise" ? QFileInfo(wav_).size() < 3 * 44100 * 4 : player.isVisible();
            }
            if (file == u"noise")
                QTest::mouseClick(player.cmdStop, Qt::LeftButton);
            if (player.isVisible())
                player.close();
        });

        QCOMPARE(messages_, messages == u"-" ? QStringList() : QStringList{messages});
        QCOMPARE(shown, plays);
        QCOMPARE(played, plays);
        QCOMPARE(WindowFixture::hasSound(wav_), plays);
        QVERIFY(offCentre.manhattanLength() <= 3);
        QTRY_COMPARE(testdata::threadCount(), threadsBefore);
    }
};

QTEST_MAIN(tst_Player)
#include "tst_player.moc"
