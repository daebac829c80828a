#include "core/tags/write_files.h"

#include "core/tags/vbmp3.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QSet>

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mp3lib::detail {

namespace {

constexpr std::int64_t kChunk = 1 << 20;
constexpr int kRandomLength = 4;
constexpr int kMarkLength = 4;
const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

bool writeExactly(int fd, std::int64_t offset, const char *data, std::int64_t size)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, static_cast<size_t>(size), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        offset += n;
        size -= n;
    }
    return true;
}

bool copyByReading(int from, std::int64_t in, int to, std::int64_t out, std::int64_t size)
{
    QByteArray buffer(static_cast<qsizetype>(qMin(size, kChunk)), Qt::Uninitialized);
    while (size > 0) {
        const std::int64_t n = qMin<std::int64_t>(size, buffer.size());
        if (!readExactly(from, in, buffer.data(), n) || !writeExactly(to, out, buffer.data(), n))
            return false;
        in += n;
        out += n;
        size -= n;
    }
    return true;
}

// The mark of a copy's name: kMarkLength letters derived from the rest of
// the name, which a name this program did not make matches by chance once
// in about 15 million.
QByteArray nameMark(QByteArrayView unmarked)
{
    const QByteArray hash = QCryptographicHash::hash(QByteArray("dorvasu copy ").append(unmarked), QCryptographicHash::Sha256);
    QByteArray mark;
    for (int i = 0; i < kMarkLength; ++i)
        mark += kLetters[static_cast<unsigned char>(hash[i]) % (sizeof kLetters - 1)];
    return mark;
}

// The part of a copy's name before its random letters: "." <name>
// ".dorvasu-", <name> the original's, shortened where too long; empty when
// `name` is not the name of a copy this program made.
QByteArray copyPrefixOf(QByteArrayView name)
{
    static const QByteArrayView mark = ".dorvasu-";
    const qsizetype tail = kRandomLength + kMarkLength;
    if (!name.startsWith('.') || name.size() < 1 + mark.size() + tail
        || name.sliced(name.size() - tail - mark.size(), mark.size()) != mark
        || name.last(kMarkLength) != nameMark(name.first(name.size() - kMarkLength)))
        return {};
    return name.first(name.size() - tail).toByteArray();
}

QByteArray randomSuffix()
{
    QByteArray suffix;
    for (int i = 0; i < kRandomLength; ++i)
        suffix += kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters) - 1)];
    return suffix;
}

} // namespace

void (*beforeReplacing)() = nullptr;

QByteArray newCopyName(const QByteArray &base)
{
    const QByteArray unmarked = copyNamePrefix(base) + randomSuffix();
    return unmarked + nameMark(unmarked);
}

QByteArray readAt(int fd, std::int64_t offset, std::int64_t size)
{
    QByteArray data(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (!readExactly(fd, offset, data.data(), size))
        return {};
    return data;
}

bool writeAt(int fd, std::int64_t offset, const QByteArray &data)
{
    return writeExactly(fd, offset, data.constData(), data.size());
}

bool copyRange(int from, std::int64_t fromOffset, int to, std::int64_t toOffset, std::int64_t size)
{
    // In the kernel where the file system allows (and shares blocks where it
    // can); by reading and writing where it does not.
    loff_t in = fromOffset, out = toOffset;
    const loff_t end = fromOffset + size;
    while (in < end) {
        const ssize_t n = ::copy_file_range(from, &in, to, &out, static_cast<size_t>(end - in), 0);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == ENOSYS || errno == EOPNOTSUPP || errno == EXDEV || errno == EINVAL))
            return copyByReading(from, in, to, out, end - in);
        return false;   // an error, or the file got shorter meanwhile
    }
    return true;
}

