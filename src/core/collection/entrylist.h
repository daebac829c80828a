// The main list's entries: each file's exact path, the text shown for it,
// and its proposed name or marker. One model holds both; the file list shows
// the paths, the name list shows names() over the same rows, so the two can
// never fall out of step.
//
// Entries are counted with int rows, as Qt's models are: no limit of its own
// below that (whole collections of hundreds of thousands of files). Rows go
// in and out in blocks, never one signal per entry, so adding or removing
// 200,000 entries costs a few signals, not 200,000.
#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QIdentityProxyModel>
#include <QItemSelection>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <vector>

namespace collection {

// Adjacent rows first..last (both included).
struct RowBlock {
    int first;
    int last;
    bool operator==(const RowBlock &) const = default;
};

// The rows of a selection as sorted, disjoint blocks of adjacent rows (the
// ranges of a selection may overlap and come in any order).
std::vector<RowBlock> blocksOf(const QItemSelection &selection);

class EntryList : public QAbstractListModel {
    Q_OBJECT

public:
    // The proposed name or marker of an entry (the name list's text).
    static constexpr int kNameRole = Qt::UserRole + 8;
    // Rows inserted per insert signal when many entries come at once.
    static constexpr int kInsertChunk = 8192;

    explicit EntryList(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    int count() const { return int(entries_.size()); }
    QByteArray path(int row) const;
    QString shown(int row) const;   // the path as shown (paths::display)
    QString name(int row) const;    // empty until its name is known
    // The paths of rows first to the last.
    QList<QByteArray> pathsFrom(int first) const;

    // The model that shows each entry's proposed name as its text, row for
    // row with this one.
    QAbstractItemModel *names() { return &names_; }

    // Appends files at the end, in the order given; a file listed already is
    // listed again (adding the same file twice lists it twice). Their names
    // stay empty until setNames. `names`, when given, are theirs at once.
    void append(const QList<QByteArray> &paths, const QStringList &names = {});
    // Makes room for `count` entries in all, for appends to come.
    void reserve(int count) { entries_.reserve(size_t(std::max(count, 0))); }

    // Gives rows first, first + 1, ... the names in order; rows after the
    // last name given (their names were never read: a cancelled reading)
    // are taken out again.
    void setNames(int first, const QStringList &names);
    void setName(int row, const QString &name);
    // Gives rows first, first + 1, ... the names in order, in one change;
    // every other row keeps its own (names read in the background arrive
    // in runs, in any order).
    void fillNames(int first, const QStringList &names);

    // Rows whose file now lies at another path (a Rename, an Undo).
    struct Moved {
        int row;
        QByteArray path;
    };
    void setPaths(const QList<Moved> &moved);

    // Takes rows out: few blocks one by one, many (every second row, say)
    // by building the list anew, which would otherwise shift the rest of
    // the list once per block.
    void remove(const std::vector<RowBlock> &blocks);
    // Keeps the first `count` rows.
    void truncate(int count);
    void clear();

private:
    struct Entry {
        QByteArray path;
        QString name;
        mutable QString shown;   // made when first asked for
    };

    class Names : public QIdentityProxyModel {
    public:
        QVariant data(const QModelIndex &index, int role) const override;
    };

    void changed(int first, int last, const QList<int> &roles);

    std::vector<Entry> entries_;
    Names names_;
};

} // namespace collection
