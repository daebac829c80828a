#include "core/rename/noreplace.h"

#include "core/paths/paths.h"

#include <QByteArrayView>
#include <QCryptographicHash>
#include <QString>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace renaming {

namespace {

std::atomic<Route> firstRoute{Route::Native};

qint64 nanoseconds(const statx_timestamp &t) { return qint64(t.tv_sec) * 1000000000 + t.tv_nsec; }

// For file systems with neither RENAME_NOREPLACE nor hard links: reserves
// `to` by creating an empty file there exclusively, then renames `from` over
// it. rename(2) replaces, so it is only called while `to` is still that
// empty file of ours; a failed rename removes the reservation again.
int moveOverReservation(int dirFd, const char *from, const char *to, const std::function<bool()> &beforeReserving)
{
    if (beforeReserving && !beforeReserving())
        return EIO;
    const int fd = ::openat(dirFd, to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    struct stat mine;
    const bool statted = ::fstat(fd, &mine) == 0;
    ::close(fd);
    auto stillMine = [&] {
        struct stat now;
        return statted && ::fstatat(dirFd, to, &now, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(now.st_mode)
               && now.st_size == 0 && now.st_dev == mine.st_dev && now.st_ino == mine.st_ino;
    };
    // Someone else took the name in between: it is theirs now.
    if (!stillMine())
        return statted ? EEXIST : EIO;
    if (::renameat(dirFd, from, dirFd, to) == 0)
        return 0;
    const int e = errno;
    if (stillMine())
        ::unlinkat(dirFd, to, 0);
    return e;
}

// The move itself, with no special cases: 0 or an errno value.
int moveNoReplace(int dirFd, const char *from, const char *to, const std::function<bool()> &beforeReserving)
{
    int e = EINVAL;
    if (firstRoute.load() == Route::Native) {
        if (::renameat2(dirFd, from, dirFd, to, RENAME_NOREPLACE) == 0)
            return 0;
        e = errno;
    }
    // EINVAL: the file system does not know the flag (the source is a file,
    // not a folder, so no other reason for EINVAL applies).
    if (e != EINVAL && e != ENOSYS)
        return e;
    // link() never replaces: it fails with EEXIST when the name is taken.
    // A crash between the two steps leaves the file under both names, which
    // the journal's settling undoes.
    e = EPERM;
    if (firstRoute.load() != Route::Reservation) {
        if (::linkat(dirFd, from, dirFd, to, 0) == 0) {
            if (::unlinkat(dirFd, from, 0) == 0)
                return 0;
            e = errno;
            ::unlinkat(dirFd, to, 0);   // both names lead to the file; drop the new one
            return e;
        }
        e = errno;
    }
    if (e != EPERM && e != EOPNOTSUPP && e != ENOSYS && e != EMLINK)
        return e;
    return moveOverReservation(dirFd, from, to, beforeReserving);
}

// True when `toName` differs from `fromName` in letter case only and the
// file system resolved it to `fromName` itself: `toName` is found, but no
// entry of the folder bears exactly that name. A folder that ignores case
// holds only one entry per name ignoring case, so that entry is `fromName`.
bool isCaseOnlyAlias(int dirFd, const QByteArray &fromName, const QByteArray &toName)
{
    if (fromName == toName || !equalIgnoringCase(fromName, toName))
        return false;
    struct stat st;
    if (::fstatat(dirFd, toName.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    return !holdsExactly(dirFd, toName) && holdsExactly(dirFd, fromName);
}

RenameStatus renameThroughTemporary(int dirFd, const QByteArray &from, const QByteArray &to,
                                    const std::function<bool()> &beforeReserving)
{
    const QByteArray temporary = caseTemporaryName(to);
    int e = moveNoReplace(dirFd, from.constData(), temporary.constData(), {});
    if (e != 0)
        return {e, from};
    e = moveNoReplace(dirFd, temporary.constData(), to.constData(), beforeReserving);
    if (e == 0)
        return {0, to};
    if (moveNoReplace(dirFd, temporary.constData(), from.constData(), {}) == 0)
        return {e, from};
    return {e, temporary};
}

} // namespace

bool FileIdentity::sameFileAs(const FileIdentity &other) const
{
    if (device != other.device || inode != other.inode || link != other.link)
        return false;
    if (born != 0 || other.born != 0)
        return born == other.born;
    return size == other.size && modified == other.modified;
}

bool identifyAt(int dirFd, const QByteArray &name, FileIdentity *id)
{
    struct statx st;
    if (name.isEmpty() || name.contains('\0')
        || ::statx(dirFd, name.constData(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &st) != 0)
        return false;
    id->device = (quint64(st.stx_dev_major) << 32) | st.stx_dev_minor;
    id->inode = st.stx_ino;
    id->size = st.stx_size;
    id->modified = nanoseconds(st.stx_mtime);
    id->born = (st.stx_mask & STATX_BTIME) ? nanoseconds(st.stx_btime) : 0;
    id->link = S_ISLNK(st.stx_mode);
    id->regular = S_ISREG(st.stx_mode);
    return true;
}

OpenFolders::~OpenFolders()
{
    for (const int fd : std::as_const(fds_)) {
        if (fd >= 0)
            ::close(fd);
    }
}

int OpenFolders::at(const QByteArray &folder)
{
    const auto it = fds_.constFind(folder);
    if (it != fds_.constEnd())
        return *it;
    const int fd = folder.contains('\0')
                       ? -1
                       : ::open(folder.isEmpty() ? "." : folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    fds_.insert(folder, fd);
    return fd;
}

bool OpenFolders::stillAt(const QByteArray &folder) const
{
    const int fd = fds_.value(folder, -1);
    struct stat opened, named;
    return fd >= 0 && ::fstat(fd, &opened) == 0
           && ::stat(folder.isEmpty() ? "." : folder.constData(), &named) == 0 && opened.st_dev == named.st_dev
           && opened.st_ino == named.st_ino;
}

void forceRouteForTesting(Route route) { firstRoute = route; }

QByteArray caseTemporaryName(const QByteArray &toName)
{
    return ".dorvasu-case-" + QCryptographicHash::hash(toName, QCryptographicHash::Sha1).toHex().left(16);
}

bool equalIgnoringCase(const QByteArray &a, const QByteArray &b)
{
    if (QByteArrayView(a).isValidUtf8() && QByteArrayView(b).isValidUtf8())
        return QString::fromUtf8(a).compare(QString::fromUtf8(b), Qt::CaseInsensitive) == 0;
    return a.size() == b.size() && a.toLower() == b.toLower();
}

bool holdsExactly(int dirFd, const QByteArray &name)
{
    const int listFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
    if (!dir) {
        if (listFd >= 0)
            ::close(listFd);
        return false;
    }
    bool found = false;
    while (const dirent *entry = ::readdir(dir)) {
        if (name == entry->d_name) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

RenameStatus renameAt(int dirFd, const QByteArray &fromName, const QByteArray &toName,
                      const std::function<bool()> &beforeReserving)
{
    if (fromName.isEmpty() || toName.isEmpty() || fromName.contains('/') || toName.contains('/'))
        return {ENOENT, fromName};
    if (fromName.contains('\0') || toName.contains('\0'))
        return {EINVAL, fromName};
    const int e = moveNoReplace(dirFd, fromName.constData(), toName.constData(), beforeReserving);
    if (e == 0)
        return {0, toName};
    if (e == EEXIST && isCaseOnlyAlias(dirFd, fromName, toName))
        return renameThroughTemporary(dirFd, fromName, toName, beforeReserving);
    return {e, fromName};
}

RenameStatus renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (from.isEmpty() || to.isEmpty())
        return {ENOENT, from};
    if (from.contains('\0') || to.contains('\0'))
        return {EINVAL, from};
    struct stat st;
    if (::lstat(from.constData(), &st) != 0)
        return {errno, from};
    if (S_ISDIR(st.st_mode))
        return {EISDIR, from};
    if (from == to)
        return {0, from};
    const QByteArray folder = paths::folderOf(from);
    if (paths::folderOf(to) != folder)
        return {EXDEV, from};
    OpenFolders folders;
    const int dirFd = folders.at(folder);
    if (dirFd < 0)
        return {errno, from};
    const RenameStatus status = renameAt(dirFd, paths::nameOf(from), paths::nameOf(to));
    return {status.error, folder + status.path};
}

} // namespace renaming
