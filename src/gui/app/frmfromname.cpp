#include "gui/app/frmfromname.h"

#include "gui/ui/messagebox.h"
#include "core/paths/paths.h"

#include <QAbstractTableModel>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace {

const QString kNoMatch = QStringLiteral("一致しません");

} // namespace

// One row per file: its name, and the fields the pattern gives.
class frmFromName::Preview : public QAbstractTableModel {
public:
    explicit Preview(const QList<QByteArray> &paths, QObject *parent) : QAbstractTableModel(parent)
    {
        for (const QByteArray &path : paths)
            names_.append(paths::display(paths::nameOf(path)));
    }

    void setPattern(const batch::NamePattern &pattern)
    {
        beginResetModel();
        valid_ = pattern.valid();
        matches_.clear();
        for (const QString &name : std::as_const(names_))
            matches_.append(pattern.match(name));
        endResetModel();
    }

    qsizetype matched() const
    {
        return std::count_if(matches_.begin(), matches_.end(), [](const batch::NameFields &m) { return m.matched; });
    }

    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(names_.size()); }
    int columnCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : 7; }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        static const QStringList headers{QStringLiteral("ファイル名"), QStringLiteral("歌手名"),
                                         QStringLiteral("曲名"),       QStringLiteral("アルバム名"),
                                         QStringLiteral("年代"),       QStringLiteral("コメント"),
                                         QStringLiteral("トラック")};
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
            return headers.value(section);
        return QAbstractTableModel::headerData(section, orientation, role);
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= names_.size())
            return {};
        const int row = index.row();
        const bool matched = row < matches_.size() && matches_[row].matched;
        if (role == Qt::ForegroundRole && index.column() > 0 && !matched)
            return QColor(Qt::gray);
        if (role != Qt::DisplayRole)
            return {};
        if (index.column() == 0)
            return names_[row];
        if (!valid_)
            return QString();
        if (!matched)
            return index.column() == 1 ? kNoMatch : QString();
        const batch::NameFields &m = matches_[row];
        switch (index.column()) {
        case 1:
            return m.fields.artist.value_or(QString());
        case 2:
            return m.fields.title.value_or(QString());
        case 3:
            return m.fields.album.value_or(QString());
        case 4:
            return m.fields.year.value_or(QString());
        case 5:
            return m.fields.comment.value_or(QString());
        default:
            return m.track ? QString::number(*m.track) : QString();
        }
    }

private:
    QStringList names_;
    QList<batch::NameFields> matches_;
    bool valid_ = true;
};

frmFromName::frmFromName(const QList<QByteArray> &paths, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmFromName"));
    setWindowTitle(QStringLiteral("ファイル名からタグ - ") + ui::kAppTitle);
    auto *layout = new QVBoxLayout(this);
    auto *help = new QLabel(QStringLiteral("パターン: %artist% 歌手名、%title% 曲名、%album% アルバム名、"
                                           "%year% 年代 (4 桁)、%comment% コメント、%track% 番号 (書き込みません)、"
                                           "%skip% 読み飛ばす文字。拡張子 .mp3 は含めません。"),
                            this);
    help->setWordWrap(true);
    layout->addWidget(help);
    txtPattern = new QLineEdit(batch::kDefaultNamePattern, this);
    txtPattern->setObjectName(QStringLiteral("txtPattern"));
    layout->addWidget(txtPattern);

    preview_ = new Preview(paths, this);
    grdPreview = new QTableView(this);
    grdPreview->setObjectName(QStringLiteral("grdPreview"));
    grdPreview->setModel(preview_);
    grdPreview->setSelectionMode(QAbstractItemView::NoSelection);
    grdPreview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdPreview->verticalHeader()->setDefaultSectionSize(grdPreview->fontMetrics().height() + 6);
    grdPreview->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(grdPreview, 1);

    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    layout->addWidget(lblStatus);

    auto *buttons = new QDialogButtonBox(this);
    cmdApply = buttons->addButton(QStringLiteral("適用"), QDialogButtonBox::AcceptRole);
    cmdApply->setObjectName(QStringLiteral("cmdApply"));
    cmdCancel = buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    // Enter in the pattern box only updates the preview: writing takes 適用.
    for (QPushButton *b : {cmdApply, cmdCancel})
        b->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(txtPattern, &QLineEdit::textChanged, this, &frmFromName::patternChanged);
    patternChanged();
    grdPreview->resizeColumnsToContents();
    resize(900, 480);
}

void frmFromName::patternChanged()
{
    pattern_ = batch::NamePattern(txtPattern->text());
    preview_->setPattern(pattern_);
    const qsizetype matched = preview_->matched();
    QPalette p = lblStatus->palette();
    p.setColor(QPalette::WindowText, pattern_.valid() ? palette().color(QPalette::WindowText) : QColor(Qt::red));
    lblStatus->setPalette(p);
    lblStatus->setText(pattern_.valid() ? QStringLiteral("%1 件中 %2 件が一致します。一致しないファイルには書き込みません。")
                                              .arg(preview_->rowCount())
                                              .arg(matched)
                                        : pattern_.errorMessage());
    cmdApply->setEnabled(pattern_.valid() && matched > 0);
}

QString frmFromName::previewText(int row, int column) const
{
    return preview_->index(row, column).data().toString();
}
