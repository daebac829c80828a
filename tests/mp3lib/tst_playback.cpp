// Playback through the real libmpg123 and libout123, the sound sent to a WAV
// file and compared with what libmpg123 decodes here directly.

#include "core/player/player.h"
#include "common/table.h"
#include "core/tags/vbmp3.h"

#include <mpg123.h>
#include <out123.h>

using namespace testdata;

namespace {

struct Sound {
    bool ok = false;
    long rate = 0;
    int channels = 0;
    std::vector<qint16> samples;   // interleaved
};

// 16-bit signed at the stream's own rate and channels, ending at a change of
// stream: what the player is meant to play.
Sound decodeReference(const QString &path)
{
    Sound s;
    mpg123_handle *h = mpg123_new(nullptr, nullptr);
    mpg123_param2(h, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_NO_FRANKENSTEIN, 0);
    int encoding = 0;
    if (mpg123_open(h, QFile::encodeName(path).constData()) == MPG123_OK
        && mpg123_getformat(h, &s.rate, &s.channels, &encoding) == MPG123_OK) {
        std::vector<qint16> buffer(4096);
        for (int rc = MPG123_OK; rc == MPG123_OK || rc == MPG123_NEW_FORMAT;) {
            size_t done = 0;
            rc = mpg123_read(h, buffer.data(), buffer.size() * 2, &done);
            s.samples.insert(s.samples.end(), buffer.begin(), buffer.begin() + done / 2);
        }
        s.ok = encoding == MPG123_ENC_SIGNED_16 && !s.samples.empty();
    }
    mpg123_delete(h);
    return s;
}

// The 16-bit PCM WAV file out123 writes; not ok unless its header is complete
// and its sizes agree with the file (an output never closed).
Sound readWav(const QString &path)
{
    Sound s;
    const QByteArray b = readAll(path);
    // Byte by byte: the sanitizer build's array-bounds check cannot see the
    // size test below guarding a read through constData().
    const auto u16 = [&b](int at) { return quint32(quint8(b.at(at))) | quint32(quint8(b.at(at + 1))) << 8; };
    const auto u32 = [&u16](int at) { return u16(at) | u16(at + 2) << 16; };
    if (b.size() < 44 || !b.startsWith("RIFF") || b.mid(8, 8) != "WAVEfmt " || b.mid(36, 4) != "data"
        || u32(4) != quint32(b.size() - 8) || u32(40) != quint32(b.size() - 44) || u16(34) != 16)
        return s;
    s.channels = u16(22);
    s.rate = long(u32(24));
    s.samples.resize((b.size() - 44) / 2);
    std::memcpy(s.samples.data(), b.constData() + 44, s.samples.size() * 2);
    s.ok = true;
    return s;
}

bool anyOutputAvailable()
{
    bool ok = false;
    for (const char *driver : {"pulse", "alsa"}) {
        out123_handle *h = out123_new();
        out123_param2(h, OUT123_ADD_FLAGS, OUT123_QUIET, 0., nullptr);
        ok = ok || (out123_open(h, driver, nullptr) == OUT123_OK
                    && out123_start(h, 44100, 2, MPG123_ENC_SIGNED_16) == OUT123_OK);
        out123_del(h);
    }
    return ok;
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

    QTemporaryDir *dir_ = nullptr;
    QString wav_;

    void setWav(const QString &path)   // none: the sound servers and devices only
    {
        wav_ = path;
        mp3lib::setWavOutputForTesting(QFile::encodeName(path).constData());
    }

    bool waitForSound() const
    {
        return QTest::qWaitFor([this] { return QFileInfo(wav_).size() > 16384; }, kWaitMs);
    }

    // Waits for the end of the sound, stops and closes as the player window
    // does, and reads what was played.
    Sound finishAndRead() const
    {
        const bool ended = QTest::qWaitFor([] { return !mp3lib::isPlayingForTesting(); }, kWaitMs);
        vbmp3_stop();
        vbmp3_close();
        return ended ? readWav(wav_) : Sound();
    }

private slots:
    void init()
    {
        TABLE_FAIL_BROKEN_ROW();
        dir_ = new QTemporaryDir;
        QVERIFY(dir_->isValid());
        setWav(dir_->filePath("out.wav"));
    }

    void cleanup()
    {
        vbmp3_close();
        vbmp3_setVolume(100, 100);
        delete dir_;
    }

    // The sound of the whole file (tests/data/playback.txt), each channel scaled
    // by its volume (mono by their average), volumes clamped to 0..100.
    void playsWholeFile_data()
    {
        table::addRows("playback.txt", "plays", {table::expr("file"), table::expr("reference"), table::bytes("left"), table::bytes("right")});
    }

    void playsWholeFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, reference);
        QFETCH(QByteArray, left);
        QFETCH(QByteArray, right);
        const QString mp3 = dir_->filePath("song.mp3"), refMp3 = dir_->filePath("reference.mp3");
        writeAll(mp3, file);
        writeAll(refMp3, reference);
        const Sound ref = decodeReference(refMp3);
        QVERIFY(ref.ok);

