#include "core/collection/foldertreemodel.h"

#include "core/paths/paths.h"

#include <QSet>

#include <algorithm>

namespace collection {

struct FolderTreeModel::Node {
    QByteArray path;
    QString shown;
    Node *parent = nullptr;
    std::vector<std::unique_ptr<Node>> children;
    enum class State { Unlisted, Listing, Listed } state = State::Unlisted;
    mutable size_t rowHint = 0; // where it was last found among its siblings

    int row() const
    {
        const auto &siblings = parent->children;
        if (rowHint >= siblings.size() || siblings[rowHint].get() != this) {
            const auto at = std::find_if(siblings.begin(), siblings.end(),
                                         [this](const auto &n) { return n.get() == this; });
            rowHint = size_t(at - siblings.begin());
        }
        return int(rowHint);
    }
};

namespace {

bool shownBefore(const QString &aShown, const QByteArray &aName, const QString &bShown,
                 const QByteArray &bName)
{
    const int c = aShown.compare(bShown, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : aName < bName;
}

} // namespace

FolderTreeModel::FolderTreeModel(QObject *parent)
    : QAbstractItemModel(parent), top_(std::make_unique<Node>())
{
    pool_.setMaxThreadCount(2);
}

FolderTreeModel::~FolderTreeModel()
{
    closing_ = true;
    pool_.waitForDone();
}

void FolderTreeModel::setDriveRoot(const QByteArray &root)
{
    beginResetModel();
    ++generation_;
    listings_ = 0;
    driveRoot_ = root;
    byPath_.clear();
    top_->children.clear();
    auto node = std::make_unique<Node>();
    node->path = root;
    node->shown = root == "/" ? QStringLiteral("/") : paths::display(paths::nameOf(root));
    node->parent = top_.get();
    byPath_.insert(root, node.get());
    top_->children.push_back(std::move(node));
    endResetModel();
}

QModelIndex FolderTreeModel::reveal(const QByteArray &folder)
{
    if (top_->children.empty())
        return {};
    Node *node = top_->children.front().get();
    if (folder != driveRoot_
        && !folder.startsWith(driveRoot_.endsWith('/') ? driveRoot_ : driveRoot_ + '/'))
        return {};
    for (const QByteArray &name : folder.mid(driveRoot_.size()).split('/')) {
        if (name.isEmpty())
            continue;
        const QByteArray path = paths::join(node->path, name);
        if (Node *known = byPath_.value(path)) {
            node = known;
            continue;
        }
        insertChildren(node, {{name, paths::display(name)}});
        node = byPath_.value(path);
    }
    return indexOf(node);
}

QByteArray FolderTreeModel::folderPath(const QModelIndex &index) const
{
    const Node *node = nodeOf(index);
    return node == top_.get() ? QByteArray() : node->path;
}

FolderTreeModel::Node *FolderTreeModel::nodeOf(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<Node *>(index.internalPointer()) : top_.get();
}

QModelIndex FolderTreeModel::indexOf(Node *node) const
{
    if (!node || node == top_.get())
        return {};
    return createIndex(node->row(), 0, node);
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    const Node *node = nodeOf(parent);
    if (column != 0 || row < 0 || size_t(row) >= node->children.size())
        return {};
    return createIndex(row, 0, node->children[size_t(row)].get());
}

QModelIndex FolderTreeModel::parent(const QModelIndex &child) const
{
    if (!child.isValid())
        return {};
    return indexOf(nodeOf(child)->parent);
}

int FolderTreeModel::rowCount(const QModelIndex &parent) const
{
    return parent.column() > 0 ? 0 : int(nodeOf(parent)->children.size());
}

int FolderTreeModel::columnCount(const QModelIndex &) const { return 1; }

QVariant FolderTreeModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const Node *node = nodeOf(index);
    switch (role) {
    case Qt::DisplayRole:
        return node->shown;
    case Qt::ToolTipRole:
        return paths::display(node->path);
    case paths::kPathRole:
        return node->path;
    default:
        return {};
    }
}

bool FolderTreeModel::hasChildren(const QModelIndex &parent) const
{
    const Node *node = nodeOf(parent);
    return node->state != Node::State::Listed || !node->children.empty();
}

bool FolderTreeModel::canFetchMore(const QModelIndex &parent) const
{
    return parent.isValid() && nodeOf(parent)->state == Node::State::Unlisted;
}

void FolderTreeModel::fetchMore(const QModelIndex &parent)
{
    if (canFetchMore(parent))
        startListing(nodeOf(parent));
}

void FolderTreeModel::startListing(Node *node)
{
    node->state = Node::State::Listing;
    ++listings_;
    const quint64 generation = generation_;
    const QByteArray folder = node->path;
    pool_.start([this, generation, folder] {
        const QList<Entry> entries = subfoldersIn(folder, &closing_);
        if (closing_)
            return;
        QMetaObject::invokeMethod(
            this, [this, generation, folder, entries] { putListing(generation, folder, entries); },
            Qt::QueuedConnection);
    });
}

void FolderTreeModel::putListing(quint64 generation, const QByteArray &folder,
                                 const QList<Entry> &entries)
{
    if (generation != generation_)
        return;
    --listings_;
    Node *node = byPath_.value(folder);
    if (!node)
        return;
    node->state = Node::State::Listed;
    QSet<QByteArray> known;
    for (const auto &child : node->children)
        known.insert(paths::nameOf(child->path));
    QList<Entry> added;
    added.reserve(entries.size());
    for (const Entry &entry : entries) {
        if (!known.contains(entry.name))
            added.append(entry);
    }
    if (!added.isEmpty())
        insertChildren(node, added);
    else if (node->children.empty()) {
        // No expander any more: the view asks hasChildren() again.
        const QModelIndex index = indexOf(node);
        emit dataChanged(index, index);
    }
    emit folderListed(folder);
}

void FolderTreeModel::insertChildren(Node *node, QList<Entry> entries)
{
    const QModelIndex parentIndex = indexOf(node);
    auto &children = node->children;
    size_t row = 0;
    qsizetype next = 0;
    while (next < entries.size()) {
        // The first existing child that sorts after the next new entry.
        while (row < children.size()
               && shownBefore(children[row]->shown, paths::nameOf(children[row]->path),
                              entries[next].shown, entries[next].name))
            ++row;
        qsizetype end = next + 1;
        while (end < entries.size()
               && (row == children.size()
                   || shownBefore(entries[end].shown, entries[end].name, children[row]->shown,
                                  paths::nameOf(children[row]->path))))
            ++end;
        beginInsertRows(parentIndex, int(row), int(row + size_t(end - next) - 1));
        std::vector<std::unique_ptr<Node>> block;
        block.reserve(size_t(end - next));
        for (qsizetype i = next; i < end; ++i) {
            auto child = std::make_unique<Node>();
            child->path = paths::join(node->path, entries[i].name);
            child->shown = entries[i].shown;
            child->parent = node;
            byPath_.insert(child->path, child.get());
            block.push_back(std::move(child));
        }
        children.insert(children.begin() + std::ptrdiff_t(row),
                        std::make_move_iterator(block.begin()),
                        std::make_move_iterator(block.end()));
        endInsertRows();
        row += size_t(end - next);
        next = end;
    }
}

} // namespace collection
