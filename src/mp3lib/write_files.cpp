#include "write_files.h"

#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mp3lib::detail {

namespace {

constexpr std::int64_t kChunk = 1 << 20;
constexpr int kRandomLength = 6;

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

bool copyByReading(int from, int to, std::int64_t offset, std::int64_t size)
{
    QByteArray buffer(static_cast<qsizetype>(qMin(size, kChunk)), Qt::Uninitialized);
    while (size > 0) {
        const std::int64_t n = qMin<std::int64_t>(size, buffer.size());
        if (!readExactly(from, offset, buffer.data(), n) || !writeExactly(to, offset, buffer.data(), n))
            return false;
        offset += n;
        size -= n;
    }
    return true;
}

bool isCopyName(const char *name, const QByteArray &prefix)
{
    const size_t length = std::strlen(name);
    if (length != static_cast<size_t>(prefix.size()) + kRandomLength
        || std::memcmp(name, prefix.constData(), prefix.size()) != 0)
        return false;
    for (size_t i = prefix.size(); i < length; ++i) {
        const char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

} // namespace

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

bool copyContents(int from, int to, std::int64_t size)
{
    // In the kernel where the file system allows (and shares blocks where it
    // can); by reading and writing where it does not.
    loff_t in = 0, out = 0;
    while (in < size) {
        const ssize_t n = ::copy_file_range(from, &in, to, &out, static_cast<size_t>(size - in), 0);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == ENOSYS || errno == EOPNOTSUPP || errno == EXDEV || errno == EINVAL))
            return copyByReading(from, to, in, size - in);
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
    const qsizetype room = NAME_MAX - 1 - mark.size() - kRandomLength;
    qsizetype n = qMin(base.size(), room);
    // Back off to the start of a UTF-8 character (continuation bytes are
    // 10xxxxxx), so the name stays valid text.
    if (n < base.size()) {
        while (n > 0 && (static_cast<unsigned char>(base[n]) & 0xC0) == 0x80)
            --n;
    }
    return '.' + base.left(n) + mark;
}

void removeLeftCopies(int dirFd, const QByteArray &base)
{
    const int listFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return;
    DIR *dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return;
    }
    const QByteArray prefix = copyNamePrefix(base);
    while (const dirent *entry = ::readdir(dir)) {
        if (!isCopyName(entry->d_name, prefix))
            continue;
        struct stat st;
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

ReplacementCopy::~ReplacementCopy()
{
    if (fd_.valid() && !done_)
        ::unlinkat(dirFd_, name_.constData(), 0);
}

bool ReplacementCopy::create(int dirFd, const QByteArray &base)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const QByteArray prefix = copyNamePrefix(base);
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray name = prefix;
        for (int i = 0; i < kRandomLength; ++i)
            name += letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)];
        const int fd = ::openat(dirFd, name.constData(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            dirFd_ = dirFd;
            name_ = name;
            fd_ = Fd(fd);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool ReplacementCopy::replace(const QByteArray &base)
{
    if (!fd_.valid() || done_)
        return false;
    if (::renameat(dirFd_, name_.constData(), dirFd_, base.constData()) != 0)
        return false;
    done_ = true;
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
