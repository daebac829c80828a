#include "core/collection/folderhistory.h"

#include "core/settings/inifile_io.h"
#include "core/paths/paths.h"

namespace collection {

namespace {

const QString kDirList = QStringLiteral("DirList");
constexpr int kReadLimit = 100;

QString historyKey(int index)
{
    return QStringLiteral("%1").arg(index, 2, 10, QLatin1Char('0'));
}

} // namespace

void FolderHistory::load(inifile_IO &iniFile)
{
    folders_.clear();
    for (int i = 0; i < kReadLimit; ++i) {
        const QString entry = iniFile.ReadStr(kDirList, historyKey(i), QString());
        if (entry.isEmpty())
            break;
        const QByteArray folder = paths::normalFolder(paths::fromSetting(entry));
        if (paths::isUsableFolder(folder))
            folders_.append(folder);
    }
}

void FolderHistory::save(inifile_IO &iniFile) const
{
    const int count = int(folders_.size());
    for (int i = 0; i < count; ++i)
        iniFile.WriteStr(kDirList, historyKey(i), paths::toSetting(folders_[i]));
    iniFile.WriteStr(kDirList, historyKey(count), QString());
}

int FolderHistory::indexOf(const QByteArray &folder) const
{
    return int(folders_.lastIndexOf(folder));
}

bool FolderHistory::add(const QByteArray &folder)
{
    if (indexOf(folder) >= 0)
        return false;
    folders_.append(folder);
    return true;
}

bool FolderHistory::dropOldestIfOverfull()
{
    if (folders_.size() != kLimit + 1)
        return false;
    folders_.removeFirst();
    return true;
}

} // namespace collection
