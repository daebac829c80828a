// The main window's list commands (Add, Select All, Clear, Remove), the
// proposed names of added files, the Rename command, and the click
// notification of the file list.
//
// The lists hold up to 32,767 entries. At that size anything done row by
// row through the list widget costs seconds to minutes (each selected flag
// set or each entry taken out re-runs the selection bookkeeping), so the
// commands here work on selection ranges and on the model in blocks.
#include "frmmain.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHash>
#include <QMenu>
#include <QMimeData>
#include <QUrl>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QMouseEvent>
#include <algorithm>
#include <utility>
#include <vector>

#include "frmfileselect.h"
#include "messagebox.h"
#include "mp3tree.h"
#include "paths.h"
#include "progressrun.h"
#include "renamefiles.h"
#include "renamejournal.h"
#include "renamelist.h"
#include "waitcursor.h"

namespace {

// List indexes are 16-bit signed numbers: this many entries at most.
constexpr int kMaxEntries = 32767;

struct RowBlock {
    int first;
    int last;
};

// The selected rows of a list as sorted, disjoint blocks of adjacent rows.
// The ranges of a selection model may overlap and come in any order.
std::vector<RowBlock> selectedBlocks(const QListWidget *list)
{
    std::vector<RowBlock> blocks;
    const QItemSelection selection = list->selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        if (range.isValid())
            blocks.push_back({range.top(), range.bottom()});
    }
    std::sort(blocks.begin(), blocks.end(),
              [](const RowBlock &a, const RowBlock &b) { return a.first < b.first; });
    std::vector<RowBlock> merged;
    for (const RowBlock &b : blocks) {
        if (!merged.empty() && b.first <= merged.back().last + 1)
            merged.back().last = std::max(merged.back().last, b.last);
        else
            merged.push_back(b);
    }
    return merged;
}

// Takes the rows of `blocks` (sorted, disjoint) out of `list`. A few blocks
// are removed one by one through the model. Many (every second entry, say)
// would each shift the whole rest of the list and update the selection's
// ranges, so then the list is filled anew with the kept entries: their texts
// and the paths they keep.
bool removeBlocks(QListWidget *list, const std::vector<RowBlock> &blocks)
{
    constexpr size_t kFewBlocks = 16;
    QAbstractItemModel *model = list->model();
    const int count = model->rowCount();
    if (blocks.size() <= kFewBlocks) {
        // Every selected entry goes: with no selection left to keep up to
        // date, each removal is cheap.
        list->selectionModel()->clearSelection();
        for (auto b = blocks.rbegin(); b != blocks.rend(); ++b) {
            const int last = std::min(b->last, count - 1);
            if (b->first <= last && !model->removeRows(b->first, last - b->first + 1))
                return false;
        }
        return true;
    }
    QStringList kept;
    QList<QVariant> keptPaths;
    kept.reserve(count);
    keptPaths.reserve(count);
    const auto keep = [&](int row) {
        kept.append(list->item(row)->text());
        keptPaths.append(list->item(row)->data(paths::kPathRole));
    };
    int row = 0;
    for (const RowBlock &b : blocks) {
        for (; row < std::min(b.first, count); ++row)
            keep(row);
        row = b.last + 1;
    }
    for (; row < count; ++row)
        keep(row);
    list->clear();
    list->addItems(kept);
    for (int i = 0; i < keptPaths.size(); ++i) {
        if (keptPaths[i].isValid())
            list->item(i)->setData(paths::kPathRole, keptPaths[i]);
    }
    return true;
}

} // namespace

// While a command changes lstMP3Files, the changes are not reported one by
// one: the command raises the notification itself, once, when it is done.
class frmMain::ListClickHold {
public:
    explicit ListClickHold(frmMain &w) : w_(w) { ++w_.listClickHolds_; }
    ~ListClickHold() { --w_.listClickHolds_; }
    ListClickHold(const ListClickHold &) = delete;
    ListClickHold &operator=(const ListClickHold &) = delete;

private:
    frmMain &w_;
};

// --- Click notification ------------------------------------------------
//
// The list widget signals one user action several times (a new current
// entry, then the selection; a click on one of several selected entries
// changes the current entry on the press and the selection on the
// release). Each signal only marks a change; the notification is raised
// once the action is over: after the mouse button is released for mouse
// actions, from the event loop for keyboard actions.

