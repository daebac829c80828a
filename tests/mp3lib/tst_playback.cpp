// Playback through the real libmpg123 and libout123, with the sound sent to
// a WAV file and compared with what libmpg123 decodes here directly.

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
#include <cstring>
#include <vector>

namespace {

struct Sound {
    bool ok = false;
    long rate = 0;
    int channels = 0;
    std::vector<qint16> samples;   // interleaved
};

// 16-bit signed at the stream's own rate and channels, ending at a change
// of stream: what the player is meant to play.
Sound decodeReference(const QString &path)
{
    Sound s;
    mpg123_handle *h = mpg123_new(nullptr, nullptr);
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
        int rc = MPG123_OK;
        while (rc == MPG123_OK || rc == MPG123_NEW_FORMAT) {
            size_t done = 0;
            rc = mpg123_read(h, buffer.data(), buffer.size() * 2, &done);
            s.samples.insert(s.samples.end(), buffer.begin(), buffer.begin() + done / 2);
        }
        s.ok = encoding == MPG123_ENC_SIGNED_16 && !s.samples.empty();
    }
    mpg123_delete(h);
    return s;
}

quint32 le(const QByteArray &b, qsizetype at, int bytes)
{
    quint32 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | quint8(b[at + i]);
    return v;
}

// The 16-bit PCM WAV file out123 writes; not ok unless its header is
// complete and its sizes agree with the file (an output never closed).
Sound readWav(const QString &path)
{
    Sound s;
    const QByteArray b = testdata::readAll(path);
    if (b.size() < 44 || !b.startsWith("RIFF") || b.mid(8, 8) != "WAVEfmt "
        || b.mid(36, 4) != "data" || le(b, 4, 4) != quint32(b.size() - 8)
        || le(b, 40, 4) != quint32(b.size() - 44) || le(b, 20, 2) != 1 || le(b, 34, 2) != 16)
        return s;
    s.channels = int(le(b, 22, 2));
    s.rate = long(le(b, 24, 4));
    s.samples.resize((b.size() - 44) / 2);
    std::memcpy(s.samples.data(), b.constData() + 44, s.samples.size() * 2);
    s.ok = true;
    return s;
}

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
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

// An ID3v2.3 tag of `padding` zero bytes and no frames.
QByteArray emptyId3v2(int padding)
{
    QByteArray tag("ID3\x03\x00\x00", 6);
    for (int shift : {21, 14, 7, 0})
        tag.append(char((padding >> shift) & 0x7f));
    return tag + QByteArray(padding, '\0');
}

bool open(const QString &path)
{
    mp3lib::OpenInfoWire info;
    return vbmp3_open(QFile::encodeName(path).constData(), info) != 0;
}

constexpr int kWaitMs = 30000;   // generous: sanitizer builds run slowly

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
    void reopenKeepsVolumes();
    void noSoundServerFailsCleanly();

private:
    void setWav(const QString &path);
    bool waitForSound() const;
    Sound finishAndRead() const;

    QTemporaryDir *dir_ = nullptr;
    QString wav_;
    QByteArray wavName_;
};

void TestPlayback::init()
{
    dir_ = new QTemporaryDir;
    QVERIFY(dir_->isValid());
    setWav(dir_->filePath(QStringLiteral("out.wav")));
    vbmp3_setVolume(100, 100);
}

void TestPlayback::cleanup()
{
    vbmp3_close();
    mp3lib::setWavOutputForTesting(nullptr);
    vbmp3_setVolume(100, 100);
    delete dir_;
}

void TestPlayback::setWav(const QString &path)
{
    wav_ = path;
    wavName_ = QFile::encodeName(path);
    mp3lib::setWavOutputForTesting(wavName_.constData());
}

bool TestPlayback::waitForSound() const
{
    return QTest::qWaitFor([this] { return QFileInfo(wav_).size() > 16384; }, kWaitMs);
}

// Waits for the end of the sound, stops and closes as the player window
// does, and reads what was played.
Sound TestPlayback::finishAndRead() const
{
    const bool ended = QTest::qWaitFor([] { return !mp3lib::isPlayingForTesting(); }, kWaitMs);
    vbmp3_stop();
    vbmp3_close();
    return ended ? readWav(wav_) : Sound();
}

