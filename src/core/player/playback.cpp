// The player engine (player.h), and over one engine of their own the
// library's vbmp3_open, vbmp3_play, vbmp3_stop, vbmp3_close and the two
// channel volumes.
//
// One file is open at a time in an engine. libmpg123 decodes it to 16-bit signed samples
// on a worker thread, which scales them by the channel volumes and writes
// them to libout123 in small chunks, so that a stop request is seen within
// one chunk even when the output blocks.
//
// Ownership between threads: while the worker runs it alone uses the
// decoder, the output and the output's started flag; the calling thread
// touches them only after it has joined the worker. Every entry point takes
// `mutex_`; the worker never does. The volumes and the stop and running
// flags are atomics.

#include "core/tags/mpegaudio.h"
#include "core/player/player.h"
#include "core/tags/vbmp3.h"

#include <mpg123.h>
#include <out123.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using mp3lib::detail::Fd;

// Samples per write: 4 KB, about 23 ms of 44.1 kHz stereo. A stop waits for
// at most one such write.
constexpr std::size_t kChunkSamples = 2048;

// After the last sample a live output still holds up to its buffer's worth
// of sound (PulseAudio's default is 2 s), and it may not even have started
// playing a short file (PulseAudio waits for its pre-buffer to fill). Closing
// the output would drain it, but that blocks and cannot be interrupted by a
// stop. So the worker follows the sound with this much silence, written in
// chunks like the sound, which pushes the sound through the device; then it
// drops what is left (only silence) and closes the output.
constexpr double kLiveTailSeconds = 2.0;

// A decoder that keeps answering "nothing decoded, carry on" is broken;
// give up rather than spin.
constexpr int kMaxIdleReads = 1000;

std::atomic<int> gLeftVolume{100};
std::atomic<int> gRightVolume{100};
std::atomic<int> gPlaying{0};   // engines whose sound is being written

std::mutex gWavMutex;
std::string gWavPath;   // the test's WAV output, else empty

std::string wavOutput()
{
    const std::lock_guard lock(gWavMutex);
    return gWavPath;
}

int clampVolume(std::int32_t v)
{
    return static_cast<int>(std::clamp<std::int32_t>(v, 0, 100));
}

struct DecoderDelete {
    void operator()(mpg123_handle *h) const
    {
        mpg123_close(h);
        mpg123_delete(h);
    }
};
using Decoder = std::unique_ptr<mpg123_handle, DecoderDelete>;

struct OutputDelete {
    void operator()(out123_handle *h) const { out123_del(h); }
};
using Output = std::unique_ptr<out123_handle, OutputDelete>;

struct Format {
    long rate = 0;
    int channels = 0;
    bool operator==(const Format &) const = default;
};

// A decoder on `fd` that gives 16-bit signed samples at the stream's own
// rate and channel count, and stops at a change of stream rather than
// decoding stitched-together files as one. Null when the file holds no MPEG
// audio that libmpg123 can decode.
Decoder openDecoder(int fd, Format &format)
{
    int err = MPG123_OK;
    Decoder dec(mpg123_new(nullptr, &err));
    if (!dec)
        return {};
    if (mpg123_param2(dec.get(), MPG123_ADD_FLAGS,
                      MPG123_QUIET | MPG123_NO_FRANKENSTEIN, 0) != MPG123_OK)
        return {};
    mpg123_format_none(dec.get());
    const long *rates = nullptr;
    std::size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (std::size_t i = 0; i < rateCount; ++i)
        mpg123_format(dec.get(), rates[i], MPG123_MONO | MPG123_STEREO,
                      MPG123_ENC_SIGNED_16);
    if (mpg123_open_fd(dec.get(), fd) != MPG123_OK)
        return {};
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_getformat(dec.get(), &rate, &channels, &encoding) != MPG123_OK
        || encoding != MPG123_ENC_SIGNED_16 || rate <= 0
        || channels < 1 || channels > 2)
        return {};
    format = {rate, channels};
    return dec;
}

// libasound parses its configuration into a global it never frees. out123
// unloads its ALSA module, and libasound with it, after every use, so each
// open would parse it again and lose some 66 KB. Holding the library loaded
// for the life of the process keeps one copy.
void keepAlsaLibraryLoaded()
{
    [[maybe_unused]] static void *const handle = ::dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL);
}

