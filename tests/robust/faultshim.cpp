// A fault injector preloaded (LD_PRELOAD) into a child: it fails chosen calls
// that write, flush or rename files (those the tag and settings writers make),
// or positioned reads, so the tests see what a write or a tag read does when
// the disk says no at any step. Set by environment variables, read once:
//   DORVASU_FAULT_NTH=N      fail the Nth counted call (1-based) only
//   DORVASU_FAULT_PATH=TEXT  fail every counted call on a path holding TEXT
//   DORVASU_FAULT_ERRNO=E    the error of a failed call (default EIO)
//   DORVASU_FAULT_READS=1    count positioned reads instead of the calls that change files
//   DORVASU_FAULT_REPORT=F   at exit, write to F "COUNT FAILED-CALL NAME...": the
//                            number of counted calls, the failed one, all their names
// Counted: calls on regular files, and every rename or link. Terminals and pipes pass.

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *env(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value ? value : nullptr;
}

const long nth = env("DORVASU_FAULT_NTH") ? std::atol(env("DORVASU_FAULT_NTH")) : 0;
const char *const onPath = env("DORVASU_FAULT_PATH");
const int error = env("DORVASU_FAULT_ERRNO") ? std::atoi(env("DORVASU_FAULT_ERRNO")) : EIO;
const bool reads = env("DORVASU_FAULT_READS") != nullptr;

std::atomic<long> counted{0};
std::atomic<const char *> failedCall{nullptr};
constexpr long kKeptNames = 1024;
std::atomic<const char *> names[kKeptNames];

// Counts the call and says whether it fails; sets errno when it does.
bool shouldFail(const char *name, bool onChosenPath)
{
    const long n = ++counted;
    if (n <= kKeptNames)
        names[n - 1] = name;
    const bool fail = n == nth || onChosenPath;
    if (fail) {
        failedCall = name;
        errno = error;
    }
    return fail;
}

bool failFd(const char *name, int fd)
{
    struct stat st;
    if ((std::strcmp(name, "pread") == 0) != reads || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    char link[64], target[4096] = {};
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const bool named = onPath && ::readlink(link, target, sizeof target - 1) > 0 && std::strstr(target, onPath);
    return shouldFail(name, named);
}

bool failPaths(const char *name, const char *a, const char *b)
{
    const auto holds = [](const char *path) { return onPath && path && std::strstr(path, onPath); };
    return !reads && shouldFail(name, holds(a) || holds(b));
}

struct Reporter {
    ~Reporter()
    {
        FILE *f = env("DORVASU_FAULT_REPORT") ? std::fopen(env("DORVASU_FAULT_REPORT"), "w") : nullptr;
        if (!f)
            return;
        std::fprintf(f, "%ld %s", counted.load(), failedCall.load() ? failedCall.load() : "-");
        for (long i = 0; i < counted.load() && i < kKeptNames; ++i)
            std::fprintf(f, " %s", names[i].load());
        std::fclose(f);
    }
} reporter;

} // namespace

// CALL(return type, name, failure value, test, (parameters), (arguments)[, noexcept]):
// the call, counted as `as` (its name), fails when `test` says so, else goes on to the real one.
#define CALL(R, name, failed, test, params, args, ...)                                              \
    R name params __VA_ARGS__                                                                       \
    {                                                                                               \
        static const auto real = reinterpret_cast<R(*) params>(::dlsym(RTLD_NEXT, #name));         \
        const char *const as = #name;                                                               \
        return test ? failed : real args;                                                           \
    }

extern "C" {
CALL(ssize_t, write, -1, failFd(as, fd), (int fd, const void *p, size_t n), (fd, p, n))
CALL(ssize_t, pread, -1, failFd(as, fd), (int fd, void *p, size_t n, off_t at), (fd, p, n, at))
CALL(ssize_t, pwrite, -1, failFd(as, fd), (int fd, const void *p, size_t n, off_t at), (fd, p, n, at))
CALL(int, fsync, -1, failFd(as, fd), (int fd), (fd))
CALL(int, fdatasync, -1, failFd(as, fd), (int fd), (fd))
CALL(ssize_t, copy_file_range, -1, failFd(as, out),
     (int in, off64_t *inAt, int out, off64_t *outAt, size_t n, unsigned flags),
     (in, inAt, out, outAt, n, flags))
CALL(int, rename, -1, failPaths(as, a, b), (const char *a, const char *b), (a, b), noexcept)
CALL(int, renameat, -1, failPaths(as, a, b), (int da, const char *a, int db, const char *b),
     (da, a, db, b), noexcept)
CALL(int, linkat, -1, failPaths(as, a, b), (int da, const char *a, int db, const char *b, int flags),
     (da, a, db, b, flags), noexcept)
}
