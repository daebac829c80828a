// File-system questions of browsing for MP3 files (the file selection
// window asks them): volumes, the folders and MP3 files of a folder. Names and paths are the exact bytes the file
// system gives; each listed name comes with the text shown for it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>

namespace collection {

// A name in a folder and the text shown for it (paths::display).
struct Entry {
    QByteArray name;
    QString shown;
};

// Names of the files of `folder` that the file list shows: ending in
// ".mp3" in any letter case, regular files (links followed), not hidden
// (a name beginning with "."), sorted by shown text ignoring case. An
// unreadable or missing folder gives none.
QList<Entry> mp3FilesIn(const QByteArray &folder);

// The folders in `folder` (links to folders too), not hidden, in the same
// order. Stops early, with what it has, once `cancel` is set.
QList<Entry> subfoldersIn(const QByteArray &folder, const std::atomic_bool *cancel = nullptr);

// One line of the kernel's mount table.
struct Mount {
    QByteArray root;   // mount point
    QByteArray type;   // file system type
    QByteArray source; // device or other source
};

// The mounts of a mount table in /proc/self/mountinfo's format, with the
// octal escapes (\040 for a blank, ...) of the paths undone.
QList<Mount> parseMountInfo(const QByteArray &text);

// A volume the drive list shows: its root folder and a label for the list.
struct Volume {
    QByteArray root;
    QString label;
};

// The mounted volumes a user keeps files on: "/" first, then the others
// sorted by root folder. Left out are kernel and memory file systems
// (proc, sysfs, tmpfs, squashfs images, ...), mounts under /proc, /sys,
// /dev and /run (except removable media under /run/media), and mounts of
// anything that is not a folder.
QList<Volume> userVolumes();

// The root folder of the mounted volume that holds `path` ("/" when that
// cannot be found out).
QByteArray driveOf(const QByteArray &path);

} // namespace collection
