#include "noreplace.h"

#include "paths.h"

#include <QByteArrayView>
#include <QRandomGenerator>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace renaming {

namespace {

// For file systems with neither RENAME_NOREPLACE nor hard links: reserves
// `to` by creating an empty file there exclusively, then renames `from` over
// it. rename(2) replaces, so it is only called while `to` is still that
// empty file of ours.
int moveOverReservation(const char *from, const char *to)
{
    const int fd = ::open(to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    struct stat mine;
    const bool statted = ::fstat(fd, &mine) == 0;
    ::close(fd);
    if (!statted) {
        const int e = errno;
        ::unlink(to);
        return e;
    }
    auto stillMine = [&] {
        struct stat now;
        return ::lstat(to, &now) == 0 && S_ISREG(now.st_mode) && now.st_size == 0
               && now.st_dev == mine.st_dev && now.st_ino == mine.st_ino;
    };
    // Someone else took the name in between: it is theirs now.
    if (!stillMine())
        return EEXIST;
    if (::rename(from, to) == 0)
        return 0;
    const int e = errno;
    if (stillMine())
        ::unlink(to);
    return e;
}

// The move itself, with no special cases: 0 or an errno value.
int moveNoReplace(const char *from, const char *to)
{
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    int e = errno;
    // EINVAL: the file system does not know the flag (the source is a file,
    // not a folder, so no other reason for EINVAL applies).
    if (e != EINVAL && e != ENOSYS)
        return e;
    // link() never replaces: it fails with EEXIST when the name is taken.
    if (::link(from, to) == 0) {
        if (::unlink(from) == 0)
            return 0;
        e = errno;
        ::unlink(to);   // both names lead to the file; drop the new one
        return e;
    }
    e = errno;
    if (e != EPERM && e != EOPNOTSUPP && e != ENOSYS && e != EMLINK)
        return e;
    return moveOverReservation(from, to);
}

// True when the folder holds an entry named exactly `name` (byte for byte).
bool folderHoldsExactly(const QByteArray &folder, const QByteArray &name)
{
    DIR *dir = ::opendir(folder.isEmpty() ? "." : folder.constData());
    if (!dir)
        return false;
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

// Two names equal but for letter case: compared as text where both are
// UTF-8, else ASCII letters only.
bool equalIgnoringCase(const QByteArray &a, const QByteArray &b)
{
    if (QByteArrayView(a).isValidUtf8() && QByteArrayView(b).isValidUtf8())
        return QString::fromUtf8(a).compare(QString::fromUtf8(b), Qt::CaseInsensitive) == 0;
    return a.size() == b.size() && a.toLower() == b.toLower();
}

// True when `to` differs from `from` in letter case only and the file
// system resolved it to `from` itself: `to` is found, but no entry of the
// folder bears exactly that name. A folder that ignores case holds only one
// entry per name ignoring case, so that entry is `from`.
bool isCaseOnlyAlias(const QByteArray &from, const QByteArray &to)
{
    const QByteArray folder = paths::folderOf(from);
    const QByteArray fromName = paths::nameOf(from), toName = paths::nameOf(to);
    if (paths::folderOf(to) != folder || fromName == toName || !equalIgnoringCase(fromName, toName))
        return false;
    struct stat st;
    if (::lstat(to.constData(), &st) != 0)
        return false;
    return !folderHoldsExactly(folder, toName) && folderHoldsExactly(folder, fromName);
}

RenameStatus renameThroughTemporary(const QByteArray &from, const QByteArray &to)
{
    QByteArray temporary;
    int e = EEXIST;
    for (int attempt = 0; attempt < 100 && e == EEXIST; ++attempt) {
        temporary = paths::folderOf(from) + ".dorvasu-rename-" + QByteArray::number(::getpid())
                    + '-' + QByteArray::number(QRandomGenerator::global()->generate(), 16);
        e = moveNoReplace(from.constData(), temporary.constData());
    }
    if (e != 0)
        return {e, from};
    e = moveNoReplace(temporary.constData(), to.constData());
    if (e == 0)
        return {0, to};
    if (moveNoReplace(temporary.constData(), from.constData()) == 0)
        return {e, from};
    return {e, temporary};
}

} // namespace

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
    const int e = moveNoReplace(from.constData(), to.constData());
    if (e == 0)
        return {0, to};
    if (e == EEXIST && isCaseOnlyAlias(from, to))
        return renameThroughTemporary(from, to);
    return {e, from};
}

} // namespace renaming
