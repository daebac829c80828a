// Playback through the real libmpg123 and libout123, with the sound sent to
// a WAV file and compared with the samples libmpg123 decodes here directly.

#include "testdata.h"
#include "vbmp3.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <mpg123.h>
#include <out123.h>

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Sound {
    bool ok = false;
    long rate = 0;
    int channels = 0;
    int bits = 0;
    std::vector<qint16> samples;   // interleaved
};

// Decodes `path` the way the player is meant to: 16-bit signed at the
// stream's own rate and channel count, ending at a change of stream.
Sound decodeReference(const QString &path)
{
    Sound s;
    mpg123_handle *h = mpg123_new(nullptr, nullptr);
    if (!h)
        return s;
    mpg123_param2(h, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_NO_FRANKENSTEIN, 0);
    mpg123_format_none(h);
    const long *rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
        mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    int encoding = 0;
    if (mpg123_open(h, QFile::encodeName(path).constData()) == MPG123_OK
        && mpg123_getformat(h, &s.rate, &s.channels, &encoding) == MPG123_OK) {
        std::vector<qint16> buffer(4096);
        for (;;) {
            size_t done = 0;
            const int rc = mpg123_read(h, buffer.data(), buffer.size() * 2, &done);
            s.samples.insert(s.samples.end(), buffer.begin(), buffer.begin() + done / 2);
            if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT)
                break;
        }
        s.ok = encoding == MPG123_ENC_SIGNED_16;
        s.bits = 16;
    }
    mpg123_delete(h);
    return s;
}

quint32 le32(const QByteArray &b, qsizetype at)
{
    return quint32(quint8(b[at])) | quint32(quint8(b[at + 1])) << 8
           | quint32(quint8(b[at + 2])) << 16 | quint32(quint8(b[at + 3])) << 24;
}

quint16 le16(const QByteArray &b, qsizetype at)
{
    return quint16(quint8(b[at]) | quint8(b[at + 1]) << 8);
}

// Reads a PCM WAV file; `ok` only when its header is complete and its sizes
// agree with the file (a file whose output was never closed fails that).
Sound readWav(const QString &path)
{
    Sound s;
    const QByteArray b = testdata::readAll(path);
    if (b.size() < 12 || !b.startsWith("RIFF") || b.mid(8, 4) != "WAVE"
        || le32(b, 4) != quint32(b.size() - 8))
        return s;
    bool haveFormat = false;
    for (qsizetype at = 12; at + 8 <= b.size();) {
        const QByteArray id = b.mid(at, 4);
        const quint32 size = le32(b, at + 4);
        if (at + 8 + qsizetype(size) > b.size())
            return s;
        if (id == "fmt " && size >= 16) {
            if (le16(b, at + 8) != 1)
                return s;
            s.channels = le16(b, at + 10);
            s.rate = long(le32(b, at + 12));
            s.bits = le16(b, at + 22);
            haveFormat = true;
        } else if (id == "data" && haveFormat && s.bits == 16) {
            s.samples.resize(size / 2);
            std::memcpy(s.samples.data(), b.constData() + at + 8, s.samples.size() * 2);
            s.ok = true;
            return s;
        }
        at += 8 + size + (size & 1);
    }
    return s;
}

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

bool anyOutputAvailable()
{
    for (const char *driver : {"pulse", "alsa"}) {
        out123_handle *h = out123_new();
        out123_param2(h, OUT123_ADD_FLAGS, OUT123_QUIET, 0., nullptr);
        const bool ok = out123_open(h, driver, nullptr) == OUT123_OK
                        && out123_start(h, 44100, 2, MPG123_ENC_SIGNED_16) == OUT123_OK;
        out123_del(h);
        if (ok)
            return true;
    }
    return false;
}

// A minimal ID3v2.3 tag: header and `padding` zero bytes, no frames.
QByteArray emptyId3v2(int padding)
{
    QByteArray tag("ID3\x03\x00\x00", 6);
    for (int shift : {21, 14, 7, 0})
        tag.append(char((padding >> shift) & 0x7f));
    tag.append(QByteArray(padding, '\0'));
    return tag;
}

