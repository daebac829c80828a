#include "core/settings/inifile_io.h"

#include "core/settings/initext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A settings file holds a few hundred bytes. Reads look at no more than this
// much of a file, so a huge or endless one costs bounded time and memory;
// writes refuse a larger file rather than rewrite only part of it.
constexpr qsizetype kMaxFileBytes = 1024 * 1024;

// The longest value a read gives back, in UTF-8 bytes.
constexpr qsizetype kMaxValueBytes = 1023;

struct FileText {
    enum Status { Read, Missing, Failed } status = Failed;
    QByteArray bytes;        // whole lines only
    bool complete = false;   // bytes hold the whole file
    struct stat info {};
};

FileText readFile(const QString &path)
{
    FileText f;
    if (path.isEmpty())
        return f;
    // Non-blocking, so that a FIFO at the path cannot stall the open; only a
    // regular file is read at all (a device such as /dev/zero never ends).
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            f.status = FileText::Missing;
            f.complete = true;
        }
        return f;
    }
    if (::fstat(fd, &f.info) != 0 || !S_ISREG(f.info.st_mode)) {
        ::close(fd);
        return f;
    }

    // One byte more than the limit tells whether the file goes on past it.
    qsizetype capacity = std::clamp<qint64>(f.info.st_size + 1, 4096, kMaxFileBytes + 1);
    f.bytes.resize(capacity);
    qsizetype total = 0;
    for (;;) {
        if (total == capacity) {
            if (capacity == kMaxFileBytes + 1)
                break;
            capacity = std::min(capacity * 2, kMaxFileBytes + 1);
            f.bytes.resize(capacity);
        }
        const ssize_t n = ::read(fd, f.bytes.data() + total, size_t(capacity - total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            f.bytes.clear();
            return f;
        }
        if (n == 0)
            break;
        total += n;
    }
    ::close(fd);

    f.status = FileText::Read;
    f.complete = total <= kMaxFileBytes;
    if (f.complete) {
        f.bytes.truncate(total);
    } else {
        // Keep whole lines only: a line cut at the limit could read as a
        // different value than it holds.
        f.bytes.truncate(f.bytes.lastIndexOf('\n', kMaxFileBytes - 1) + 1);
    }
    return f;
}

// The stored value, cut as a read gives it back; empty when missing.
QByteArray storedValue(const QString &path, const QString &section, const QString &key)
{
    const FileText f = readFile(path);
    if (f.status != FileText::Read)
        return {};
    const std::optional<QByteArray> v = initext::value(f.bytes, section, key);
    return v ? initext::cutValue(*v, kMaxValueBytes) : QByteArray();
}

// The replacement file goes in under the old file's owner where the process
// may do that (root writing a user's file); elsewhere it is ours anyway.
void keepOwner(int fd, const struct stat &old)
{
    struct stat now {};
    if (fd < 0 || ::fstat(fd, &now) != 0)
        return;
    if (now.st_uid != old.st_uid || now.st_gid != old.st_gid) {
        if (::fchown(fd, old.st_uid, old.st_gid) == 0)
            ::fchmod(fd, old.st_mode & 07777);   // chown drops set-id bits
    }
}

} // namespace

QString inifile_IO::GetWinFolder() const
{
    return QStringLiteral("/etc");
}

bool inifile_IO::WriteStr(const QString &section, const QString &key, const QString &value)
{
    const FileText f = readFile(fileName_);
    if (f.status == FileText::Failed || !f.complete)
        return false;
    // NUL bytes mean this is not a UTF-8 text file (a UTF-16 one, say): lines
    // added to it in UTF-8 would damage it.
    if (f.bytes.contains('\0'))
        return false;

    const std::optional<QByteArray> changed = initext::withValue(f.bytes, section, key, value);
    if (!changed)
        return false;
    if (f.status == FileText::Read && *changed == f.bytes)
        return true;   // already stored as asked

    // The new text goes to a temporary file beside the old one, which then
    // replaces it in one rename: a crash leaves the old file or the new one,
    // never a part of either. QSaveFile keeps the old file's permissions.
    // Unbuffered: QSaveFile only notices a write that fails while writing;
    // one that fails in the flush of its buffer at commit() would put a cut
    // (even empty) file in place of the old one and report success.
    QSaveFile out(fileName_);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (f.status == FileText::Read)
        keepOwner(out.handle(), f.info);
    // commit() flushes the new file to the disk but ignores a failure to:
    // a file that may not be on the disk must not replace the old one.
    if (out.write(*changed) != changed->size() || ::fsync(out.handle()) != 0) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

std::int16_t inifile_IO::ReadInt(const QString &section, const QString &key, std::int16_t def)
{
    return initext::toInt16(storedValue(fileName_, section, key)).value_or(def);
}

QString inifile_IO::ReadStr(const QString &section, const QString &key, const QString &def)
{
    const QByteArray v = storedValue(fileName_, section, key);
    return v.isEmpty() ? def : QString::fromUtf8(v);
}

QString settingsFilePath(const QString &appFolder, const QString &baseName)
{
    const QString fileName = baseName + QStringLiteral(".ini");
    const auto inFolder = [&](const QString &folder) {
        return folder.endsWith(u'/') ? folder + fileName : folder + u'/' + fileName;
    };

    // Creating a file in a folder takes write and search permission on it;
    // access() also says no for a read-only file system, even to root.
    // A program installed under /usr (/usr/bin, /usr/local/bin) keeps its
    // settings per user even where the process may write there (root): a file
    // beside it would belong to no package and be shared by every user.
    const QString canonical = QFileInfo(appFolder).canonicalFilePath();
    const bool installed = canonical == u"/usr" || canonical.startsWith(u"/usr/");
    if (!installed && !appFolder.isEmpty() && QFileInfo(appFolder).isDir()
        && ::access(QFile::encodeName(appFolder).constData(), W_OK | X_OK) == 0)
        return inFolder(appFolder);

    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        return inFolder(appFolder);   // nowhere better: writes there simply fail
    const QString folder = config + QStringLiteral("/dorvasu");
    QDir().mkpath(folder);
    return inFolder(folder);
}