void TestPlayback::playsWholeFile_data()
{
    QTest::addColumn<QStringList>("parts");   // samples joined into one file
    QTest::addColumn<QByteArray>("prefix");   // bytes before them
    QTest::addColumn<int>("cutTo");           // bytes kept, -1 all
    QTest::addColumn<QString>("reference");   // sample to compare with, "" the file itself
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("right");

    const QString st = testdata::kStereoMpeg1, mono = testdata::kMonoMpeg1, m2 = testdata::kStereoMpeg2;
    const QByteArray none;
    QTest::newRow("stereo") << QStringList{st} << none << -1 << st << 100 << 100;
    QTest::newRow("stereo, left 25") << QStringList{st} << none << -1 << st << 25 << 100;
    QTest::newRow("stereo, right 0") << QStringList{st} << none << -1 << st << 100 << 0;
    QTest::newRow("mono") << QStringList{mono} << none << -1 << mono << 100 << 100;
    QTest::newRow("mono, average of 20 and 60") << QStringList{mono} << none << -1 << mono << 20 << 60;
    QTest::newRow("MPEG-2 22.05 kHz") << QStringList{m2} << none << -1 << m2 << 100 << 100;
    QTest::newRow("behind an ID3v2 tag") << QStringList{st} << emptyId3v2(2000) << -1 << st << 100 << 100;
    QTest::newRow("stitched: first stream only") << QStringList{mono, st} << none << -1 << mono << 100 << 100;
    QTest::newRow("cut in mid-frame") << QStringList{st} << none << 9000 << QString() << 100 << 100;
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

    vbmp3_setVolume(left, right);
    QVERIFY(open(mp3) && vbmp3_play());
    const Sound got = finishAndRead();
    QVERIFY(got.ok);
    QCOMPARE(got.rate, ref.rate);
    QCOMPARE(got.channels, ref.channels);
    QCOMPARE(got.samples.size(), ref.samples.size());
    const int gains[2] = {ref.channels == 1 ? (left + right) / 2 : left, right};
    for (size_t i = 0; i < ref.samples.size(); ++i) {
        const int gain = gains[i % ref.channels];
        const int expected = ref.samples[i] * gain / 100;
        if (std::abs(got.samples[i] - expected) > (gain == 100 ? 0 : 1))
            QFAIL(qPrintable(QStringLiteral("sample %1: %2, expected %3").arg(i).arg(got.samples[i]).arg(expected)));
    }
}

// Turning the left channel down while playing silences it from one point
// on and leaves the right channel alone.
void TestPlayback::volumeTakesEffectWhilePlaying()
{
    const QString mp3 = testdata::sample(testdata::kNoise3s);
    const Sound ref = decodeReference(mp3);
    QVERIFY(ref.ok && ref.channels == 2);
    QVERIFY(open(mp3) && vbmp3_play());
    QVERIFY(waitForSound());
    vbmp3_setVolume(0, 100);
    const Sound got = finishAndRead();
    QVERIFY(got.ok);
    QCOMPARE(got.samples.size(), ref.samples.size());

    const size_t frames = ref.samples.size() / 2;
    size_t silentFrom = frames;
    while (silentFrom > 0 && got.samples[2 * (silentFrom - 1)] == 0)
        --silentFrom;
    QVERIFY2(silentFrom > 0 && silentFrom < frames - ref.rate / 2, "no change of volume while playing");
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

// Stop (or close) in the middle returns at once, ends the worker thread and
// leaves a complete WAV file holding the start of the sound.
void TestPlayback::stopMidway()
{
    QFETCH(bool, stopFirst);
    const QString mp3 = testdata::sample(testdata::kNoise3s);
    const Sound ref = decodeReference(mp3);
    QVERIFY(ref.ok);
    const int threadsBefore = threadCount();
    QVERIFY(open(mp3) && vbmp3_play());
    QVERIFY(waitForSound());
    QVERIFY(mp3lib::isPlayingForTesting());

    QElapsedTimer timer;
    timer.start();
    stopFirst ? vbmp3_stop() : vbmp3_close();
    qInfo("stopped in %lld ms", timer.elapsed());
    QVERIFY(!mp3lib::isPlayingForTesting());
    QCOMPARE(threadCount(), threadsBefore);
    vbmp3_close();
    const Sound got = readWav(wav_);
    QVERIFY(got.ok);
    QVERIFY(!got.samples.empty() && got.samples.size() < ref.samples.size());
    QVERIFY(std::equal(got.samples.begin(), got.samples.end(), ref.samples.begin()));
}

// Play while playing changes nothing; after a stop, play starts over.
void TestPlayback::playAgainStartsOver()
{
    const QString mp3 = testdata::sample(testdata::kStereoMpeg1);
    QVERIFY(open(mp3) && vbmp3_play());
    QVERIFY(waitForSound());
    vbmp3_stop();
    QVERIFY(vbmp3_play() && vbmp3_play());
    const Sound got = finishAndRead();
    QVERIFY(got.ok);
    QVERIFY(got.samples == decodeReference(mp3).samples);
}

void TestPlayback::openRejects_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"text file named .mp3", "empty file", "ID3v2 tag, no audio", "missing file",
                             "folder", "FIFO", "/dev/zero", "empty path", "null path", "output cannot open"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

// What cannot be played fails to open without touching the file, opening
// the output or starting a thread; the other calls stay harmless.
void TestPlayback::openRejects()
{
    QFETCH(QString, kind);
    QString path = dir_->filePath(QStringLiteral("bad.mp3"));
    QByteArray content;
    if (kind.startsWith(QLatin1String("text")))
        content = QByteArray("Not a song, just text.\n").repeated(200);
    else if (kind.startsWith(QLatin1String("ID3v2")))
        content = emptyId3v2(4000);
    const bool isFile = !content.isEmpty() || kind == QLatin1String("empty file");
    if (isFile)
        testdata::writeAll(path, content);
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("bad.mp3")));
    else if (kind == QLatin1String("FIFO"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind.startsWith(QLatin1Char('/')))
        path = kind;
    else if (kind == QLatin1String("empty path"))
        path.clear();
    else if (kind == QLatin1String("output cannot open")) {
        path = testdata::sample(testdata::kStereoMpeg1);
        setWav(dir_->filePath(QStringLiteral("no-such-folder/out.wav")));
    }

    const int threadsBefore = threadCount();
    mp3lib::OpenInfoWire info;
    const QByteArray name = QFile::encodeName(path);
    QCOMPARE(vbmp3_open(kind == QLatin1String("null path") ? nullptr : name.constData(), info), std::int16_t(0));
    QCOMPARE(vbmp3_play(), std::int16_t(0));
    vbmp3_stop();
    vbmp3_close();
    vbmp3_close();
    QVERIFY(!mp3lib::isPlayingForTesting());
    QCOMPARE(threadCount(), threadsBefore);
    QVERIFY(!QFileInfo::exists(wav_));
    if (isFile)
        QCOMPARE(testdata::readAll(path), content);
}