constexpr int kWaitMs = 30000;   // generous: the sanitizer builds run slowly

} // namespace

class TestPlayback : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void playsWholeFile_data();
    void playsWholeFile();
    void volumeTakesEffectWhilePlaying();
    void stopMidway_data();
    void stopMidway();
    void playAgainStartsOver();
    void openRejects_data();
    void openRejects();
    void harmlessWithoutOpenFile();
    void reopenAndVolumesPersist();
    void volumeIsClamped_data();
    void volumeIsClamped();
    void noSoundServerFailsCleanly();

private:
    bool openAndPlay(const QString &path);
    bool waitForSound();
    Sound finishAndRead();

    QTemporaryDir *dir_ = nullptr;
    QString wav_;
    QByteArray wavName_;
};

void TestPlayback::init()
{
    dir_ = new QTemporaryDir;
    QVERIFY(dir_->isValid());
    wav_ = dir_->filePath(QStringLiteral("out.wav"));
    wavName_ = QFile::encodeName(wav_);
    mp3lib::setWavOutputForTesting(wavName_.constData());
    vbmp3_setVolume(100, 100);
}

void TestPlayback::cleanup()
{
    vbmp3_close();
    mp3lib::setWavOutputForTesting(nullptr);
    vbmp3_setVolume(100, 100);
    delete dir_;
    dir_ = nullptr;
}

bool TestPlayback::openAndPlay(const QString &path)
{
    mp3lib::OpenInfoWire info;
    const QByteArray name = QFile::encodeName(path);
    return vbmp3_open(name.constData(), info) != 0 && vbmp3_play() != 0;
}

// Waits until some sound has reached the output file.
bool TestPlayback::waitForSound()
{
    return QTest::qWaitFor([this] { return QFileInfo(wav_).size() > 16384; }, kWaitMs);
}

// Waits until the sound has played to its end, then stops and closes as the
// player window does, and reads what was played (not ok when it never
// came to its end).
Sound TestPlayback::finishAndRead()
{
    const bool ended = QTest::qWaitFor([] { return !mp3lib::isPlayingForTesting(); }, kWaitMs);
    vbmp3_stop();
    vbmp3_close();
    return ended ? readWav(wav_) : Sound();
}

void TestPlayback::playsWholeFile_data()
{
    QTest::addColumn<QStringList>("parts");       // samples joined into one file
    QTest::addColumn<QByteArray>("prefix");       // bytes put before them
    QTest::addColumn<int>("cutTo");               // keep only this many bytes (-1: all)
    QTest::addColumn<QString>("reference");       // sample to compare with ("": the file itself)
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("right");

    const QString stereo = testdata::kStereoMpeg1;
    const QString mono = testdata::kMonoMpeg1;
    QTest::newRow("stereo 44.1 kHz") << QStringList{stereo} << QByteArray() << -1 << stereo << 100 << 100;
    QTest::newRow("stereo, both at 25") << QStringList{stereo} << QByteArray() << -1 << stereo << 25 << 25;
    QTest::newRow("stereo, left 25 right 100") << QStringList{stereo} << QByteArray() << -1 << stereo << 25 << 100;
    QTest::newRow("stereo, left 100 right 0") << QStringList{stereo} << QByteArray() << -1 << stereo << 100 << 0;
    QTest::newRow("mono") << QStringList{mono} << QByteArray() << -1 << mono << 100 << 100;
    QTest::newRow("mono gets the average of 20 and 60") << QStringList{mono} << QByteArray() << -1 << mono << 20 << 60;
    QTest::newRow("MPEG-2 22.05 kHz") << QStringList{QString(testdata::kStereoMpeg2)} << QByteArray() << -1
                                      << QString(testdata::kStereoMpeg2) << 100 << 100;
    QTest::newRow("behind an ID3v2 tag") << QStringList{stereo} << emptyId3v2(2000) << -1 << stereo << 100 << 100;
    QTest::newRow("stitched streams: the first one only") << QStringList{mono, stereo} << QByteArray() << -1
                                                          << mono << 100 << 100;
    QTest::newRow("cut off in mid-frame") << QStringList{stereo} << QByteArray() << 9000 << QString() << 100 << 100;
}

