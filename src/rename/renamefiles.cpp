#include "renamefiles.h"

#include "newname.h"
#include "noreplace.h"

#include <QFile>

#include <sys/stat.h>

namespace renaming {

namespace {

bool isRegularFile(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    return !path.isEmpty() && !native.contains('\0') && ::stat(native.constData(), &st) == 0
           && S_ISREG(st.st_mode);
}

} // namespace

RenameResult renameFiles(const QList<RenameJob> &jobs)
{
    RenameResult result;
    for (const RenameJob &job : jobs) {
        // The file name part must be a name of its own: no marker, nothing
        // that would leave the folder, no control character.
        if (!isAcceptableName(job.newName) || !isRegularFile(job.path)) {
            result.failed.append(job.path);
            continue;
        }
        const RenameStatus status =
            renameNoReplace(job.path, GetFolderPath(job.path) + job.newName);
        if (!status.ok())
            result.failed.append(job.path);
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