// A second open replaces the first file, also without a close in between;
// the volumes, clamped to 0..100, outlive every open and close.
void TestPlayback::reopenKeepsVolumes()
{
    vbmp3_setVolume(-5, 250);
    std::int32_t left = -1, right = -1;
    vbmp3_getVolume(left, right);
    QCOMPARE(left, 0);
    QCOMPARE(right, 100);

    vbmp3_setVolume(30, 70);
    QVERIFY(open(testdata::sample(testdata::kNoise3s)) && vbmp3_play());
    QVERIFY(waitForSound());
    vbmp3_close();
    const QString mpeg2 = testdata::sample(testdata::kStereoMpeg2);
    QVERIFY(open(testdata::sample(testdata::kMonoMpeg1)));
    QVERIFY(open(mpeg2) && vbmp3_play());
    const Sound got = finishAndRead();
    const Sound ref = decodeReference(mpeg2);
    QVERIFY(got.ok && ref.ok);
    QCOMPARE(got.rate, ref.rate);
    QCOMPARE(got.samples.size(), ref.samples.size());
    for (size_t i = 0; i < ref.samples.size(); ++i)
        QVERIFY(std::abs(got.samples[i] - ref.samples[i] * (i % 2 ? 70 : 30) / 100) <= 1);
    vbmp3_getVolume(left, right);
    QCOMPARE(left, 30);
    QCOMPARE(right, 70);
}

// Without the WAV hook the sound goes to PulseAudio or ALSA only. Where
// neither is there (a build machine), open fails rather than fall back to
// another output that would seem to work.
void TestPlayback::noSoundServerFailsCleanly()
{
    mp3lib::setWavOutputForTesting(nullptr);
    const int threadsBefore = threadCount();
    QElapsedTimer timer;
    timer.start();
    const bool opened = open(testdata::sample(testdata::kStereoMpeg1));
    qInfo("open gave %d in %lld ms", int(opened), timer.elapsed());
    // Probed after the open, which keeps libasound loaded: probing first
    // would load it once more and lose its parsed configuration.
    if (anyOutputAvailable())
        QSKIP("a sound server or device is available here");
    QVERIFY(!opened);
    QCOMPARE(vbmp3_play(), std::int16_t(0));
    QCOMPARE(threadCount(), threadsBefore);
}

QTEST_GUILESS_MAIN(TestPlayback)
#include "tst_playback.moc"
