#include "core/collection/folders.h"

#include "core/collection/mp3tree.h"
#include "core/paths/paths.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>

namespace collection {

namespace {

bool shownBefore(const Entry &a, const Entry &b)
{
    const int c = a.shown.compare(b.shown, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a.name < b.name;
}

// The entries of `folder` for which `wanted` says yes, sorted; `wanted` gets
// the name and its directory entry type.
template <typename Wanted>
QList<Entry> listFolder(const QByteArray &folder, Wanted wanted,
                        const std::atomic_bool *cancel = nullptr)
{
    QList<Entry> entries;
    if (folder.isEmpty() || folder.contains('\0'))
        return entries;
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return entries;
    while (const dirent *entry = ::readdir(dir)) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            break;
        const QByteArray name(entry->d_name);
        if (name.startsWith('.')) // hidden, and "." and ".."
            continue;
        if (wanted(folder, name, entry->d_type))
            entries.append({name, paths::display(name)});
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(), shownBefore);
    return entries;
}

// The file type of a directory entry, links followed; a link or a file
// system that does not say needs a stat().
mode_t typeOf(const QByteArray &folder, const QByteArray &name, unsigned char type)
{
    if (type == DT_DIR)
        return S_IFDIR;
    if (type == DT_REG)
        return S_IFREG;
    if (type != DT_LNK && type != DT_UNKNOWN)
        return 0;
    struct stat st;
    if (::stat(paths::join(folder, name).constData(), &st) != 0)
        return 0;
    return st.st_mode & S_IFMT;
}

QByteArray unescapeOctal(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = digits.size() == 3;
            const int value = ok ? digits.toInt(&ok, 8) : 0;
            if (ok && value < 256) {
                out += char(value);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

bool isSystemFileSystem(const QByteArray &type)
{
    static const QSet<QByteArray> kTypes = {
        "proc",      "sysfs",      "devtmpfs",  "devpts",     "tmpfs",   "ramfs",
        "squashfs",  "overlay",    "cgroup",    "cgroup2",    "autofs",  "nsfs",
        "efivarfs",  "securityfs", "pstore",    "debugfs",    "tracefs", "configfs",
        "bpf",       "mqueue",     "hugetlbfs", "binfmt_misc", "fusectl", "rpc_pipefs",
        "fuse.portal", "fuse.gvfsd-fuse", "rootfs",
    };
    return kTypes.contains(type);
}

bool isUnder(const QByteArray &path, const QByteArray &folder)
{
    return path == folder
           || (path.startsWith(folder) && (folder.endsWith('/') || path[folder.size()] == '/'));
}

bool isSystemMountPoint(const QByteArray &root)
{
    if (isUnder(root, "/run/media"))
        return false;
    for (const char *folder : {"/proc", "/sys", "/dev", "/run", "/var/run", "/var/lock", "/snap"}) {
        if (isUnder(root, folder))
            return true;
    }
    return false;
}

QList<Mount> mounts()
{
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return {};
    return parseMountInfo(table.readAll());
}

QByteArray realPath(const QByteArray &path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.constData(), resolved) ? QByteArray(resolved) : path;
}

// Labels of the file systems that have one, by device: /dev/disk/by-label
// names each labelled device after its label ("\x20" for a blank).
QHash<QByteArray, QString> deviceLabels()
{
    QHash<QByteArray, QString> labels;
    const QByteArray folder = "/dev/disk/by-label";
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return labels;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name.startsWith('.'))
            continue;
        QByteArray label;
        for (qsizetype i = 0; i < name.size(); ++i) {
            bool ok = false;
            const int value = name[i] == '\\' && name.mid(i + 1, 1) == "x"
                                  ? name.mid(i + 2, 2).toInt(&ok, 16) : 0;
            if (ok) {
                label += char(value);
                i += 3;
            } else {
                label += name[i];
            }
        }
        labels.insert(realPath(paths::join(folder, name)), paths::display(label));
    }
    ::closedir(dir);
    return labels;
}

} // namespace

QList<Entry> mp3FilesIn(const QByteArray &folder)
{
    return listFolder(folder, [](const QByteArray &in, const QByteArray &name, unsigned char type) {
        return collection::isMp3Name(name) && typeOf(in, name, type) == S_IFREG;
    });
}

QList<Entry> subfoldersIn(const QByteArray &folder, const std::atomic_bool *cancel)
{
    return listFolder(
        folder,
        [](const QByteArray &in, const QByteArray &name, unsigned char type) {
            return typeOf(in, name, type) == S_IFDIR;
        },
        cancel);
}

QList<Mount> parseMountInfo(const QByteArray &text)
{
    QList<Mount> result;
    for (const QByteArray &line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() < 5 || dash < 5 || dash + 2 >= fields.size())
            continue;
        result.append({unescapeOctal(fields[4]), unescapeOctal(fields[dash + 1]),
                       unescapeOctal(fields[dash + 2])});
    }
    return result;
}

QList<Volume> userVolumes()
{
    QList<Volume> volumes{{"/", QStringLiteral("/")}};
    QList<Volume> others;
    const QHash<QByteArray, QString> labels = deviceLabels();
    for (const Mount &mount : mounts()) {
        const QByteArray root = paths::normalFolder(mount.root);
        if (root.isEmpty() || root == "/" || isSystemFileSystem(mount.type)
            || isSystemMountPoint(root) || !paths::isUsableFolder(root))
            continue;
        if (std::any_of(others.cbegin(), others.cend(),
                        [&](const Volume &v) { return v.root == root; }))
            continue;
        QString label = paths::display(root);
        const QString name = labels.value(realPath(mount.source));
        if (!name.isEmpty() && name != paths::display(paths::nameOf(root)))
            label += QStringLiteral(" [%1]").arg(name);
        others.append({root, label});
    }
    std::sort(others.begin(), others.end(),
              [](const Volume &a, const Volume &b) { return a.root < b.root; });
    volumes.append(others);
    return volumes;
}

QByteArray driveOf(const QByteArray &path)
{
    const QByteArray real = realPath(paths::normalFolder(path));
    QByteArray best = "/";
    for (const Mount &mount : mounts()) {
        const QByteArray root = paths::normalFolder(mount.root);
        if (isUnder(real, root) && root.size() > best.size())
            best = root;
    }
    return best;
}

} // namespace collection