void frmMain::lstMP3Files_Changed()
{
    if (listClickHolds_ > 0)
        return;
    listClickPending_ = true;
    if (listMouseDown_ || listClickQueued_)
        return; // the release, or the queued report, will raise it
    listClickQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            listClickQueued_ = false;
            if (!listMouseDown_)
                raisePendingListClick();
        },
        Qt::QueuedConnection);
}

void frmMain::listViewportEvent(QEvent *event)
{
    if (!lstMP3Files->isEnabled())
        return; // a disabled list takes no mouse input
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        listMouseDown_ = true;
        break;
    case QEvent::MouseButtonRelease:
        // The list has not seen the release yet, and may still change its
        // selection on it; the mouse handler and the notification look at
        // the list once it has.
        listMouseDown_ = static_cast<QMouseEvent *>(event)->buttons() != Qt::NoButton;
        QMetaObject::invokeMethod(
            this,
            [this] {
                lstMP3Files_MouseUp();
                if (!listMouseDown_)
                    raisePendingListClick();
            },
            Qt::QueuedConnection);
        break;
    default:
        break;
    }
}

void frmMain::raisePendingListClick()
{
    if (listClickPending_)
        raiseListClick();
}

void frmMain::raiseListClick()
{
    listClickPending_ = false;
    emit lstMP3FilesClickRaised();
    lstMP3Files_Click();
}

void frmMain::lstMP3Files_MouseUp()
{
    // The tag frame is for one file at a time.
    const auto blocks = selectedBlocks(lstMP3Files);
    Frame1->setEnabled(blocks.size() == 1 && blocks.front().first == blocks.front().last);
}

// --- Add -----------------------------------------------------------------

void frmMain::cmdOpen_Click()
{
    const int n = lstMP3Files->count();
    {
        const ListClickHold hold(*this);
        frmFileSelect window(sMP3Folder_, IniFile(), topTwips(), leftTwips(), windowIcon(), appFolder_,
                             this);
        connect(&window, &frmFileSelect::filesChosen, this,
                [this](const QList<QByteArray> &files) { frmFileSelect::appendFiles(lstMP3Files, files); });
        window.exec();
    }
    // Whatever was chosen is in the list; its names are made now the window is closed.
    afterAppend(n);
}

void frmMain::appendFiles(const QList<QByteArray> &files)
{
    const int n = lstMP3Files->count();
    {
        const ListClickHold hold(*this);
        frmFileSelect::appendFiles(lstMP3Files, files);
    }
    afterAppend(n);
}

void frmMain::afterAppend(int firstNew)
{
    {
        const ListClickHold hold(*this);
        // What lies past the last index a list can have is taken off again.
        const int count = lstMP3Files->count();
        if (count > kMaxEntries) {
            lstMP3Files->setVisible(false);
            lstMP3Files->model()->removeRows(kMaxEntries, count - kMaxEntries);
            lstMP3Files->setVisible(true);
            ui::showMessage(
                QStringLiteral("一覧に入るのは %1 件までです。%2 件のファイルは追加されませんでした。")
                    .arg(kMaxEntries)
                    .arg(count - kMaxEntries),
                QMessageBox::Warning, this);
        }

        if (lstMP3Files->count() > firstNew)
            MakeRenameList(firstNew);
        if (lstMP3Files->count() == 0)
            return;
        // The first entry becomes the current one; the selection stays.
        lstMP3Files->selectionModel()->setCurrentIndex(lstMP3Files->model()->index(0, 0),
                                                       QItemSelectionModel::NoUpdate);
    }
    raiseListClick();
}

// --- Drop ----------------------------------------------------------------

namespace {

// The exact bytes of the local files among dropped URLs: a file URL keeps a
// name that is not UTF-8 as %XX escapes, which give the bytes back.
QList<QByteArray> localPaths(const QMimeData *data)
{
    QList<QByteArray> out;
    if (!data || !data->hasUrls())
        return out;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            out.append(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
    }
    return out;
}

} // namespace

