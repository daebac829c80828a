// The folder tree shows one volume: of the folders beside the volume's root
// folder only the root itself is let through, so the tree's top item is the
// root of the chosen drive ("/" or, say, "/media/usb").
#pragma once

#include <QSortFilterProxyModel>
#include <QString>

class QFileSystemModel;

namespace fileselect {

class FolderTreeFilter : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit FolderTreeFilter(QFileSystemModel *model, QObject *parent = nullptr);

    // Shows the volume whose root folder is `root`.
    void setDriveRoot(const QString &root);
    QString driveRoot() const { return driveRoot_; }

    // The folder that holds the drive's root; empty for "/", which the file
    // system model keeps directly under its invisible top.
    QString rootParent() const { return rootParent_; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    QFileSystemModel *model_;
    QString driveRoot_ = QStringLiteral("/");
    QString rootParent_;
};

} // namespace fileselect
