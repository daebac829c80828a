#include "core/history/tagbatch.h"

#include "core/tags/existence.h"
#include "core/history/history.h"

#include <QSet>

namespace history {

TagBatchResult applyTagBatch(const QList<TagEdit> &edits, const QString &label,
                             const TagBatchProgress &progress, const TagFileDone &fileDone)
{
    TagBatchResult out;
    // Every file's tags are saved in the history before the first write; a
    // file that cannot be saved is not written (the writer would refuse it
    // too), and a journal that cannot be written stops the whole batch.
    const QString path = newAction(Kind::Tags);
    TagJournal journal(path);
    QString journalError = QStringLiteral("the history of undoable actions (%1) cannot be made; nothing was written")
                               .arg(folder());
    QList<int> numbers(edits.size(), -1);
    QStringList reasons(edits.size());
    bool ok = !path.isEmpty() && journal.open(label, &journalError);
    for (qsizetype i = 0; ok && i < edits.size(); ++i) {
        const QByteArray &file = edits[i].path;
        if (!tags::fileExists(file))
            reasons[i] = tags::missingReason(file);
        else if (!journal.add(file, &numbers[i], &reasons[i]) && journal.broken())
            ok = false, journalError = reasons[i];
    }
    ok = ok && journal.commit(&journalError);
    out.journalFailed = !ok;

    QSet<int> written;
    for (qsizetype i = 0; i < edits.size(); ++i) {
        if (ok && progress && !progress(i, edits.size())) {
            out.cancelled = true;
            break;
        }
        const int n = numbers[i];
        tags::WriteResult result{tags::WriteResult::Failed, ok ? reasons[i] : journalError};
        if (ok && n >= 0) {
            // The saved tags must still be the file's, or Undo would put
            // back what another program replaced meanwhile.
            if (!written.contains(n) && !journal.unchangedSinceAdded(n))
                result.reason = QStringLiteral("the file changed while the batch ran");
            else
                result = tags::writeFields(edits[i].path, edits[i].changes);
            if (result.outcome == tags::WriteResult::Written) {
                journal.noteWritten(n);
                written.insert(n);
            }
        }
        out.files.append({edits[i].path, result});
        if (fileDone)
            fileDone(out.files.back());
    }
    if (ok)
        journal.finish();
    return out;
}

} // namespace history
