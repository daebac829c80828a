// A batch of tag writes over many files (a batch edit, tags from names, a
// repair, a conversion, the command line's set), run one file after the
// other with progress and cancel, each file's outcome kept with its reason.
#pragma once

#include "core/tags/tagedit.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

namespace history {

struct TagEdit {
    QByteArray path;   // the file's path, as bytes
    tags::FieldChanges changes;
};

struct TagEditResult {
    QByteArray path;
    tags::WriteResult result;
};

struct TagBatchResult {
    QList<TagEditResult> files;   // one per edit run, in the order given
    bool cancelled = false;       // stopped by the progress callback
    bool journalFailed = false;   // the history could not be written: nothing was written
};

// Called before each file with the number done so far and the total;
// returning false stops the batch before that file.
using TagBatchProgress = std::function<bool(qsizetype done, qsizetype total)>;
// Called after each file with its outcome.
using TagFileDone = std::function<void(const TagEditResult &)>;

// Writes each edit's changes into its file, in order. `label` names the
// batch for the user (for example in the history of undoable actions).
TagBatchResult applyTagBatch(const QList<TagEdit> &edits, const QString &label,
                             const TagBatchProgress &progress = {},
                             const TagFileDone &fileDone = {});

} // namespace history