// Opens and starts the output `driver` (with `device`, or its default) for
// `format`. Only named modules are tried: out123's own choice, with no
// device present, waits seconds for OpenAL and then spins on every write.
Output openOutput(const char *driver, const char *device, const Format &format)
{
    if (std::strcmp(driver, "alsa") == 0)
        keepAlsaLibraryLoaded();
    Output out(out123_new());
    if (!out)
        return {};
    out123_param2(out.get(), OUT123_ADD_FLAGS, OUT123_QUIET, 0., nullptr);
    if (out123_open(out.get(), driver, device) != OUT123_OK)
        return {};
    if (out123_start(out.get(), format.rate, format.channels,
                     MPG123_ENC_SIGNED_16) != OUT123_OK)
        return {};
    return out;
}

bool isLiveOutput(out123_handle *out)
{
    long flags = 0;
    if (out123_getparam2(out, OUT123_PROPFLAGS, &flags, nullptr, nullptr) != OUT123_OK)
        return true;   // when in doubt, treat it as a device
    return (flags & OUT123_PROP_LIVE) != 0;
}

// Scales `count` interleaved samples by the channel volumes: the left volume
// on channel 0, the right one on channel 1. Mono has only one channel for
// both volumes, so it gets their average.
void applyVolume(std::int16_t *samples, std::size_t count, int channels,
                 int left, int right)
{
    if (channels == 1) {
        const int gain = (left + right) / 2;
        if (gain == 100)
            return;
        for (std::size_t i = 0; i < count; ++i)
            samples[i] = static_cast<std::int16_t>(samples[i] * gain / 100);
        return;
    }
    if (left == 100 && right == 100)
        return;
    for (std::size_t i = 0; i + 1 < count; i += 2) {
        samples[i] = static_cast<std::int16_t>(samples[i] * left / 100);
        samples[i + 1] = static_cast<std::int16_t>(samples[i + 1] * right / 100);
    }
}

} // namespace

class player::Engine::Impl {
public:
    using Opened = Engine::Opened;

    ~Impl()
    {
        std::lock_guard lock(mutex_);
        closeLocked();
    }

    Opened open(const QByteArray &path)
    {
        std::lock_guard lock(mutex_);
        closeLocked();
        if (path.isEmpty() || path.contains('\0'))
            return Opened::NoAudio;

        Fd file = mp3lib::detail::openRegularFile(path.constData(), O_RDONLY);
        if (!file.valid() || !mp3lib::detail::findMpegAudio(file.get()).found)
            return Opened::NoAudio;
        if (::lseek(file.get(), 0, SEEK_SET) != 0)
            return Opened::NoAudio;

        Format format;
        Decoder decoder = openDecoder(file.get(), format);
        if (!decoder)
            return Opened::NoAudio;

        Output output;
        const char *driver = nullptr;
        const std::string wavPath = wavOutput();
        if (!wavPath.empty()) {
            driver = "wav";
            output = openOutput(driver, wavPath.c_str(), format);
        } else {
            for (const char *name : {"pulse", "alsa"}) {
                output = openOutput(name, nullptr, format);
                if (output) {
                    driver = name;
                    break;
                }
            }
        }
        if (!output)
            return Opened::NoOutput;

        file_ = std::move(file);
        decoder_ = std::move(decoder);
        output_ = std::move(output);
        format_ = format;
        live_ = isLiveOutput(output_.get());
        outputStarted_ = true;
        driver_ = driver;
        return Opened::Yes;
    }

    Engine::Description description()
    {
        std::lock_guard lock(mutex_);
        return decoder_ ? Engine::Description{driver_, format_.rate, format_.channels} : Engine::Description{};
    }

    // Plays the open file from its beginning; does nothing while it plays.
    bool play()
    {
        std::lock_guard lock(mutex_);
        if (!decoder_)
            return false;
        if (running_.load())
            return true;
        joinWorker();
        if (mpg123_seek(decoder_.get(), 0, SEEK_SET) < 0)
            return false;
        if (!outputStarted_) {
            if (out123_start(output_.get(), format_.rate, format_.channels,
                             MPG123_ENC_SIGNED_16) != OUT123_OK)
                return false;
            outputStarted_ = true;
        }
        stopRequested_.store(false);
        setRunning(true);
        try {
            worker_ = std::thread(&Impl::run, this);
        } catch (const std::system_error &) {
            setRunning(false);
            return false;
        }
        return true;
    }

