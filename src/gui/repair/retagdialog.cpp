#include "gui/repair/retagdialog.h"

#include "core/paths/paths.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString fieldCaption(retag::Field field)
{
    switch (field) {
    case retag::Field::Title: return QStringLiteral("曲名");
    case retag::Field::Artist: return QStringLiteral("歌手名");
    case retag::Field::Album: return QStringLiteral("アルバム名");
    case retag::Field::Comment: return QStringLiteral("コメント");
    }
    return {};
}

QTableWidgetItem *cell(const QString &text, const QString &tip = {})
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setToolTip(tip.isEmpty() ? text : tip);
    return item;
}

} // namespace

RetagDialog::RetagDialog(retag::Kind kind, const QList<retag::Row> &rows, QWidget *parent)
    : QDialog(parent), rows_(rows)
{
    const bool repair = kind == retag::Kind::Repair;
    setObjectName(QStringLiteral("frmRetag"));
    setWindowTitle(repair ? QStringLiteral("文字化けを修復") : QStringLiteral("Unicode に変換"));

    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(repair ? QStringLiteral("チェックした項目を修復します。")
                                    : QStringLiteral("チェックした項目を Unicode (UTF-16) で書き直します。"
                                                     "文字列は変わりません。"),
                             this);
    layout->addWidget(intro);

    tblRetag = new QTableWidget(int(rows.size()), 4, this);
    tblRetag->setObjectName(QStringLiteral("tblRetag"));
    tblRetag->setHorizontalHeaderLabels({QStringLiteral("ファイル"), QStringLiteral("項目"),
                                         QStringLiteral("現在"),
                                         repair ? QStringLiteral("修復後") : QStringLiteral("変換後")});
    tblRetag->verticalHeader()->setVisible(false);
    tblRetag->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblRetag->setWordWrap(false);
    for (int r = 0; r < int(rows.size()); ++r) {
        const retag::Row &row = rows[r];
        QTableWidgetItem *file = cell(paths::display(paths::nameOf(row.path)), paths::display(row.path));
        file->setFlags(file->flags() | Qt::ItemIsUserCheckable);
        file->setCheckState(row.sure ? Qt::Checked : Qt::Unchecked);
        tblRetag->setItem(r, 0, file);
        tblRetag->setItem(r, 1, cell(fieldCaption(row.field)));
        // A conversion keeps the text: the columns say how it is stored.
        const QString now = repair ? row.now : QStringLiteral("%1  (%2)").arg(row.now, row.storedNow);
        const QString after = repair ? row.after : QStringLiteral("%1  (%2)").arg(row.after, row.storedAfter);
        tblRetag->setItem(r, 2, cell(now, repair ? QStringLiteral("%1\n(%2)").arg(row.now, row.storedNow) : now));
        tblRetag->setItem(r, 3, cell(after));
        if (!row.sure) {
            for (int c = 0; c < 4; ++c)
                tblRetag->item(r, c)->setToolTip(QStringLiteral("文字コードの判定が確実ではありません (%1)")
                                                     .arg(row.storedNow));
        }
    }
    tblRetag->resizeColumnsToContents();
    tblRetag->horizontalHeader()->setStretchLastSection(true);
    for (int c = 0; c < 4; ++c)
        tblRetag->setColumnWidth(c, std::min(tblRetag->columnWidth(c), 260));
    layout->addWidget(tblRetag);

    lblCount = new QLabel(this);
    lblCount->setObjectName(QStringLiteral("lblCount"));
    layout->addWidget(lblCount);

    auto *buttons = new QDialogButtonBox(this);
    cmdApply = buttons->addButton(QStringLiteral("適用"), QDialogButtonBox::AcceptRole);
    cmdApply->setObjectName(QStringLiteral("cmdApply"));
    cmdCancel = buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    connect(tblRetag, &QTableWidget::itemChanged, this, &RetagDialog::updateCount);
    updateCount();
    resize(820, 460);
}

QList<retag::Row> RetagDialog::checkedRows() const
{
    QList<retag::Row> out;
    for (int r = 0; r < tblRetag->rowCount(); ++r) {
        if (tblRetag->item(r, 0)->checkState() == Qt::Checked)
            out.append(rows_[r]);
    }
    return out;
}

void RetagDialog::updateCount()
{
    const qsizetype checked = checkedRows().size();
    lblCount->setText(QStringLiteral("%1 項目中 %2 項目を書き込みます。").arg(rows_.size()).arg(checked));
    cmdApply->setEnabled(checked > 0);
}
