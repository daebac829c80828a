#include "core/collection/mp3tree.h"

#include "core/paths/paths.h"

#include <QSet>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace collection {

namespace {

struct FolderId {
    dev_t device;
    ino_t inode;
    bool operator==(const FolderId &) const = default;
};

size_t qHash(const FolderId &id, size_t seed = 0)
{
    return ::qHash(quint64(id.device), seed) ^ ::qHash(quint64(id.inode), seed);
}

class Walker {
public:
    explicit Walker(WalkProgress *progress) : progress_(progress) {}

    void root(const QByteArray &path)
    {
        struct stat st;
        if (::stat(path.constData(), &st) != 0)
            return;
        if (S_ISDIR(st.st_mode))
            folders_.append({path, {st.st_dev, st.st_ino}});
        else if (S_ISREG(st.st_mode) && isMp3Name(path.mid(path.lastIndexOf('/') + 1)))
            add(path);
    }

    // Walks the folders one after the other, not recursively (a deep tree
    // cannot exhaust the stack). Folders reached through links come last,
    // so that a folder also reached by its own path is listed under that.
    void run()
    {
        while (!cancelled()) {
            QList<Pending> &from = folders_.isEmpty() ? linked_ : folders_;
            if (from.isEmpty())
                break;
            const Pending next = from.takeLast();
            if (visited_.contains(next.id))
                continue;
            visited_.insert(next.id);
            folder(next.path);
        }
    }

    bool cancelled() const { return progress_ && progress_->cancel.load(std::memory_order_relaxed); }
    QList<QByteArray> files;

private:
    struct Pending {
        QByteArray path;
        FolderId id;
    };

    void add(const QByteArray &path)
    {
        files.append(path);
        if (progress_)
            progress_->found.fetch_add(1, std::memory_order_relaxed);
    }

    void folder(const QByteArray &path)
    {
        if (progress_) {
            progress_->folders.fetch_add(1, std::memory_order_relaxed);
            progress_->current.set(path);
        }
        DIR *dir = ::opendir(path.constData());
        if (!dir)
            return;   // unreadable: its files are not ours to list
        const int dirFd = ::dirfd(dir);
        int seen = 0;
        while (const dirent *entry = ::readdir(dir)) {
            // A folder of a great many files is left part-way on a cancel.
            if (++seen % 1024 == 0 && cancelled())
                break;
            const char *name = entry->d_name;
            if (name[0] == '.')
                continue;   // hidden, and "." and ".."
            const unsigned char type = entry->d_type;
            if (type == DT_REG) {
                if (isMp3Name(QByteArray::fromRawData(name, qsizetype(strlen(name)))))
                    add(paths::join(path, QByteArray(name)));
                continue;
            }
            if (type != DT_DIR && type != DT_LNK && type != DT_UNKNOWN)
                continue;
            struct stat st;
            if (::fstatat(dirFd, name, &st, 0) != 0)
                continue;   // a broken link
            const QByteArray child = paths::join(path, QByteArray(name));
            if (S_ISDIR(st.st_mode))
                (type == DT_LNK ? linked_ : folders_).append({child, {st.st_dev, st.st_ino}});
            else if (S_ISREG(st.st_mode) && isMp3Name(QByteArray(name)))
                add(child);
        }
        ::closedir(dir);
    }

    WalkProgress *progress_;
    QList<Pending> folders_;
    QList<Pending> linked_;
    QSet<FolderId> visited_;
};

} // namespace

bool isMp3Name(const QByteArray &name)
{
    return name.size() > 4 && !name.startsWith('.') && name.right(4).toLower() == ".mp3";
}

QList<QByteArray> mp3FilesUnder(const QList<QByteArray> &roots, WalkProgress *progress)
{
    Walker walker(progress);
    for (const QByteArray &root : roots)
        walker.root(root);
    walker.run();
    if (walker.cancelled())
        return {};
    QList<QByteArray> &files = walker.files;
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return files;
}

} // namespace collection
