#include "tagbatch.h"

namespace history {

TagBatchResult applyTagBatch(const QList<TagEdit> &edits, const QString &label,
                             const TagBatchProgress &progress, const TagFileDone &fileDone)
{
    Q_UNUSED(label);
    TagBatchResult out;
    for (qsizetype i = 0; i < edits.size(); ++i) {
        if (progress && !progress(i, edits.size())) {
            out.cancelled = true;
            break;
        }
        out.files.append({edits[i].path, tags::writeFields(edits[i].path, edits[i].changes)});
        if (fileDone)
            fileDone(out.files.back());
    }
    return out;
}

} // namespace history
