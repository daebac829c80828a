// File-system questions of the file selection window: volumes, folders,
// the MP3 files of a folder, and paths in the window's own spelling.
#pragma once

#include <QString>
#include <QStringList>

namespace fileselect {

// A file's full path: the folder, "/" unless the folder already ends in one
// (the root), then the name.
QString joinPath(const QString &folder, const QString &name);

// An absolute folder path in one spelling: no "." or ".." parts, no doubled
// or trailing "/" (except the root itself). Empty text stays empty.
QString normalFolder(const QString &folder);

// True when `path` names a folder (links followed) whose contents can be
// listed.
bool isUsableFolder(const QString &path);

// The root folder of the mounted volume that holds `path` ("/" when that
// cannot be found out).
QString driveOf(const QString &path);

// A volume the drive list shows: its root folder and a label for the list.
struct Volume {
    QString root;
    QString label;
};

// The mounted volumes a user keeps files on: "/" first, then the others
// sorted by root folder. Left out are kernel and memory file systems
// (proc, sysfs, tmpfs, squashfs images, ...), mounts under /proc, /sys,
// /dev and /run (except removable media under /run/media), and bind
// mounts of single files.
QList<Volume> userVolumes();

// Names of the files of `folder` that the file list shows: ending in
// ".mp3" in any letter case, regular files (links followed), not hidden
// (a name beginning with "."), sorted by name ignoring case. An unreadable
// or missing folder gives none.
QStringList mp3FilesIn(const QString &folder);

} // namespace fileselect