void TestPlayback::playsWholeFile()
{
    QFETCH(QStringList, parts);
    QFETCH(QByteArray, prefix);
    QFETCH(int, cutTo);
    QFETCH(QString, reference);
    QFETCH(int, left);
    QFETCH(int, right);

    QByteArray bytes = prefix;
    for (const QString &part : parts)
        bytes += testdata::readAll(testdata::sample(qPrintable(part)));
    if (cutTo >= 0)
        bytes.truncate(cutTo);
    const QString mp3 = dir_->filePath(QStringLiteral("song.mp3"));
    testdata::writeAll(mp3, bytes);

    const Sound ref = decodeReference(reference.isEmpty() ? mp3 : testdata::sample(qPrintable(reference)));
    QVERIFY(ref.ok);
    QVERIFY(!ref.samples.empty());

    vbmp3_setVolume(left, right);
    QVERIFY(openAndPlay(mp3));
    const Sound got = finishAndRead();
    QVERIFY(got.ok);
    QCOMPARE(got.rate, ref.rate);
    QCOMPARE(got.channels, ref.channels);
    QCOMPARE(got.bits, 16);
    QCOMPARE(got.samples.size(), ref.samples.size());

    const int gains[2] = {ref.channels == 1 ? (left + right) / 2 : left, right};
    for (size_t i = 0; i < ref.samples.size(); ++i) {
        const int gain = gains[i % ref.channels];
        const int expected = ref.samples[i] * gain / 100;
        if (std::abs(got.samples[i] - expected) > (gain == 100 ? 0 : 1))
            QFAIL(qPrintable(QStringLiteral("sample %1: %2, expected %3 (source %4, gain %5)")
                                 .arg(i).arg(got.samples[i]).arg(expected)
                                 .arg(ref.samples[i]).arg(gain)));
    }
}

// Turning the left channel down while the file plays silences the left
// channel from one point on, and leaves the right channel alone.
void TestPlayback::volumeTakesEffectWhilePlaying()
{
    const QString mp3 = testdata::sample(testdata::kNoise3s);
    const Sound ref = decodeReference(mp3);
    QVERIFY(ref.ok && ref.channels == 2);

    QVERIFY(openAndPlay(mp3));
    QVERIFY(waitForSound());
    vbmp3_setVolume(0, 100);
    const Sound got = finishAndRead();
    QVERIFY(got.ok);
    QCOMPARE(got.samples.size(), ref.samples.size());

    const size_t frames = ref.samples.size() / 2;
    size_t silentFrom = frames;   // first frame of the silent left channel
    while (silentFrom > 0 && got.samples[2 * (silentFrom - 1)] == 0)
        --silentFrom;
    QVERIFY2(silentFrom < frames - ref.rate / 2, "left channel never went silent");
    QVERIFY2(silentFrom > 0, "left channel silent from the start");
    for (size_t f = 0; f < frames; ++f) {
        QCOMPARE(got.samples[2 * f + 1], ref.samples[2 * f + 1]);
        if (f < silentFrom)
            QCOMPARE(got.samples[2 * f], ref.samples[2 * f]);
    }
}

void TestPlayback::stopMidway_data()
{
    QTest::addColumn<bool>("stopFirst");
    QTest::newRow("stop, then close") << true;
    QTest::newRow("close while playing") << false;
}

