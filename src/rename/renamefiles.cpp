#include "renamefiles.h"

#include "newname.h"
#include "noreplace.h"
#include "paths.h"

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

RenameResult renameFiles(const QList<RenameJob> &jobs)
{
    RenameResult result;
    for (const RenameJob &job : jobs) {
        // The file name part must be a name of its own: no marker, nothing
        // that would leave the folder, no control character.
        const QString shown = job.shown.isEmpty() ? paths::display(job.path) : job.shown;
        if (!isAcceptableName(job.newName) || !isRegularFile(job.path)) {
            result.failed.append(shown);
            continue;
        }
        const RenameStatus status =
            renameNoReplace(job.path, paths::folderOf(job.path) + job.newName.toUtf8());
        if (!status.ok())
            result.failed.append(shown);
        if (status.path != job.path)
            result.newPaths.append({job.index, status.path});
    }
    return result;
}

QString renameFailureMessage(const QStringList &failedPaths)
{
    if (failedPaths.isEmpty())
        return {};
    QString text = QStringLiteral("以下のファイルは変更できませんでした。\r\n\r\n");
    for (const QString &path : failedPaths)
        text += path + QStringLiteral("\r\n");
    return text;
}

} // namespace renaming