bool sameBytes(int a, std::int64_t offsetA, int b, std::int64_t offsetB, std::int64_t size)
{
    QByteArray bufferA(static_cast<qsizetype>(qMin(size, kChunk)), Qt::Uninitialized);
    QByteArray bufferB(bufferA.size(), Qt::Uninitialized);
    for (std::int64_t done = 0; done < size;) {
        const std::int64_t n = qMin<std::int64_t>(size - done, bufferA.size());
        if (!readExactly(a, offsetA + done, bufferA.data(), n)
            || !readExactly(b, offsetB + done, bufferB.data(), n)
            || std::memcmp(bufferA.constData(), bufferB.constData(), n) != 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray copyNamePrefix(const QByteArray &base)
{
    static const QByteArray mark = ".dorvasu-";
    const qsizetype room = NAME_MAX - 1 - mark.size() - kRandomLength - kMarkLength;
    qsizetype n = qMin(base.size(), room);
    // Back off to the start of a UTF-8 character (continuation bytes are
    // 10xxxxxx), so the name stays valid text.
    if (n < base.size()) {
        while (n > 0 && (static_cast<unsigned char>(base[n]) & 0xC0) == 0x80)
            --n;
    }
    return '.' + base.left(n) + mark;
}

ReplacementCopy::~ReplacementCopy()
{
    if (fd_.valid() && !done_ && !name_.isEmpty())
        ::unlinkat(dirFd_, name_.constData(), 0);
}

bool ReplacementCopy::create(int dirFd, const QByteArray &base)
{
    dirFd_ = dirFd;
    int fd = ::openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
        fd_ = Fd(fd);
        return ::flock(fd, LOCK_EX) == 0;
    }
    // A file system without unnamed files: the copy is named at once and
    // locked right after. (Tidying in that instant could remove it; the
    // write would then fail, leaving the file as it was.)
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = newCopyName(base);
        fd = ::openat(dirFd, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            name_ = name;
            fd_ = Fd(fd);
            return ::flock(fd, LOCK_EX) == 0;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// Gives an unnamed copy its hidden name in the folder.
bool ReplacementCopy::nameCopy(const QByteArray &base)
{
    if (!name_.isEmpty())
        return true;
    char path[64];
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = newCopyName(base);
        if (::linkat(AT_FDCWD, fdPath(fd_.get(), path), dirFd_, name.constData(), AT_SYMLINK_FOLLOW) == 0) {
            name_ = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool ReplacementCopy::replace(const QByteArray &base, const struct stat &original)
{
    if (!fd_.valid() || done_ || !nameCopy(base))
        return false;
    if (beforeReplacing)
        beforeReplacing();
    const auto isOriginal = [&](const char *name) {
        struct stat st;
        return ::fstatat(dirFd_, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == original.st_dev
               && st.st_ino == original.st_ino;
    };
    // The copy and the name change places in one step; what moved out must
    // be the original. Another program's file, put there meanwhile, goes
    // back under its name, and the write fails.
    if (::renameat2(dirFd_, name_.constData(), dirFd_, base.constData(), RENAME_EXCHANGE) == 0) {
        if (!isOriginal(name_.constData())) {
            // Should even the way back fail, the copy's name holds their
            // file: it is not removed.
            if (::renameat2(dirFd_, name_.constData(), dirFd_, base.constData(), RENAME_EXCHANGE) != 0)
                name_.clear();
            return false;
        }
        done_ = true;
        // The old file now bears the copy's name and mark: should this be
        // cut short, the folder's next reading removes it.
        ::unlinkat(dirFd_, name_.constData(), 0);
    } else {
        // A file system without the exchange (FUSE mounts): the check and
        // the rename are two steps.
        if ((errno != EINVAL && errno != ENOSYS) || !isOriginal(base.constData())
            || ::renameat(dirFd_, name_.constData(), dirFd_, base.constData()) != 0)
            return false;
        done_ = true;
    }
    // The rename is durable once the folder is flushed. If that fails the
    // file still reads as the new one; there is nothing left to undo.
    ::fsync(dirFd_);
    return true;
}

Fd openParentFolder(const QByteArray &realPath, QByteArray *base)
{
    const qsizetype slash = realPath.lastIndexOf('/');
    if (slash < 0 || slash == realPath.size() - 1)
        return Fd();
    *base = realPath.mid(slash + 1);
    const QByteArray folder = slash == 0 ? QByteArray("/") : realPath.left(slash);
    return Fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

} // namespace mp3lib::detail

void mp3lib::removeLeftoverCopies(const char *folder)
{
    using namespace mp3lib::detail;
    if (!folder || !*folder)
        return;
    const Fd dirFd(::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd.valid())
        return;
    const int listFd = ::dup(dirFd.get());
    DIR *dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
    if (!dir) {
        if (listFd >= 0)
            ::close(listFd);
        return;
    }
    // The copies are told by their names' mark, and removed only where the
    // file they were made of is in the folder.
    QByteArrayList copies, others;
    QSet<QByteArray> prefixes;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name), prefix = copyPrefixOf(name);
        if (!prefix.isEmpty()) {
            copies.append(name);
            prefixes.insert(prefix);
        } else if (entry->d_type == DT_REG || entry->d_type == DT_UNKNOWN) {
            others.append(name);
        }
    }
    QSet<QByteArray> originals;   // the prefixes of copies whose file is there
    for (const QByteArray &name : std::as_const(others)) {
        const QByteArray prefix = copyNamePrefix(name);
        struct stat st;
        if (prefixes.contains(prefix) && ::fstatat(dirFd.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISREG(st.st_mode))
            originals.insert(prefix);
    }
    for (const QByteArray &name : std::as_const(copies)) {
        if (!originals.contains(copyPrefixOf(name)))
            continue;
        // A copy whose lock we get has no writer any more. It must still be
        // the file under that name when it goes.
        const Fd copy(::openat(dirFd.get(), name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat held, named;
        if (!copy.valid() || ::fstat(copy.get(), &held) != 0 || !S_ISREG(held.st_mode)
            || ::flock(copy.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        if (::fstatat(dirFd.get(), name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
            && named.st_dev == held.st_dev && named.st_ino == held.st_ino)
            ::unlinkat(dirFd.get(), name.constData(), 0);
    }
    ::closedir(dir);
}