// Stopping (or closing) in the middle returns at once, ends the worker and
// leaves a complete WAV file holding the beginning of the sound.
void TestPlayback::stopMidway()
{
    QFETCH(bool, stopFirst);
    const QString mp3 = testdata::sample(testdata::kNoise3s);
    const Sound ref = decodeReference(mp3);
    QVERIFY(ref.ok);

    const int threadsBefore = threadCount();
    QVERIFY(openAndPlay(mp3));
    QVERIFY(waitForSound());
    QVERIFY(mp3lib::isPlayingForTesting());

    QElapsedTimer timer;
    timer.start();
    if (stopFirst)
        vbmp3_stop();
    else
        vbmp3_close();
    qInfo("stopped in %lld ms", timer.elapsed());
    QVERIFY(!mp3lib::isPlayingForTesting());
    QCOMPARE(threadCount(), threadsBefore);
    vbmp3_close();

    const Sound got = readWav(wav_);
    QVERIFY(got.ok);
    QVERIFY(!got.samples.empty());
    QVERIFY(got.samples.size() < ref.samples.size());
    QVERIFY(std::equal(got.samples.begin(), got.samples.end(), ref.samples.begin()));
}

// vbmp3_play while playing changes nothing; after a stop it plays the file
// again from its beginning.
void TestPlayback::playAgainStartsOver()
{
    const QString mp3 = testdata::sample(testdata::kStereoMpeg1);
    const Sound ref = decodeReference(mp3);
    QVERIFY(ref.ok);

    QVERIFY(openAndPlay(mp3));
    QVERIFY(waitForSound());
    vbmp3_stop();
    QVERIFY(!mp3lib::isPlayingForTesting());
    QCOMPARE(vbmp3_play(), std::int16_t(1));
    QCOMPARE(vbmp3_play(), std::int16_t(1));
    const Sound got = finishAndRead();
    QVERIFY(got.ok);
    QCOMPARE(got.samples.size(), ref.samples.size());
    QVERIFY(got.samples == ref.samples);
}

void TestPlayback::openRejects_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("text file named .mp3") << "text";
    QTest::newRow("empty file") << "empty";
    QTest::newRow("ID3v2 tag and no audio") << "tag only";
    QTest::newRow("missing file") << "missing";
    QTest::newRow("folder") << "folder";
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("character device") << "device";
    QTest::newRow("empty path") << "empty path";
    QTest::newRow("null path") << "null";
    QTest::newRow("good file, output cannot open") << "bad output";
}

// Whatever cannot be played fails to open, without touching the file,
// opening the output or starting anything.
void TestPlayback::openRejects()
{
    QFETCH(QString, kind);
    QString path = dir_->filePath(QStringLiteral("bad.mp3"));
    QByteArray content;
    if (kind == QLatin1String("text"))
        content = QByteArray("Not a song, just text.\n").repeated(200);
    else if (kind == QLatin1String("tag only"))
        content = emptyId3v2(4000);
    if (kind == QLatin1String("text") || kind == QLatin1String("empty") || kind == QLatin1String("tag only"))
        testdata::writeAll(path, content);
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("bad.mp3")));
    else if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == QLatin1String("device"))
        path = QStringLiteral("/dev/zero");
    else if (kind == QLatin1String("empty path"))
        path.clear();
    else if (kind == QLatin1String("bad output")) {
        path = testdata::sample(testdata::kStereoMpeg1);
        wav_ = dir_->filePath(QStringLiteral("no-such-folder/out.wav"));
        wavName_ = QFile::encodeName(wav_);
        mp3lib::setWavOutputForTesting(wavName_.constData());
    }

    const QByteArray name = QFile::encodeName(path);
    mp3lib::OpenInfoWire info;
    const int threadsBefore = threadCount();
    QCOMPARE(vbmp3_open(kind == QLatin1String("null") ? nullptr : name.constData(), info),
             std::int16_t(0));
    QCOMPARE(vbmp3_play(), std::int16_t(0));
    QVERIFY(!mp3lib::isPlayingForTesting());
    QCOMPARE(threadCount(), threadsBefore);
    QVERIFY(!QFileInfo::exists(wav_));
    if (!content.isEmpty() || kind == QLatin1String("empty"))
        QCOMPARE(testdata::readAll(path), content);
}

