#include "foldertreefilter.h"

#include <QFileSystemModel>

namespace fileselect {

FolderTreeFilter::FolderTreeFilter(QFileSystemModel *model, QObject *parent)
    : QSortFilterProxyModel(parent), model_(model)
{
    setSourceModel(model);
}

void FolderTreeFilter::setDriveRoot(const QString &root)
{
    QString parent;
    if (root != u"/") {
        const qsizetype slash = root.lastIndexOf(u'/');
        parent = slash <= 0 ? QStringLiteral("/") : root.left(slash);
    }
    if (root == driveRoot_ && parent == rootParent_)
        return;
    driveRoot_ = root;
    rootParent_ = parent;
    invalidateRowsFilter();
}

bool FolderTreeFilter::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (model_->filePath(sourceParent) != rootParent_)
        return true;
    const QModelIndex index = model_->index(sourceRow, 0, sourceParent);
    return model_->filePath(index) == driveRoot_;
}

} // namespace fileselect
