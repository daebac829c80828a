#include "renamefiles.h"

#include "newname.h"
#include "noreplace.h"
#include "paths.h"
#include "renamejournal.h"

#include <sys/stat.h>

namespace renaming {

namespace {

bool isRegularFile(const QByteArray &path)
{
    struct stat st;
    return !path.isEmpty() && !path.contains('\0') && ::stat(path.constData(), &st) == 0
           && S_ISREG(st.st_mode);
}

} // namespace

RenameResult renameFiles(const QList<RenameJob> &jobs, RenameJournal *journal, RenameProgress *progress)
{
    // The new path of each job, or empty where the name is not one of its
    // own (a marker, something that would leave the folder, a control
    // character) or the file is not there.
    QList<QByteArray> targets;
    QList<JournalEntry> batch;
    QList<int> batchIndex(jobs.size(), -1);
    for (const RenameJob &job : jobs) {
        QByteArray target;
        if (isAcceptableName(job.newName) && isRegularFile(job.path))
            target = paths::folderOf(job.path) + job.newName.toUtf8();
        if (!target.isEmpty() && target != job.path)
            batch.append({job.path, target});
        targets.append(target);
    }
    const bool journalled = journal && !batch.isEmpty() && journal->begin(batch);
    if (journalled) {
        for (int b = 0, j = 0; b < batch.size(); ++b) {
            while (j < jobs.size() && (jobs[j].path != batch[b].from || targets[j] != batch[b].to))
                ++j;
            if (j < jobs.size())
                batchIndex[j++] = b;
        }
    }

    RenameResult result;
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        const RenameJob &job = jobs[i];
        if (progress) {
            if (progress->cancel.load()) {
                result.notTried = int(jobs.size() - i);
                break;
            }
            progress->current = int(i);
        }
        const QString shown = job.shown.isEmpty() ? paths::display(job.path) : job.shown;
        if (targets[i].isEmpty()) {
            result.failed.append(shown);
        } else {
            const RenameStatus status = renameNoReplace(job.path, targets[i]);
            if (!status.ok())
                result.failed.append(shown);
            else if (journalled && batchIndex[i] >= 0)
                journal->markDone(batchIndex[i]);
            if (status.path != job.path)
                result.newPaths.append({job.index, status.path});
        }
        if (progress)
            progress->done = int(i + 1);
    }
    if (journalled)
        journal->finish();
    return result;
}

QString renameFailureMessage(const QStringList &failedPaths, int notTried)
{
    if (failedPaths.isEmpty() && notTried == 0)
        return {};
    QString text;
    if (!failedPaths.isEmpty()) {
        text = QStringLiteral("以下のファイルは変更できませんでした。\r\n\r\n");
        for (const QString &path : failedPaths)
            text += path + QStringLiteral("\r\n");
    }
    if (notTried > 0) {
        if (!text.isEmpty())
            text += QStringLiteral("\r\n");
        text += QStringLiteral("中止したため、%1 件のファイルは変更していません。").arg(notTried);
    }
    return text;
}

} // namespace renaming
