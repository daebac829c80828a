#include "folders.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>

#include <algorithm>

namespace fileselect {

QString joinPath(const QString &folder, const QString &name)
{
    if (folder.endsWith(u'/'))
        return folder + name;
    return folder + u'/' + name;
}

QString normalFolder(const QString &folder)
{
    if (folder.isEmpty())
        return folder;
    return QDir::cleanPath(QDir(folder).absolutePath());
}

bool isUsableFolder(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.isDir() && info.isReadable() && info.isExecutable();
}

QString driveOf(const QString &path)
{
    const QStorageInfo volume(path);
    if (!volume.isValid() || volume.rootPath().isEmpty())
        return QStringLiteral("/");
    return normalFolder(volume.rootPath());
}

namespace {

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

bool isUnder(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder + u'/');
}

bool isSystemMountPoint(const QString &root)
{
    if (isUnder(root, QStringLiteral("/run/media")))
        return false;
    for (const char *folder : {"/proc", "/sys", "/dev", "/run", "/var/run", "/var/lock", "/snap"}) {
        if (isUnder(root, QString::fromLatin1(folder)))
            return true;
    }
    return false;
}

} // namespace

QList<Volume> userVolumes()
{
    QList<Volume> volumes;
    volumes.append({QStringLiteral("/"), QStringLiteral("/")});
    QList<Volume> others;
    const QList<QStorageInfo> mounted = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &info : mounted) {
        if (!info.isValid() || !info.isReady())
            continue;
        const QString root = normalFolder(info.rootPath());
        if (root.isEmpty() || root == u"/")
            continue;
        if (isSystemFileSystem(info.fileSystemType()) || isSystemMountPoint(root))
            continue;
        if (!QFileInfo(root).isDir())
            continue;
        if (std::any_of(others.cbegin(), others.cend(),
                        [&](const Volume &v) { return v.root == root; }))
            continue;
        QString label = root;
        const QString name = info.name();
        if (!name.isEmpty() && name != QFileInfo(root).fileName())
            label += QStringLiteral(" [%1]").arg(name);
        others.append({root, label});
    }
    std::sort(others.begin(), others.end(),
              [](const Volume &a, const Volume &b) { return a.root < b.root; });
    volumes.append(others);
    return volumes;
}

QStringList mp3FilesIn(const QString &folder)
{
    if (folder.isEmpty())
        return {};
    // Without QDir::System, FIFOs, sockets, devices and broken links are
    // left out; without QDir::Hidden, names beginning with ".".
    const QDir dir(folder);
    const QFileInfoList entries = dir.entryInfoList({QStringLiteral("*.mp3")},
                                                    QDir::Files | QDir::NoDotAndDotDot,
                                                    QDir::NoSort);
    QStringList names;
    names.reserve(entries.size());
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        if (name.startsWith(u'.') || !name.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive))
            continue;
        if (!entry.isFile())
            continue;
        names.append(name);
    }
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

} // namespace fileselect
