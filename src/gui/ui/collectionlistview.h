// A list view for a whole collection.
#pragma once

#include <QListView>

namespace ui {

// QListView lays out every row again whenever rows' data change; at
// 200,000 rows each batch of proposed names read cost a layout of them all,
// over and over while the names came in. Here a change repaints the rows
// and lays nothing out, since the rows are of one size (uniformItemSizes),
// the first row's: only a change to the first row still lays them out.
class CollectionListView : public QListView {
public:
    using QListView::QListView;

protected:
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QList<int> &roles = QList<int>()) override
    {
        if (topLeft.row() == 0 || !uniformItemSizes())
            QListView::dataChanged(topLeft, bottomRight, roles);
        else
            QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
    }
};

} // namespace ui
