// A fault injector loaded with LD_PRELOAD into a child process: it makes
// chosen calls that write, flush, truncate or rename files fail, or those
// that read them, so that the tests can see what a tag write, a settings
// write or a tag read does when the disk says no at any step.
//
// Controlled by environment variables, read once:
//   DORVASU_FAULT_NTH=N      fail the Nth counted call (1-based) only
//   DORVASU_FAULT_PATH=TEXT  fail every counted call on a path holding TEXT
//   DORVASU_FAULT_ERRNO=E    the error of a failed call (default EIO)
//   DORVASU_FAULT_READS=1    count positioned reads (pread) instead of the
//                            calls that change files
//   DORVASU_FAULT_REPORT=F   at exit, write to F the number of counted calls
//                            and the name of the call that was failed, and
//                            on a second line the names of all counted calls
// Counted: the calls below on regular files (and every rename or link,
// which name paths). Writes to a terminal or a pipe pass untouched.

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Config {
    long nth = 0;
    const char *path = nullptr;
    int error = EIO;
    const char *report = nullptr;
    bool reads = false;

    Config()
    {
        if (const char *r = std::getenv("DORVASU_FAULT_READS"))
            reads = std::atoi(r) != 0;
        if (const char *n = std::getenv("DORVASU_FAULT_NTH"))
            nth = std::atol(n);
        path = std::getenv("DORVASU_FAULT_PATH");
        if (path && !*path)
            path = nullptr;
        if (const char *e = std::getenv("DORVASU_FAULT_ERRNO"))
            error = std::atoi(e);
        report = std::getenv("DORVASU_FAULT_REPORT");
    }
};

const Config &config()
{
    static const Config c;
    return c;
}

std::atomic<long> counted{0};
std::atomic<const char *> failedCall{nullptr};
constexpr long kKeptNames = 1024;
std::atomic<const char *> names[kKeptNames];

template <typename F>
F next(const char *name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

bool isRegular(int fd)
{
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool fdMatches(int fd, const char *text)
{
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n < 0)
        return false;
    target[n] = '\0';
    return std::strstr(target, text) != nullptr;
}

bool pathMatches(const char *path, const char *text)
{
    return path && std::strstr(path, text);
}

// Counts the call and says whether it fails; sets errno when it does.
bool shouldFail(const char *name, bool matches)
{
    const Config &c = config();
    const long n = ++counted;
    if (n <= kKeptNames)
        names[n - 1] = name;
    const bool fail = (c.nth > 0 && n == c.nth) || (c.path && matches);
    if (fail) {
        failedCall = name;
        errno = c.error;
    }
    return fail;
}

bool failFd(const char *name, int fd)
{
    const bool read = std::strcmp(name, "pread") == 0;
    if (read != config().reads || !isRegular(fd))
        return false;
    const Config &c = config();
    return shouldFail(name, c.path && fdMatches(fd, c.path));
}

bool failPaths(const char *name, const char *a, const char *b)
{
    const Config &c = config();
    if (c.reads)
        return false;
    return shouldFail(name, c.path && (pathMatches(a, c.path) || pathMatches(b, c.path)));
}

struct Reporter {
    ~Reporter()
    {
        const char *file = config().report;
        if (!file)
            return;
        if (FILE *f = std::fopen(file, "w")) {
            const char *name = failedCall.load();
            std::fprintf(f, "%ld %s\n", counted.load(), name ? name : "-");
            for (long i = 0; i < counted.load() && i < kKeptNames; ++i)
                std::fprintf(f, "%s ", names[i].load());
            std::fprintf(f, "\n");
            std::fclose(f);
        }
    }
} reporter;

} // namespace

extern "C" {

ssize_t write(int fd, const void *data, size_t size)
{
    static const auto real = next<ssize_t (*)(int, const void *, size_t)>("write");
    return failFd("write", fd) ? -1 : real(fd, data, size);
}

ssize_t pread(int fd, void *data, size_t size, off_t offset)
{
    static const auto real = next<ssize_t (*)(int, void *, size_t, off_t)>("pread");
    return failFd("pread", fd) ? -1 : real(fd, data, size, offset);
}

ssize_t pread64(int fd, void *data, size_t size, off64_t offset)
{
    static const auto real = next<ssize_t (*)(int, void *, size_t, off64_t)>("pread64");
    return failFd("pread", fd) ? -1 : real(fd, data, size, offset);
}

ssize_t pwrite(int fd, const void *data, size_t size, off_t offset)
{
    static const auto real = next<ssize_t (*)(int, const void *, size_t, off_t)>("pwrite");
    return failFd("pwrite", fd) ? -1 : real(fd, data, size, offset);
}

ssize_t pwrite64(int fd, const void *data, size_t size, off64_t offset)
{
    static const auto real = next<ssize_t (*)(int, const void *, size_t, off64_t)>("pwrite64");
    return failFd("pwrite", fd) ? -1 : real(fd, data, size, offset);
}

size_t fwrite(const void *data, size_t size, size_t count, FILE *stream)
{
    static const auto real = next<size_t (*)(const void *, size_t, size_t, FILE *)>("fwrite");
    return failFd("fwrite", ::fileno(stream)) ? 0 : real(data, size, count, stream);
}

int fsync(int fd)
{
    static const auto real = next<int (*)(int)>("fsync");
    return failFd("fsync", fd) ? -1 : real(fd);
}

int fdatasync(int fd)
{
    static const auto real = next<int (*)(int)>("fdatasync");
    return failFd("fdatasync", fd) ? -1 : real(fd);
}

int ftruncate(int fd, off_t length) noexcept
{
    static const auto real = next<int (*)(int, off_t)>("ftruncate");
    return failFd("ftruncate", fd) ? -1 : real(fd, length);
}

int ftruncate64(int fd, off64_t length) noexcept
{
    static const auto real = next<int (*)(int, off64_t)>("ftruncate64");
    return failFd("ftruncate", fd) ? -1 : real(fd, length);
}

ssize_t copy_file_range(int in, off64_t *inOffset, int out, off64_t *outOffset, size_t size,
                        unsigned int flags)
{
    static const auto real =
        next<ssize_t (*)(int, off64_t *, int, off64_t *, size_t, unsigned)>("copy_file_range");
    return failFd("copy_file_range", out) ? -1 : real(in, inOffset, out, outOffset, size, flags);
}

int rename(const char *from, const char *to) noexcept
{
    static const auto real = next<int (*)(const char *, const char *)>("rename");
    return failPaths("rename", from, to) ? -1 : real(from, to);
}

int renameat(int fromDir, const char *from, int toDir, const char *to) noexcept
{
    static const auto real = next<int (*)(int, const char *, int, const char *)>("renameat");
    return failPaths("renameat", from, to) ? -1 : real(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned int flags) noexcept
{
    static const auto real =
        next<int (*)(int, const char *, int, const char *, unsigned)>("renameat2");
    return failPaths("renameat2", from, to) ? -1 : real(fromDir, from, toDir, to, flags);
}

int link(const char *from, const char *to) noexcept
{
    static const auto real = next<int (*)(const char *, const char *)>("link");
    return failPaths("link", from, to) ? -1 : real(from, to);
}

int linkat(int fromDir, const char *from, int toDir, const char *to, int flags) noexcept
{
    static const auto real = next<int (*)(int, const char *, int, const char *, int)>("linkat");
    return failPaths("linkat", from, to) ? -1 : real(fromDir, from, toDir, to, flags);
}

} // extern "C"
