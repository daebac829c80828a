#include "gui/app/frmbatchedit.h"

#include "gui/ui/messagebox.h"
#include "core/tags/tagfields.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kKeep = QStringLiteral("(変更しない)");

// The text of a box: none while a box that started in the keep state is empty.
std::optional<QString> boxValue(const QLineEdit *box, const std::optional<QString> &start)
{
    if (!start && box->text().isEmpty())
        return std::nullopt;
    return box->text();
}

} // namespace

frmBatchEdit::frmBatchEdit(const batch::FieldValues &start, qsizetype fileCount, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      start_(start)
{
    setObjectName(QStringLiteral("frmBatchEdit"));
    setWindowTitle(QStringLiteral("一括編集 - ") + ui::kAppTitle);
    auto *layout = new QVBoxLayout(this);
    auto *count = new QLabel(QStringLiteral("選択した %1 件のファイルに書き込みます。"
                                            "「(変更しない)」の項目はそのままです。")
                                 .arg(fileCount),
                             this);
    count->setWordWrap(true);
    layout->addWidget(count);
    auto *form = new QFormLayout;
    layout->addLayout(form);

    const auto box = [&](QLineEdit *&edit, const char *name, const QString &label, int maxLength,
                         const std::optional<QString> &value) {
        edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        edit->setMaxLength(maxLength);
        // Only a field in the keep state says so: emptied, a field that
        // started at a shared value clears that value in every file.
        if (!value)
            edit->setPlaceholderText(kKeep);
        edit->setText(value.value_or(QString()));
        edit->setMinimumWidth(320);
        form->addRow(label, edit);
    };
    box(txtTrackName, "txtTrackName", QStringLiteral("曲名"), tags::kFieldMaxLength, start.title);
    box(txtArtistName, "txtArtistName", QStringLiteral("歌手名"), tags::kFieldMaxLength, start.artist);
    box(txtAlbumName, "txtAlbumName", QStringLiteral("アルバム名"), tags::kFieldMaxLength, start.album);
    box(txtComment, "txtComment", QStringLiteral("コメント"), tags::kFieldMaxLength, start.comment);
    box(txtYear, "txtYear", QStringLiteral("年代"), tags::kYearMaxLength, start.year);
    txtYear->setMaximumWidth(120);

    // The genre list, after an entry for the keep state; a shared genre the
    // list lacks (a name of the files' own) shows the keep state too.
    cmbGenre = new QComboBox(this);
    cmbGenre->setObjectName(QStringLiteral("cmbGenre"));
    cmbGenre->addItem(kKeep, -1);
    for (const tags::GenreEntry &g : tags::genreList())
        cmbGenre->addItem(g.GenreName, g.GenreNo);
    if (start.genre) {
        for (int i = 1; i < cmbGenre->count(); ++i) {
            if (cmbGenre->itemData(i).toInt() == start.genre->GenreNo && cmbGenre->itemText(i) == start.genre->GenreName)
                cmbGenre->setCurrentIndex(i);
        }
    }
    form->addRow(QStringLiteral("ジャンル"), cmbGenre);

    auto *buttons = new QDialogButtonBox(this);
    cmdApply = buttons->addButton(QStringLiteral("適用"), QDialogButtonBox::AcceptRole);
    cmdApply->setObjectName(QStringLiteral("cmdApply"));
    cmdCancel = buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdApply->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

batch::FieldValues frmBatchEdit::shown() const
{
    batch::FieldValues out;
    out.title = boxValue(txtTrackName, start_.title);
    out.artist = boxValue(txtArtistName, start_.artist);
    out.album = boxValue(txtAlbumName, start_.album);
    out.year = boxValue(txtYear, start_.year);
    out.comment = boxValue(txtComment, start_.comment);
    if (const int i = cmbGenre->currentIndex(); i > 0)
        out.genre = tags::GenreEntry{cmbGenre->itemData(i).toInt(), cmbGenre->itemText(i)};
    return out;
}