        vbmp3_setVolume(left.toInt(), right.toInt());
        std::int32_t l = -1, r = -1;
        vbmp3_getVolume(l, r);
        QVERIFY(l == std::clamp(left.toInt(), 0, 100) && r == std::clamp(right.toInt(), 0, 100));
        QVERIFY(open(mp3) && vbmp3_play());
        const Sound got = finishAndRead();
        QVERIFY(got.ok && got.rate == ref.rate && got.channels == ref.channels);
        QCOMPARE(got.samples.size(), ref.samples.size());
        const int gains[2] = {ref.channels == 1 ? (l + r) / 2 : l, r};
        for (size_t i = 0; i < ref.samples.size(); ++i) {
            const int gain = gains[i % ref.channels], expected = ref.samples[i] * gain / 100;
            if (std::abs(got.samples[i] - expected) > (gain == 100 ? 0 : 1))
                QFAIL(qPrintable(QString("sample %1: %2, not %3").arg(i).arg(got.samples[i]).arg(expected)));
        }
    }

    // Midway: stop and close join the worker, leaving a whole WAV file of the start; a play
    // goes on, not over; a volume takes effect at once and outlives close and open.
    void midway_data() { table::addRows("playback.txt", "midway", {table::bytes("how")}); }

    void midway()
    {
        QFETCH(QByteArray, how);
        const QString noise = sample(kNoise3s);
        const Sound ref = decodeReference(noise);
        QVERIFY(ref.ok && ref.channels == 2);
        const int threadsBefore = threadCount();
        QVERIFY(open(noise) && vbmp3_play());
        QVERIFY(waitForSound() && mp3lib::isPlayingForTesting());
        if (how == "volume") {
            vbmp3_setVolume(0, 100);
            for (const bool whilePlaying : {true, false}) {
                const Sound got = finishAndRead();
                QVERIFY(got.ok && got.samples.size() == ref.samples.size());
                const size_t frames = ref.samples.size() / 2;
                size_t silentFrom = frames;
                while (silentFrom > 0 && got.samples[2 * (silentFrom - 1)] == 0)
                    --silentFrom;
                QVERIFY(whilePlaying ? silentFrom > 0 && silentFrom < frames - ref.rate / 2 : silentFrom == 0);
                for (size_t f = 0; f < frames; ++f) {
                    QCOMPARE(got.samples[2 * f + 1], ref.samples[2 * f + 1]);
                    QCOMPARE(got.samples[2 * f], f < silentFrom ? ref.samples[2 * f] : qint16(0));
                }
                if (whilePlaying)   // kept after close, and after an open without one
                    QVERIFY(open(sample(kMonoMpeg1)) && open(noise) && vbmp3_play());
            }
            return;
        }
        how == "close" ? vbmp3_close() : vbmp3_stop();
        QVERIFY(!mp3lib::isPlayingForTesting());
        QCOMPARE(threadCount(), threadsBefore);
        if (how == "replay") {
            QVERIFY(vbmp3_play() && waitForSound() && vbmp3_play());
            QVERIFY(finishAndRead().samples == ref.samples);
            return;
        }
        vbmp3_close();
        const Sound got = readWav(wav_);
        QVERIFY(got.ok && !got.samples.empty() && got.samples.size() < ref.samples.size());
        QVERIFY(std::equal(got.samples.begin(), got.samples.end(), ref.samples.begin()));
    }

    // What cannot be played fails to open, touching nothing; the other calls stay harmless.
    // Sound goes to PulseAudio or ALSA only, never to an output that only seems to work.
    // The engine tells a good file without a sound output from a file without audio.
    void openRejects_data() { table::addRows("playback.txt", "rejects", {table::expr("file")}); }

    void openRejects()
    {
        QFETCH(QByteArray, file);
        const QString kind = table::rowName(), path = dir_->filePath("bad.mp3");
        make(path, file);
        if (kind == "output cannot open")
            setWav(dir_->filePath("no-such-folder/out.wav"));
        else if (kind == "no sound server")
            setWav({});

        const int threadsBefore = threadCount();
        mp3lib::OpenInfoWire info;
        const QByteArray name = QFile::encodeName(path);
        const bool opened = vbmp3_open(file == "@null" ? nullptr : name.constData(), info);
        // Probed after the open, which keeps libasound loaded: probing first
        // would load it once more and lose its parsed configuration.
        if (kind == "no sound server" && anyOutputAvailable())
            QSKIP("a sound server or device is available here");
        QVERIFY(!opened);
        player::Engine engine;
        const bool goodFile = kind == "output cannot open" || kind == "no sound server";
        QCOMPARE(engine.open(file == "@null" ? QByteArray() : name),
                 goodFile ? player::Engine::Opened::NoOutput : player::Engine::Opened::NoAudio);
        QVERIFY(!engine.play());
        QCOMPARE(vbmp3_play(), std::int16_t(0));
        vbmp3_stop();
        vbmp3_close();
        vbmp3_close();
        QVERIFY(!mp3lib::isPlayingForTesting());
        QCOMPARE(threadCount(), threadsBefore);
        QVERIFY(wav_.isEmpty() || !QFileInfo::exists(wav_));
        if (!file.startsWith('@'))
            QCOMPARE(readAll(path), file);
    }
};

QTEST_GUILESS_MAIN(TestPlayback)
#include "tst_playback.moc"