void frmMain::dragEnterEvent(QDragEnterEvent *event)
{
    if (!localPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent *event)
{
    const QList<QByteArray> dropped = localPaths(event->mimeData());
    if (dropped.isEmpty())
        return;
    event->acceptProposedAction();
    // Added once the drop is over, so the file manager is not kept waiting.
    QMetaObject::invokeMethod(this, [this, dropped] { addDropped(dropped); }, Qt::QueuedConnection);
}

void frmMain::addDropped(const QList<QByteArray> &dropped)
{
    collection::WalkProgress walk;
    QList<QByteArray> files;
    ui::runWithProgress(
        this, QStringLiteral("フォルダーから MP3 ファイルを探しています…"),
        [&] { files = collection::mp3FilesUnder(dropped, &walk); },
        [&] {
            return ui::ProgressState{walk.found.load(), 0, paths::display(walk.current.get())};
        },
        &walk.cancel);
    if (walk.cancel.load() || files.isEmpty())
        return;   // cancelled: nothing is added
    appendFiles(files);
}

void frmMain::MakeRenameList(int lStartIndex)
{
    QDir::setCurrent(appFolder_); // where it fails, the names do not depend on it

    const int count = lstMP3Files->count();
    QList<QByteArray> files;
    files.reserve(std::max(0, count - lStartIndex));
    for (int i = std::max(0, lStartIndex); i < count; ++i)
        files.append(entryPath(i));
    if (files.isEmpty())
        return;
    renaming::NameProgress progress;
    QStringList names;
    ui::runWithProgress(
        this, QStringLiteral("タグを読んでいます…"),
        [&] { names = renaming::makeRenameNames(files, &progress); },
        [&] {
            return ui::ProgressState{progress.done.load(), files.size(), paths::display(progress.current.get())};
        },
        &progress.cancel);
    // Cancelled: the entries whose names were not read are not added.
    if (names.size() < files.size()) {
        const ListClickHold hold(*this);
        lstMP3Files->setVisible(false);
        lstMP3Files->model()->removeRows(lStartIndex + int(names.size()), int(files.size() - names.size()));
        lstMP3Files->setVisible(true);
    }
    lstRename->addItems(names);
}

QByteArray frmMain::entryPath(int row) const
{
    const QListWidgetItem *item = lstMP3Files->item(row);
    return item ? paths::entryPath(item->data(paths::kPathRole), item->text()) : QByteArray();
}

// --- Select All ----------------------------------------------------------

void frmMain::cmdAllSel_Click()
{
    bool selected = false;
    {
        const ListClickHold hold(*this);
        lstMP3Files->setVisible(false);
        lstMP3Files->setEnabled(false);
        lstRename->setEnabled(false);
        // One selection operation for all entries; the current entry stays.
        const int count = lstMP3Files->count();
        if (count > 0) {
            QAbstractItemModel *model = lstMP3Files->model();
            lstMP3Files->selectionModel()->select(
                QItemSelection(model->index(0, 0), model->index(count - 1, 0)),
                QItemSelectionModel::Select);
            selected = true;
        }
        lstRename->setEnabled(true);
        lstMP3Files->setEnabled(true);
        lstMP3Files->setVisible(true);
        Frame1->setEnabled(false);
    }
    if (selected)
        raiseListClick();
}

// --- Clear ---------------------------------------------------------------

void frmMain::cmdClear_Click()
{
    // Emptying the list reports nothing: there is no entry left to show.
    const ListClickHold hold(*this);
    lstMP3Files->clear();
    lstRename->clear();
}

// --- Remove --------------------------------------------------------------

void frmMain::cmdRemove_Click()
{
    {
        const ListClickHold hold(*this);
        lstMP3Files->setVisible(false);

        const std::vector<RowBlock> blocks = selectedBlocks(lstMP3Files);
        if (!removeBlocks(lstMP3Files, blocks) || !removeBlocks(lstRename, blocks)) {
            lstMP3Files->setVisible(true);
            ui::showMessage(QStringLiteral("一覧から項目を削除できませんでした。"),
                            QMessageBox::Warning, this);
            return;
        }

        lstMP3Files->setVisible(true);

        // The last entry becomes current and the only one selected.
        const int count = lstMP3Files->count();
        if (count == 0)
            return;
        lstMP3Files->selectionModel()->setCurrentIndex(lstMP3Files->model()->index(count - 1, 0),
                                                       QItemSelectionModel::ClearAndSelect);
    }
    raiseListClick();
}

// --- Rename --------------------------------------------------------------

void frmMain::cmdRename_Click()
{
    QList<renaming::RenameJob> jobs;
    for (const RowBlock &b : selectedBlocks(lstMP3Files)) {
        for (int row = b.first; row <= b.last; ++row) {
            const QListWidgetItem *name = lstRename->item(row);
            jobs.append({row, entryPath(row), name ? name->text() : QString(),
                         lstMP3Files->item(row)->text()});
        }
    }
    if (jobs.isEmpty())
        return;

    renaming::RenameJournal journal(journalPath());
    renaming::RenameProgress progress;
    renaming::RenameResult result;
    ui::runWithProgress(
        this, QStringLiteral("ファイル名を変更しています…"),
        [&] { result = renaming::renameFiles(jobs, &journal, &progress); },
        [&] {
            const int at = progress.current.load();
            return ui::ProgressState{progress.done.load(), jobs.size(),
                                     at >= 0 ? jobs[at].shown : QString()};
        },
        &progress.cancel);
    if (result.journalFailed) {
        ui::showMessage(renaming::journalFailureMessage(QDir::toNativeSeparators(journalPath())),
                        QMessageBox::Warning, this);
        return;
    }
    // Only the texts change; the selection and the current entry stay.
    for (const auto &moved : std::as_const(result.newPaths)) {
        QListWidgetItem *item = lstMP3Files->item(moved.index);
        item->setText(paths::display(moved.path));
        item->setData(paths::kPathRole, moved.path);
    }
    if (!result.failed.isEmpty() || result.notTried > 0)
        ui::showMessage(renaming::renameFailureMessage(result.failed, result.notTried),
                        QMessageBox::Warning, this);
}

// --- Undo ----------------------------------------------------------------

namespace {

QString journalFile;

} // namespace

void frmMain::setJournalPathForTesting(const QString &path)
{
    journalFile = path;
}

QString frmMain::journalPath() const
{
    return journalFile.isEmpty() ? renaming::RenameJournal::defaultPath() : journalFile;
}

void frmMain::Undo()
{
    renaming::LastUndo undo;
    {
        const ui::WaitCursor wait;
        undo = renaming::undoLastBatch(journalPath());
        // The entries follow their files.
        QHash<QByteArray, QByteArray> back;
        for (const auto &moved : std::as_const(undo.result.moved))
            back.insert(moved.from, moved.to);
        for (int row = 0; row < lstMP3Files->count() && !back.isEmpty(); ++row) {
            const auto it = back.constFind(entryPath(row));
            if (it == back.constEnd())
                continue;
            QListWidgetItem *item = lstMP3Files->item(row);
            item->setText(paths::display(*it));
            item->setData(paths::kPathRole, *it);
        }
    }
    if (undo.load == renaming::RenameJournal::Load::Damaged) {
        ui::showMessage(QStringLiteral("名前の変更の記録が壊れているため、元に戻せません。\r\n\r\n")
                            + QDir::toNativeSeparators(journalPath()),
                        QMessageBox::Warning, this);
        return;
    }
    const QString text = renaming::undoFailureMessage(undo.result);
    if (!text.isEmpty())
        ui::showMessage(text, QMessageBox::Warning, this);
}

void frmMain::showListMenu(const QPoint &pos)
{
    QList<renaming::JournalEntry> batch;
    const bool undoable = renaming::RenameJournal(journalPath()).load(batch)
                          != renaming::RenameJournal::Load::Nothing;
    QMenu menu(this);
    QAction *undo = menu.addAction(QStringLiteral("元に戻す"), this, &frmMain::Undo);
    undo->setShortcut(QKeySequence::Undo);
    undo->setEnabled(undoable);
    const bool selected = lstMP3Files->selectionModel()->hasSelection();
    QAction *edit = menu.addAction(QStringLiteral("選択したファイルを一括編集…"), this, &frmMain::BatchEdit);
    edit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    edit->setEnabled(selected);
    menu.addAction(QStringLiteral("ファイル名からタグ…"), this, &frmMain::TagsFromNames)->setEnabled(selected);
    menu.exec(lstMP3Files->viewport()->mapToGlobal(pos));
}