void TestPlayback::harmlessWithoutOpenFile()
{
    const int threadsBefore = threadCount();
    vbmp3_close();
    vbmp3_stop();
    QCOMPARE(vbmp3_play(), std::int16_t(0));
    vbmp3_close();
    vbmp3_close();
    QVERIFY(!mp3lib::isPlayingForTesting());
    QCOMPARE(threadCount(), threadsBefore);
    QVERIFY(!QFileInfo::exists(wav_));
}

// A second open replaces the first file, also without a close in between;
// the volumes outlive every open and close.
void TestPlayback::reopenAndVolumesPersist()
{
    vbmp3_setVolume(30, 70);
    QVERIFY(openAndPlay(testdata::sample(testdata::kNoise3s)));
    QVERIFY(waitForSound());
    vbmp3_stop();
    vbmp3_close();
    vbmp3_close();

    const QString mono = testdata::sample(testdata::kMonoMpeg1);
    const QString mpeg2 = testdata::sample(testdata::kStereoMpeg2);
    mp3lib::OpenInfoWire info;
    QVERIFY(vbmp3_open(QFile::encodeName(mono).constData(), info));
    QVERIFY(openAndPlay(mpeg2));
    const Sound got = finishAndRead();
    const Sound ref = decodeReference(mpeg2);
    QVERIFY(got.ok && ref.ok);
    QCOMPARE(got.rate, ref.rate);
    QCOMPARE(got.samples.size(), ref.samples.size());
    for (size_t i = 0; i < ref.samples.size(); ++i)
        QVERIFY(std::abs(got.samples[i] - ref.samples[i] * (i % 2 ? 70 : 30) / 100) <= 1);

    std::int32_t left = -1;
    std::int32_t right = -1;
    vbmp3_getVolume(left, right);
    QCOMPARE(left, 30);
    QCOMPARE(right, 70);
}

void TestPlayback::volumeIsClamped_data()
{
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("right");
    QTest::addColumn<int>("wantLeft");
    QTest::addColumn<int>("wantRight");
    QTest::newRow("in range") << 37 << 5 << 37 << 5;
    QTest::newRow("ends of the range") << 0 << 100 << 0 << 100;
    QTest::newRow("just outside") << -1 << 101 << 0 << 100;
    QTest::newRow("far outside") << INT_MIN << INT_MAX << 0 << 100;
    QTest::newRow("far outside, swapped") << INT_MAX << INT_MIN << 100 << 0;
}

void TestPlayback::volumeIsClamped()
{
    QFETCH(int, left);
    QFETCH(int, right);
    QFETCH(int, wantLeft);
    QFETCH(int, wantRight);
    vbmp3_setVolume(left, right);
    std::int32_t l = -1;
    std::int32_t r = -1;
    vbmp3_getVolume(l, r);
    QCOMPARE(l, wantLeft);
    QCOMPARE(r, wantRight);
}

// Without the WAV hook the sound goes to PulseAudio or ALSA only. Where
// neither is there (a build machine), open fails, and never falls back to
// another output that would appear to work.
void TestPlayback::noSoundServerFailsCleanly()
{
    mp3lib::setWavOutputForTesting(nullptr);
    const int threadsBefore = threadCount();
    QElapsedTimer timer;
    timer.start();
    mp3lib::OpenInfoWire info;
    const QByteArray name = QFile::encodeName(testdata::sample(testdata::kStereoMpeg1));
    const std::int16_t opened = vbmp3_open(name.constData(), info);
    qInfo("open gave %d in %lld ms", int(opened), timer.elapsed());
    if (anyOutputAvailable())
        QSKIP("a sound server or device is available here");
    QCOMPARE(opened, std::int16_t(0));
    QCOMPARE(vbmp3_play(), std::int16_t(0));
    QVERIFY(!mp3lib::isPlayingForTesting());
    QCOMPARE(threadCount(), threadsBefore);
}

QTEST_GUILESS_MAIN(TestPlayback)
#include "tst_playback.moc"
