// Collecting the MP3 files of whole folder trees (a drop from a file
// manager, or a folder added with its subfolders), with paths kept as the
// exact bytes the file system gave.
#pragma once

#include <QByteArray>
#include <QList>
#include "core/paths/paths.h"

#include <atomic>

namespace collection {

// Shared with the thread that shows progress: how many folders and files
// the walk has seen, the folder it is in, and a request to stop.
// Whether a name is one of an MP3 file: ".mp3" in any case at its end,
// not hidden (no "." at its start).
bool isMp3Name(const QByteArray &name);

struct WalkProgress {
    std::atomic<qint64> folders{0};
    std::atomic<qint64> found{0};
    std::atomic<bool> cancel{false};

    paths::SharedPath current;
};

// The MP3 files among `roots` and under those that are folders: files
// named as isMp3Name says that are ordinary files (links followed); folders
// walked with all their subfolders, hidden ones skipped, each folder
// visited once even when links reach it again, so a link loop ends. The
// result is sorted by path bytes, without duplicates. Empty when cancelled.
QList<QByteArray> mp3FilesUnder(const QList<QByteArray> &roots, WalkProgress *progress = nullptr);

} // namespace collection
