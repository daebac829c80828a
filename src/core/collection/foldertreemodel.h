// The folder tree the file selection window shows: one volume, its root folder
// the one top item. Folders are listed by their bytes (folders.h), so a
// folder whose name is not UTF-8 is shown, decoded, and still found again.
//
// A folder's subfolders are listed the first time the view asks for them
// (on expanding), on a worker thread, so a folder of many thousands does not
// stop the window; they are put in when the listing is done. The items on
// the way to a folder the window shows are made at once (reveal), and the
// listings fill in their siblings around them.
#pragma once

#include <QAbstractItemModel>
#include <QByteArray>
#include <QHash>
#include <QThreadPool>

#include <atomic>
#include <memory>
#include <vector>

#include "core/collection/folders.h"

namespace collection {

class FolderTreeModel : public QAbstractItemModel {
    Q_OBJECT

public:
    explicit FolderTreeModel(QObject *parent = nullptr);
    ~FolderTreeModel() override;

    // Shows the volume whose root folder is `root` (forgetting all else).
    void setDriveRoot(const QByteArray &root);
    QByteArray driveRoot() const { return driveRoot_; }

    // The item of `folder`, made now together with the items on the way to
    // it when they are not there yet; invalid when `folder` does not lie on
    // the volume shown.
    QModelIndex reveal(const QByteArray &folder);

    // The folder of an item (also its data under paths::kPathRole).
    QByteArray folderPath(const QModelIndex &index) const;

    // True while a listing is under way.
    bool isListing() const { return listings_ > 0; }

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

signals:
    // A folder's subfolders have been put in.
    void folderListed(const QByteArray &folder);

private:
    struct Node;
    Node *nodeOf(const QModelIndex &index) const;
    QModelIndex indexOf(Node *node) const;
    void startListing(Node *node);
    void putListing(quint64 generation, const QByteArray &folder, const QList<Entry> &entries);
    // Puts `entries` (sorted, none of them there yet) into `node`'s children,
    // each block between two existing children in one insertion.
    void insertChildren(Node *node, QList<Entry> entries);

    std::unique_ptr<Node> top_; // invisible; its one child is the volume's root
    QHash<QByteArray, Node *> byPath_;
    QByteArray driveRoot_;
    quint64 generation_ = 0; // listings of an earlier volume are dropped
    int listings_ = 0;
    std::atomic_bool closing_{false};
    QThreadPool pool_;
};

} // namespace collection
