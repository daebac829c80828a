// One edit for many files: the value each of the six fields shares over a
// set of files (or none, where they differ), and the tag writes of the
// fields the user changed, only those.
#pragma once

#include "core/paths/paths.h"
#include "core/history/tagbatch.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>

namespace batch {

// The six fields of a set of files, or of an edit over them: each the one
// value all files share (as the tag frame shows it), or none where the
// files differ (the edit's "keep" state: the field is left alone).
struct FieldValues {
    std::optional<QString> title, artist, album, year, comment;
    std::optional<tags::GenreEntry> genre;
};

// Shared with a thread that shows progress: files read so far, the file
// being read, and a request to stop.
struct ReadProgress {
    std::atomic<qsizetype> done{0};
    std::atomic<bool> cancel{false};
    paths::SharedPath current;
};

// The values the files share. A file without a readable tag counts as one
// with empty fields and no genre (what a write into it starts from); a file
// that is missing is left out. None when stopped through `progress`.
std::optional<FieldValues> sharedFields(const QList<QByteArray> &paths, ReadProgress *progress = nullptr);

// What an edit changes: the fields `shown` holds a value for that differs
// from the value they started at in `start` (a field that started in the
// keep state changes as soon as it holds a value). Nothing else.
tags::FieldChanges changedFields(const FieldValues &start, const FieldValues &shown);

// The tag writes of `changes` into every file; none when nothing changes.
QList<history::TagEdit> batchEdits(const QList<QByteArray> &paths, const tags::FieldChanges &changes);

} // namespace batch

namespace batch {

// The one message at the end of a batch of tag writes in the windows: the
// files (as shown) whose tag could not be written, and how many were not
// tried because the batch was stopped. Empty when there is nothing to say.
QString tagWriteFailureMessage(const QStringList &failedFiles, qsizetype notTried);

} // namespace batch
