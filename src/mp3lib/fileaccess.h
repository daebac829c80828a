// Safe access to files the library is handed: never block on a FIFO or a
// device, never let TagLib parse what it mishandles.
#pragma once

#include <QByteArray>
#include <cstdint>

namespace mp3lib::detail {

// A file descriptor that closes itself.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd();
    Fd(Fd &&other) noexcept : fd_(other.release()) {}
    Fd &operator=(Fd &&other) noexcept;
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { int fd = fd_; fd_ = -1; return fd; }

private:
    int fd_ = -1;
};

// Reads `size` bytes at `offset` (pread, retried after signals); false on
// any error or an early end of file.
bool readExactly(int fd, std::int64_t offset, char *data, std::int64_t size);

// Opens `path` without blocking (O_NONBLOCK, O_CLOEXEC) with `flags`
// (O_RDONLY or O_RDWR) and returns the descriptor only when it names a
// regular file (links followed), checked on the open descriptor. An
// invalid Fd otherwise.
Fd openRegularFile(const char *path, int flags);

// A path through which TagLib, which only takes paths, opens exactly the
// file behind `fd` ("/proc/self/fd/N"), whatever happened to the original
// path since it was opened.
const char *fdPath(int fd, char (&buffer)[64]);

// Where the MPEG audio of a file lies, and whether it has any: the first of
// several consecutive valid MPEG audio frame headers after the ID3v2 tag(s).
struct AudioSpan {
    bool found = false;
    std::int64_t begin = 0;    // offset of the first frame
    std::int64_t end = 0;      // offset just past the audio (before ID3v1/APE)
};
AudioSpan findMpegAudio(int fd);

// The guard over the ID3v2 tag(s) at the start of the file: true when
// TagLib may parse them (sizes inside the file, sane frame count,
// compressed frames within bound), or when there is no ID3v2 tag.
// False too when the tag's place cannot be settled cheaply: no ID3v2 tag at
// the start and no MPEG audio frame in the first 256 KB, so that TagLib
// would scan on through the file looking for one.
bool id3v2IsSafe(int fd);

// The guard over a tag held in memory (header included, nothing after it).
bool id3v2TagIsSafe(const QByteArray &tag);

// Both checks over one set of reads, for a caller that needs both (the tag
// reader). id3v2Safe is only worked out when audio was found.
struct FileCheck {
    AudioSpan audio;
    bool id3v2Safe = false;
};
FileCheck checkFile(int fd);

} // namespace mp3lib::detail
