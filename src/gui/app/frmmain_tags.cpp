// The main window's tag frame: showing the current file's tag, writing the
// edited fields back, Copy and Paste. The rules live in tags/; these
// handlers read the controls, call them and write the controls.
#include "gui/app/frmmain.h"

#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListView>

#include "core/collection/entrylist.h"
#include "core/tags/existence.h"
#include "core/history/history.h"
#include "core/history/tagbatch.h"
#include "gui/ui/messagebox.h"
#include "core/rename/newname.h"
#include "core/tags/tagedit.h"
#include "core/tags/tagfields.h"
#include "core/tags/vbmp3.h"

namespace {

tags::TagFieldTexts fieldTexts(const frmMain &w)
{
    return {w.txtTrackName->text(), w.txtArtistName->text(), w.txtAlbumName->text(),
            w.txtYear->text(), w.txtComment->text()};
}

// The edit fields in the order the tag lists them: title, singer, album,
// year; the comment comes after the genre.
void setTextFields(frmMain &w, const tags::TagFieldTexts &t)
{
    w.txtTrackName->setText(t.TrackName);
    w.txtArtistName->setText(t.ArtistName);
    w.txtAlbumName->setText(t.AlbumName);
    w.txtYear->setText(t.Year);
}

tags::GenreEntry selectedGenre(const QComboBox &genres)
{
    const int i = genres.currentIndex();
    if (i < 0)
        return {};
    return {genres.itemData(i).toInt(), genres.itemText(i)};
}

// Selects the first genre entry numbered `genreNo` among the first `limit`
// entries; with none, the selection stays, or with `clearWhenMissing` the
// list shows no selection.
void selectGenre(QComboBox &genres, std::int32_t genreNo, qsizetype limit, bool clearWhenMissing = false)
{
    QList<std::int32_t> numbers;
    const int count = int(qMin<qsizetype>(genres.count(), limit));
    numbers.reserve(count);
    for (int i = 0; i < count; ++i)
        numbers.append(genres.itemData(i).toInt());
    const int found = tags::genreEntryIndex(numbers, genreNo, limit);
    if (found >= 0 || clearWhenMissing)
        genres.setCurrentIndex(found);
}

} // namespace

void frmMain::lstMP3Files_Click()
{
    const int index = currentRow();
    if (index < 0)
        return;
    const QByteArray path = entryPath(index);

    // The proposed name of this file is highlighted, whatever follows.
    if (const QModelIndex proposed = lstRename->model()->index(index, 0); proposed.isValid()) {
        lstRename->setCurrentIndex(proposed);
        lstRename->scrollTo(proposed);
    }

    if (!tags::fileExists(path)) {
        ui::showMessage(QStringLiteral("File not found"), QMessageBox::Warning, this);
        return;
    }

    tags::TagInfo tag;
    mp3lib::TagInfoWire wire = tag.toWire();
    const std::int16_t read = vbmp3_getFileTagInfo(path.constData(), wire);
    tag.fromWire(wire);
    if (read == 0) {
        ui::showMessage(QStringLiteral("Tag info error"), QMessageBox::Warning, this);
        return;
    }

    const tags::TagFieldTexts shown = tags::displayTexts(tag);
    setTextFields(*this, shown);
    // A genre the list lacks (a name of the file's own) shows no selection,
    // and an Update that leaves it so keeps the file's genre: the previous
    // file's genre must not stay selected and be written into this one.
    selectGenre(*cmbGenre, tag.GenreNo, cmbGenre->count(), true);
    txtComment->setText(shown.Comment);
}

void frmMain::cmdRewrite_Click()
{
    const int index = currentRow();
    if (index < 0)
        return;
    const QByteArray path = entryPath(index);
    if (!tags::fileExists(path))
        return;

    // A batch of one, so that Undo takes it back; every field is given, so
    // the record written is the one the boxes make.
    const tags::TagFieldTexts texts = fieldTexts(*this);
    const tags::GenreEntry genre = selectedGenre(*cmbGenre);
    tags::TagInfo tag = tags::recordForUpdate(texts, genre);
    const tags::FieldChanges changes{texts.TrackName, texts.ArtistName, texts.AlbumName,
                                     texts.Year,      texts.Comment,    genre};
    const history::TagBatchResult written
        = history::applyTagBatch({{path, changes}}, QStringLiteral("更新"));

    // A tag that was not written must not show a name made from it: the
    // proposed name still belongs to the tag the file has.
    if (written.journalFailed) {
        ui::showMessage(QStringLiteral("タグの書き込みを記録できないため、タグを書き込みませんでした。\r\n\r\n")
                            + QDir::toNativeSeparators(history::folder()),
                        QMessageBox::Warning, this);
        return;
    }
    if (written.files.value(0).result.outcome == tags::WriteResult::Failed) {
        ui::showMessage(QStringLiteral("Tag write error"), QMessageBox::Warning, this);
        return;
    }
    entries_->setName(index, renaming::ComposeNewName(tag));
}

void frmMain::cmdCopy_Click()
{
    const tags::TagFieldTexts texts = fieldTexts(*this);
    const tags::GenreEntry genre = selectedGenre(*cmbGenre);
    CopyTag = tags::copyBuffer(texts, genre);

    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(tags::clipboardLine(texts, genre.GenreName));
}

void frmMain::cmdPaste_Click()
{
    const tags::TagFieldTexts texts{
        tags::TrimTagStr(CopyTag.TrackName), tags::TrimTagStr(CopyTag.ArtistName),
        tags::TrimTagStr(CopyTag.AlbumName), tags::TrimTagStr(CopyTag.Year),
        tags::TrimTagStr(CopyTag.Comment)};
    setTextFields(*this, texts);
    txtComment->setText(texts.Comment);
    selectGenre(*cmbGenre, CopyTag.GenreNo, tags::kPasteGenreSearchLimit);
}
