#include "core/rename/renamefiles.h"

#include "core/rename/newname.h"
#include "core/rename/noreplace.h"
#include "core/paths/paths.h"
#include "core/rename/renamejournal.h"
#include "core/rename/renamelist.h"
#include "core/tags/tagedit.h"

#include <QSet>

#include <QHash>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace renaming {

namespace {

// The entry `name` of the folder leads to a regular file (a link to one
// counts: the link itself is renamed, as rename(2) renames the path given).
bool leadsToRegularFile(int dirFd, const QByteArray &name)
{
    struct stat st;
    return dirFd >= 0 && !name.isEmpty() && !name.contains('\0') && ::fstatat(dirFd, name.constData(), &st, 0) == 0
           && S_ISREG(st.st_mode);
}

// `path` leads to a regular file (a link to one counts).
bool isRegularFile(const QByteArray &path)
{
    struct stat st;
    return !path.isEmpty() && !path.contains('\0') && ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

QString failureReason(const RenameJob &job, int error)
{
    const QString &name = job.newName;
    switch (error) {
    case 0:   // no rename tried: a name of no file, or no file there
        if (name.startsWith(u'*'))
            return markerReason(job.path, name);
        if (!isAcceptableName(name))
            return QStringLiteral("\"%1\" cannot be a file name").arg(name);
        if (!isRegularFile(job.path))
            return tags::missingReason(job.path);
        return QStringLiteral("the file could not be renamed");
    case EEXIST:
        return QStringLiteral("\"%1\" exists already").arg(name);
    case ESTALE:
        return QStringLiteral("another program moved or replaced the file or its folder meanwhile");
    default:
        return tags::systemError(error);
    }
}

QStringList renameCheck(const QList<RenameJob> &jobs)
{
    QStringList reasons;
    QHash<QByteArray, QByteArray> taken;   // names earlier files of the batch would get, and those files
    for (const RenameJob &job : jobs) {
        const QByteArray target = paths::folderOf(job.path) + job.newName.toUtf8();
        struct stat st;
        QString reason;
        if (!isAcceptableName(job.newName) || !isRegularFile(job.path))
            reason = failureReason(job, 0);
        else if (target != job.path && ::lstat(target.constData(), &st) == 0)
            reason = failureReason(job, EEXIST);
        else if (taken.value(target, job.path) != job.path)   // the same file twice is renamed once
            reason = QStringLiteral("an earlier file gets \"%1\"").arg(job.newName);
        else if (const QByteArray folder = paths::folderOf(job.path);
                 target != job.path && ::access(folder.isEmpty() ? "." : folder.constData(), W_OK) != 0)
            reason = tags::systemError(errno);
        if (reason.isEmpty())
            taken.insert(target, job.path);
        reasons.append(reason);
    }
    return reasons;
}

RenameResult renameFiles(const QList<RenameJob> &jobs, RenameJournal *journal, RenameProgress *progress)
{
    // Each folder is opened once; each file is identified now, and must
    // still be that file when its turn comes. The new name of each job
    // stays empty where it is not one of its own (a marker, something that
    // would leave the folder, a control character) or the file is not there.
    OpenFolders folders;
    QList<QByteArray> targets;
    QList<JournalEntry> batch;
    QList<int> batchIndex(jobs.size(), -1);
    // The list may hold one file twice (dropped, then added again with its
    // folder, or under another spelling of the folder's path). The batch
    // holds it once, for its first job; a later job of the same file shares
    // that job's outcome when it asks for the same name, and fails when it
    // asks for another.
    QList<int> sameFileAs(jobs.size(), -1);
    QHash<FileKey, int> firstJobOf;   // its keys view the bytes of jobs' paths, which each entry shares
    RenameResult result;
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        // Looking at every file first takes a while on a slow disk: a cancel
        // here renames nothing.
        if (progress && progress->cancel.load(std::memory_order_relaxed)) {
            result.notTried = int(jobs.size());
            return result;
        }
        const QByteArray folder = paths::folderOf(jobs[i].path), name = paths::nameOf(jobs[i].path);
        JournalEntry e{jobs[i].path, folder + jobs[i].newName.toUtf8()};
        const int dirFd = isAcceptableName(jobs[i].newName) ? folders.at(folder) : -1;
        QByteArray target;
        struct stat opened;
        if (leadsToRegularFile(dirFd, name) && identifyAt(dirFd, name, &e.id) && ::fstat(dirFd, &opened) == 0) {
            target = paths::nameOf(e.to);
            e.folder = opened.st_ino;
            const FileKey key = fileKeyOf(e);
            const int first = firstJobOf.value(key, -1);
            if (first < 0) {
                firstJobOf.insert(key, int(i));
            } else {
                sameFileAs[i] = first;
                if (targets[first] != target)
                    target.clear();
            }
        }
        if (!target.isEmpty() && e.to != e.from && sameFileAs[i] < 0) {
            batchIndex[i] = int(batch.size());
            batch.append(e);
        }
        targets.append(target);
    }
    // No journal, no rename: a batch that cannot be undone would leave the
    // last one to be undone in its place.
    if (journal && !batch.isEmpty() && !journal->begin(batch, progress ? &progress->cancel : nullptr)) {
        if (progress && progress->cancel.load()) {
            result.notTried = int(jobs.size());   // stopped while the journal was written
            return result;
        }
        result.journalFailed = true;
        return result;
    }

    QList<bool> failed(jobs.size(), false);
    QList<qsizetype> newPathOf(jobs.size(), -1);   // index into result.newPaths
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        const RenameJob &job = jobs[i];
        if (progress) {
            if (progress->cancel.load()) {
                result.notTried = int(jobs.size() - i);
                break;
            }
            progress->current = int(i);
            if (progress->beforeFile)
                progress->beforeFile(int(i));
        }
        const QString shown = job.shown.isEmpty() ? paths::display(job.path) : job.shown;
        const int n = batchIndex[i];
        const int first = sameFileAs[i];
        if (targets[i].isEmpty() || (first >= 0 && failed[first])) {
            result.failed.append(shown);
            result.failures.append({int(i), 0});
            failed[i] = true;
        } else if (first >= 0) {
            if (newPathOf[first] >= 0)
                result.newPaths.append({job.index, result.newPaths[newPathOf[first]].path});
        } else if (n >= 0) {
            // The folder must still be where it was, and the name still the
            // file identified: otherwise another program moved things, and
            // this file is left alone.
            const QByteArray folder = paths::folderOf(job.path), name = paths::nameOf(job.path);
            const int dirFd = folders.at(folder);
            FileIdentity now;
            RenameStatus status{ESTALE, name};
            if (folders.stillAt(folder) && identifyAt(dirFd, name, &now) && now.sameFileAs(batch[n].id))
                status = renameAt(dirFd, name, targets[i], [&] { return !journal || journal->note('R', n, true); });
            failed[i] = !status.ok();
            if (!status.ok()) {
                result.failed.append(shown);
                result.failures.append({int(i), status.error});
            } else if (journal)
                journal->markDone(n);
            if (status.path != name) {
                newPathOf[i] = result.newPaths.size();
                result.newPaths.append({job.index, folder + status.path});
            }
        }
        if (progress)
            progress->done = int(i + 1);
    }
    if (journal && !batch.isEmpty())
        journal->finish();
    return result;
}

QString journalFailureMessage(const QString &journalPath)
{
    return QStringLiteral("名前の変更を記録できないため、ファイル名を変更しませんでした。\r\n\r\n") + journalPath;
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
    return text + undoStoppedMessage(text, result.notTried);
}

QString undoStoppedMessage(const QString &before, int notTried)
{
    if (notTried == 0)
        return {};
    return (before.isEmpty() ? QString() : QStringLiteral("\r\n"))
           + QStringLiteral("中止したため、%1 件のファイルは元に戻していません。もう一度元に戻すと、残りを元に戻します。")
                 .arg(notTried);
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