    void stop()
    {
        std::lock_guard lock(mutex_);
        stopLocked();
    }

    void close()
    {
        std::lock_guard lock(mutex_);
        closeLocked();
    }

    bool isPlaying() const { return running_.load(); }

private:
    void setRunning(bool on)
    {
        if (running_.exchange(on) != on)
            gPlaying.fetch_add(on ? 1 : -1);
    }

    void joinWorker()
    {
        {
            std::lock_guard wakeLock(wakeMutex_);
            stopRequested_.store(true);
        }
        wake_.notify_all();
        if (worker_.joinable())
            worker_.join();
        setRunning(false);
    }

    // Silences the output at once: what it still holds is dropped, not
    // played, and closing it then has nothing left to drain.
    void stopLocked()
    {
        joinWorker();
        if (output_ && outputStarted_) {
            out123_drop(output_.get());
            out123_stop(output_.get());
            outputStarted_ = false;
        }
    }

    void closeLocked()
    {
        stopLocked();
        output_.reset();
        decoder_.reset();   // before the descriptor it reads from
        file_ = Fd();
    }

    // Sleeps until `deadline` or a stop request, whichever comes first.
    void waitUntil(std::chrono::steady_clock::time_point deadline)
    {
        std::unique_lock wakeLock(wakeMutex_);
        wake_.wait_until(wakeLock, deadline, [this] { return stopRequested_.load(); });
    }

    // Writes `count` samples (already scaled). A file output takes them as
    // fast as the disk does, so the worker then waits until they would have
    // played: the file stands in for a device and fills at the same pace.
    bool write(std::int16_t *samples, std::size_t count)
    {
        const std::size_t bytes = count * sizeof(std::int16_t);
        if (out123_play(output_.get(), samples, bytes) != bytes)
            return false;
        framesWritten_ += static_cast<std::int64_t>(count / static_cast<std::size_t>(format_.channels));
        if (!live_) {
            const auto played = std::chrono::duration<double>(
                static_cast<double>(framesWritten_) / static_cast<double>(format_.rate));
            waitUntil(paceStart_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(played));
        }
        return true;
    }

    // A new format in mid-stream: restart the output in it. The flags given
    // to the decoder make libmpg123 end the stream instead, so this is a
    // guard, and it drops what the output still holds rather than block on
    // draining it.
    bool changeFormat()
    {
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        if (mpg123_getformat(decoder_.get(), &rate, &channels, &encoding) != MPG123_OK
            || encoding != MPG123_ENC_SIGNED_16 || rate <= 0
            || channels < 1 || channels > 2)
            return false;
        const Format format{rate, channels};
        if (format == format_)
            return true;
        out123_drop(output_.get());
        out123_stop(output_.get());
        outputStarted_ = false;
        if (out123_start(output_.get(), rate, channels, MPG123_ENC_SIGNED_16) != OUT123_OK)
            return false;
        outputStarted_ = true;
        format_ = format;
        paceStart_ = std::chrono::steady_clock::now();
        framesWritten_ = 0;
        return true;
    }

    // The end of the sound: let the output play out what it holds, then
    // close it (which also completes a WAV file's header).
    void finish(std::vector<std::int16_t> &buffer)
    {
        if (live_) {
            std::fill(buffer.begin(), buffer.end(), std::int16_t{0});
            const auto tailFrames = static_cast<std::int64_t>(
                kLiveTailSeconds * static_cast<double>(format_.rate));
            const auto chunkFrames = static_cast<std::int64_t>(buffer.size()) / format_.channels;
            for (std::int64_t frames = 0; frames < tailFrames; frames += chunkFrames) {
                if (stopRequested_.load() || !write(buffer.data(), buffer.size()))
                    return;   // the stop that follows drops and closes
            }
            out123_drop(output_.get());
        }
        out123_stop(output_.get());
        outputStarted_ = false;
    }

