// The player engine: one MP3 file decoded by libmpg123 and played through
// libout123 on a worker thread, with two channel volumes. The player window
// owns one and drives it; the library's playback operations (vbmp3_open ...
// vbmp3_close) are a thin adapter over one engine of their own.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <memory>

namespace player {

class Engine {
public:
    Engine();
    ~Engine();   // stops and closes
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // What an open came to.
    enum class Opened {
        Yes,
        NoAudio,    // the path names no regular file holding MPEG audio that decodes
        NoOutput,   // the file is fine; the sound output could not be opened
    };
    // Opens `path` (exact bytes) for playing, closing what was open before.
    Opened open(const QByteArray &path);
    // Plays the open file from its beginning and returns at once; the sound
    // goes on in the background. Does nothing while it plays. False when no
    // file is open or the playing cannot start.
    bool play();
    // Stops the sound at once (what the output still holds is dropped).
    void stop();
    // Stops and releases the file and the output.
    void close();
    // True while the sound is being decoded and written; false once stopped
    // or played to its end.
    bool isPlaying() const;

    // A description of what was opened (output module, rate, channels), for
    // the library's open record.
    struct Description {
        const char *driver = nullptr;
        long rate = 0;
        int channels = 0;
    };
    Description description() const;

    // The two channel volumes, 0 to 100, shared by every engine and kept
    // for the whole run (100 and 100 at start); values outside are clamped.
    static void volume(std::int32_t &left, std::int32_t &right);
    static void setVolume(std::int32_t left, std::int32_t right);

    // Sends the sound of every later open, of any engine, to a WAV file at
    // `path` through out123's built-in "wav" output instead of the sound
    // server; empty or null goes back to the sound server. The file fills at
    // the pace the sound would play, as a device would take it. For tests.
    static void setWavOutputForTesting(const char *path);
    // True while any engine plays. For tests.
    static bool anyPlayingForTesting();

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace player
