#include "core/collection/entrylist.h"

#include "core/paths/paths.h"

#include <algorithm>

namespace collection {

std::vector<RowBlock> blocksOf(const QItemSelection &selection)
{
    std::vector<RowBlock> blocks;
    for (const QItemSelectionRange &range : selection) {
        if (range.isValid())
            blocks.push_back({range.top(), range.bottom()});
    }
    std::sort(blocks.begin(), blocks.end(), [](const RowBlock &a, const RowBlock &b) { return a.first < b.first; });
    std::vector<RowBlock> merged;
    for (const RowBlock &b : blocks) {
        if (!merged.empty() && b.first <= merged.back().last + 1)
            merged.back().last = std::max(merged.back().last, b.last);
        else
            merged.push_back(b);
    }
    return merged;
}

EntryList::EntryList(QObject *parent) : QAbstractListModel(parent)
{
    names_.setSourceModel(this);
}

int EntryList::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant EntryList::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return shown(index.row());
    case paths::kPathRole:
        return entries_[size_t(index.row())].path;
    case kNameRole:
        return entries_[size_t(index.row())].name;
    default:
        return {};
    }
}

Qt::ItemFlags EntryList::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}

QVariant EntryList::Names::data(const QModelIndex &index, int role) const
{
    return QIdentityProxyModel::data(index, role == Qt::DisplayRole ? kNameRole : role);
}

QByteArray EntryList::path(int row) const
{
    return row >= 0 && row < count() ? entries_[size_t(row)].path : QByteArray();
}

QString EntryList::shown(int row) const
{
    if (row < 0 || row >= count())
        return {};
    const Entry &e = entries_[size_t(row)];
    if (e.shown.isNull())
        e.shown = paths::display(e.path);
    return e.shown;
}

QString EntryList::name(int row) const
{
    return row >= 0 && row < count() ? entries_[size_t(row)].name : QString();
}

QList<QByteArray> EntryList::pathsFrom(int first) const
{
    QList<QByteArray> out;
    first = std::max(0, first);
    out.reserve(std::max(0, count() - first));
    for (int row = first; row < count(); ++row)
        out.append(entries_[size_t(row)].path);
    return out;
}

void EntryList::append(const QList<QByteArray> &paths, const QStringList &names)
{
    // Grown by doubling: a list filled a chunk at a time is not copied
    // whole for each chunk.
    const size_t needed = entries_.size() + size_t(paths.size());
    if (entries_.capacity() < needed)
        entries_.reserve(std::max(needed, 2 * entries_.capacity()));
    for (qsizetype done = 0; done < paths.size();) {
        const qsizetype chunk = std::min<qsizetype>(kInsertChunk, paths.size() - done);
        beginInsertRows({}, count(), count() + int(chunk) - 1);
        for (qsizetype i = done; i < done + chunk; ++i)
            entries_.push_back({paths[i], names.value(i), {}});
        endInsertRows();
        done += chunk;
    }
}

void EntryList::changed(int first, int last, const QList<int> &roles)
{
    if (first <= last)
        emit dataChanged(index(first), index(last), roles);
}

void EntryList::setNames(int first, const QStringList &names)
{
    first = std::clamp(first, 0, count());
    const int last = std::min(count(), first + int(names.size())) - 1;
    for (int row = first; row <= last; ++row)
        entries_[size_t(row)].name = names[row - first];
    changed(first, last, {kNameRole});
    truncate(last + 1);
}

void EntryList::fillNames(int first, const QStringList &names)
{
    first = std::max(first, 0);
    const int last = std::min(count(), first + int(names.size())) - 1;
    for (int row = first; row <= last; ++row)
        entries_[size_t(row)].name = names[row - first];
    changed(first, last, {kNameRole});
}

void EntryList::setName(int row, const QString &name)
{
    if (row < 0 || row >= count())
        return;
    entries_[size_t(row)].name = name;
    changed(row, row, {kNameRole});
}

void EntryList::setPaths(const QList<Moved> &moved)
{
    int first = count(), last = -1;
    for (const Moved &m : moved) {
        if (m.row < 0 || m.row >= count())
            continue;
        Entry &e = entries_[size_t(m.row)];
        e.path = m.path;
        e.shown = QString();
        first = std::min(first, m.row);
        last = std::max(last, m.row);
    }
    changed(first, last, {Qt::DisplayRole, paths::kPathRole});
}

void EntryList::remove(const std::vector<RowBlock> &blocks)
{
    constexpr size_t kFewBlocks = 16;
    if (blocks.size() <= kFewBlocks) {
        for (auto b = blocks.rbegin(); b != blocks.rend(); ++b) {
            const int first = std::max(0, b->first), last = std::min(b->last, count() - 1);
            if (first > last)
                continue;
            beginRemoveRows({}, first, last);
            entries_.erase(entries_.begin() + first, entries_.begin() + last + 1);
            endRemoveRows();
        }
        return;
    }
    beginResetModel();
    std::vector<Entry> kept;
    kept.reserve(entries_.size());
    int row = 0;
    const auto keepUpTo = [&](int end) {
        for (; row < std::min(end, count()); ++row)
            kept.push_back(std::move(entries_[size_t(row)]));
    };
    for (const RowBlock &b : blocks) {
        keepUpTo(b.first);
        row = std::max(row, b.last + 1);
    }
    keepUpTo(count());
    entries_.swap(kept);
    endResetModel();
}

void EntryList::truncate(int keep)
{
    keep = std::max(0, keep);
    if (keep < count())
        remove({{keep, count() - 1}});
}

void EntryList::clear()
{
    if (entries_.empty())
        return;
    beginResetModel();
    entries_.clear();
    entries_.shrink_to_fit();
    endResetModel();
}

} // namespace collection
