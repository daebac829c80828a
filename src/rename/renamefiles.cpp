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
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        QByteArray target;
        if (isAcceptableName(jobs[i].newName) && isRegularFile(jobs[i].path))
            target = paths::folderOf(jobs[i].path) + jobs[i].newName.toUtf8();
        if (!target.isEmpty() && target != jobs[i].path) {
            batchIndex[i] = int(batch.size());
            batch.append({jobs[i].path, target});
        }
        targets.append(target);
    }
    const bool journalled = journal && !batch.isEmpty() && journal->begin(batch);

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

QString undoFailureMessage(const UndoResult &result)
{
    QString text;
    if (!result.failed.isEmpty()) {
        text = QStringLiteral("以下のファイルは元に戻せませんでした。\r\n\r\n");
        for (const QByteArray &path : result.failed)
            text += paths::display(path) + QStringLiteral("\r\n");
    }
    if (result.gone > 0) {
        if (!text.isEmpty())
            text += QStringLiteral("\r\n");
        text += QStringLiteral("%1 件のファイルは見つからないため、元に戻せませんでした。").arg(result.gone);
    }
    return text;
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