    void run()
    {
        std::vector<std::int16_t> buffer(kChunkSamples);
        paceStart_ = std::chrono::steady_clock::now();
        framesWritten_ = 0;
        int idleReads = 0;
        while (!stopRequested_.load()) {
            std::size_t done = 0;
            const int rc = mpg123_read(decoder_.get(), buffer.data(),
                                       buffer.size() * sizeof(std::int16_t), &done);
            if (rc == MPG123_NEW_FORMAT && !changeFormat())
                break;
            // The last read returns MPG123_DONE together with the last
            // samples: play them before ending.
            const std::size_t count = done / sizeof(std::int16_t);
            if (count > 0) {
                idleReads = 0;
                applyVolume(buffer.data(), count, format_.channels,
                            gLeftVolume.load(), gRightVolume.load());
                if (!write(buffer.data(), count))
                    break;
            }
            if (rc == MPG123_OK || rc == MPG123_NEW_FORMAT) {
                if (count == 0 && ++idleReads > kMaxIdleReads)
                    break;
                continue;
            }
            // MPG123_DONE, or a damaged stream the decoder cannot go on
            // with: what was decoded so far is played to its end.
            if (!stopRequested_.load())
                finish(buffer);
            break;
        }
        setRunning(false);
    }

    std::mutex mutex_;
    Fd file_;
    Decoder decoder_;
    Output output_;
    Format format_;
    bool live_ = true;
    bool outputStarted_ = false;
    const char *driver_ = nullptr;

    std::thread worker_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> running_{false};
    std::mutex wakeMutex_;
    std::condition_variable wake_;

    // Used by the worker only.
    std::chrono::steady_clock::time_point paceStart_;
    std::int64_t framesWritten_ = 0;
};

namespace player {

Engine::Engine() : impl_(std::make_unique<Impl>()) {}
Engine::~Engine() = default;

Engine::Opened Engine::open(const QByteArray &path) { return impl_->open(path); }
bool Engine::play() { return impl_->play(); }
void Engine::stop() { impl_->stop(); }
void Engine::close() { impl_->close(); }
bool Engine::isPlaying() const { return impl_->isPlaying(); }
Engine::Description Engine::description() const { return impl_->description(); }

void Engine::volume(std::int32_t &left, std::int32_t &right)
{
    left = gLeftVolume.load();
    right = gRightVolume.load();
}

void Engine::setVolume(std::int32_t left, std::int32_t right)
{
    gLeftVolume.store(clampVolume(left));
    gRightVolume.store(clampVolume(right));
}

void Engine::setWavOutputForTesting(const char *path)
{
    const std::lock_guard lock(gWavMutex);
    gWavPath = path ? path : "";
}

bool Engine::anyPlayingForTesting() { return gPlaying.load() > 0; }

} // namespace player

namespace {

// The engine the library's playback operations drive.
player::Engine &libraryEngine()
{
    static player::Engine instance;
    return instance;
}

} // namespace

std::int16_t vbmp3_open(const char *path, mp3lib::OpenInfoWire &info)
{
    std::memset(&info, 0, sizeof info);
    player::Engine &engine = libraryEngine();
    if (engine.open(path ? QByteArray(path) : QByteArray()) != player::Engine::Opened::Yes)
        return 0;
    // Nobody reads the record; say what was opened, for a debugger.
    const player::Engine::Description d = engine.description();
    std::strncpy(info.Text1, d.driver ? d.driver : "", sizeof info.Text1 - 1);
    info.Value[0] = static_cast<std::int32_t>(d.rate);
    info.Value[1] = d.channels;
    info.Value[2] = 16;
    return 1;
}

std::int16_t vbmp3_play()
{
    return libraryEngine().play() ? 1 : 0;
}

std::int16_t vbmp3_stop()
{
    libraryEngine().stop();
    return 1;
}

std::int16_t vbmp3_close()
{
    libraryEngine().close();
    return 1;
}

std::int16_t vbmp3_getVolume(std::int32_t &left, std::int32_t &right)
{
    player::Engine::volume(left, right);
    return 1;
}

std::int16_t vbmp3_setVolume(std::int32_t left, std::int32_t right)
{
    player::Engine::setVolume(left, right);
    return 1;
}

namespace mp3lib {

void setWavOutputForTesting(const char *path)
{
    player::Engine::setWavOutputForTesting(path);
}

bool isPlayingForTesting()
{
    return player::Engine::anyPlayingForTesting();
}

} // namespace mp3lib
