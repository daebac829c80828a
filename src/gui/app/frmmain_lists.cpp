// The main window's list commands (Add, Select All, Clear, Remove), the
// proposed names of added files, the Rename command, and the click
// notification of the file list.
//
// Both lists show one model of entries (collection::EntryList), which has no
// limit of its own: whole collections of hundreds of thousands of files. At
// that size anything done row by row through a view costs seconds to
// minutes (each selected flag set re-runs the selection bookkeeping), so the
// commands here work on selection ranges and on the model in blocks.
#include "gui/app/frmmain.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHash>
#include <QMenu>
#include <QMimeData>
#include <QSet>
#include <QUrl>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QListView>
#include <QMouseEvent>
#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>
#include <cstdlib>
#include <utility>
#include <vector>

#include "core/collection/entrylist.h"
#include "gui/fileselect/frmfileselect.h"
#include "core/history/history.h"
#include "gui/ui/messagebox.h"
#include "core/collection/mp3tree.h"
#include "core/paths/paths.h"
#include "gui/ui/progressrun.h"
#include "core/rename/namereader.h"
#include "core/rename/renamefiles.h"
#include "core/rename/renamejournal.h"
#include "core/rename/renamelist.h"
#include "gui/ui/waitcursor.h"

namespace {

std::function<void(int)> renameStep;

std::vector<collection::RowBlock> selectedBlocks(const QListView *list)
{
    return collection::blocksOf(list->selectionModel()->selection());
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
    const int n = entries_->count();
    {
        const ListClickHold hold(*this);
        frmFileSelect window(sMP3Folder_, IniFile(), topTwips(), leftTwips(), windowIcon(), appFolder_,
                             this);
        connect(&window, &frmFileSelect::filesChosen, this,
                [this](const QList<QByteArray> &files) { appendEntries(files); });
        window.exec();
    }
    // Whatever was chosen is in the list; its names are made now the window is closed.
    afterAppend(n);
}

void frmMain::appendFiles(const QList<QByteArray> &files)
{
    const int n = entries_->count();
    {
        const ListClickHold hold(*this);
        appendEntries(files);
    }
    afterAppend(n);
}

void frmMain::appendEntries(const QList<QByteArray> &files)
{
    // A chunk goes in now, the rest a chunk per turn of the event loop.
    const bool idle = toAppend_.isEmpty();
    toAppend_ += files;
    entries_->reserve(entries_->count() + int(toAppend_.size()));
    appending_ = !toAppend_.isEmpty();
    if (idle)
        appendSome();
}

void frmMain::appendSome()
{
    if (toAppend_.isEmpty() || stopNames_)
        return;
    // Each insertion makes both lists lay out all their rows again, so the
    // chunks grow with the list (half of what it holds), up to four times
    // the first: a collection is laid out a dozen times over, not once per
    // 8,192 entries, and no chunk keeps the window busy for long.
    const qsizetype size = std::clamp<qsizetype>(entries_->count() / 2, collection::EntryList::kInsertChunk,
                                                 4 * collection::EntryList::kInsertChunk);
    const QList<QByteArray> chunk = toAppend_.first(std::min(toAppend_.size(), size));
    toAppend_.remove(0, chunk.size());
    // The list is hidden and disabled while entries go in, and shown once.
    lstMP3Files->setEnabled(false);
    lstMP3Files->setVisible(false);
    const int first = entries_->count();
    entries_->append(chunk);
    lstMP3Files->setEnabled(true);
    lstMP3Files->setVisible(true);
    // Their names are read at once, and shown as they come: also while the
    // file selection window is still open.
    queueNames(first, chunk);
    appending_ = !toAppend_.isEmpty();
    if (!toAppend_.isEmpty())
        QMetaObject::invokeMethod(this, &frmMain::appendSome, Qt::QueuedConnection);
}

void frmMain::queueNames(int first, const QList<QByteArray> &files)
{
    if (files.isEmpty())
        return;
    QDir::setCurrent(appFolder_); // where it fails, the names do not depend on it
    // Under test the reading waits for the progress dialog, so that a test
    // can press Cancel before it has begun.
    nameReader_->hold(ui::progressHookSet());
    nameReader_->read(first, files);
    namesQueued_ = first + int(files.size());
}

void frmMain::takeNames()
{
    for (const renaming::NameReader::Names &run : nameReader_->take())
        entries_->fillNames(run.first, run.names);
}

void frmMain::afterAppend(int firstNew)
{
    {
        const ListClickHold hold(*this);
        if (entries_->count() > firstNew)
            MakeRenameList(firstNew);
        if (entries_->count() == 0)
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
    // Rows added since the last queue are queued now; those queued already
    // are being read.
    const int from = std::max(lStartIndex, std::min(namesQueued_, entries_->count()));
    queueNames(from, entries_->pathsFrom(from));
    if (nameReader_->busy() || appending_) {
        // Waits, on the dialog's thread, until every file is in and named.
        const renaming::NameProgress &progress = nameReader_->progress();
        std::atomic<bool> &stop = stopNames_;
        stop = false;
        ui::runWithProgress(
            this, QStringLiteral("タグを読んでいます…"),
            [&] {
                if (stop)   // pressed before the reading began: none begins
                    nameReader_->cancel();
                nameReader_->hold(false);
                while (!stop && (appending_ || nameReader_->busy()))
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                if (stop)
                    nameReader_->cancel();
                nameReader_->wait();
            },
            [&] {
                return ui::ProgressState{progress.done.load(), nameReader_->total(),
                                         paths::display(progress.current.get())};
            },
            &stop);
        // Cancelled: the files not yet in the list stay out of it.
        toAppend_.clear();
        appending_ = false;
        stop = false;
    }
    nameReader_->hold(false);
    takeNames();
    // Cancelled: the entries whose names were not read are taken out again.
    if (const int cut = nameReader_->firstUnread(); cut >= 0) {
        const ListClickHold hold(*this);
        lstMP3Files->setVisible(false);
        entries_->truncate(cut);
        lstMP3Files->setVisible(true);
        nameReader_->reset();
    }
    namesQueued_ = entries_->count();
}

QByteArray frmMain::entryPath(int row) const
{
    return entries_->path(row);
}

int frmMain::currentRow() const
{
    const QModelIndex current = lstMP3Files->currentIndex();
    return current.isValid() ? current.row() : -1;
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
        const int count = entries_->count();
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
    toAppend_.clear();   // files of a tree not yet in the list stay out
    appending_ = false;
    nameReader_->reset();
    entries_->clear();
    namesQueued_ = 0;
}

// --- Remove --------------------------------------------------------------

void frmMain::cmdRemove_Click()
{
    {
        const ListClickHold hold(*this);
        lstMP3Files->setVisible(false);

        // Every selected entry goes: with no selection left to keep up to
        // date, each removal is cheap.
        const std::vector<collection::RowBlock> blocks = selectedBlocks(lstMP3Files);
        lstMP3Files->selectionModel()->clearSelection();
        nameReader_->reset();
        entries_->remove(blocks);
        namesQueued_ = entries_->count();

        lstMP3Files->setVisible(true);

        // The last entry becomes current and the only one selected.
        const int count = entries_->count();
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
    // Sized first: growing a list of 200,000 jobs step by step moves them
    // all again and again on the window's thread.
    const std::vector<collection::RowBlock> blocks = selectedBlocks(lstMP3Files);
    qsizetype selected = 0;
    for (const collection::RowBlock &b : blocks)
        selected += b.last - b.first + 1;
    QList<renaming::RenameJob> jobs;
    jobs.reserve(selected);
    for (const collection::RowBlock &b : blocks) {
        for (int row = b.first; row <= b.last && row < entries_->count(); ++row)
            jobs.append({row, entryPath(row), entries_->name(row)});
    }
    if (jobs.isEmpty())
        return;

    renaming::RenameProgress progress;
    progress.beforeFile = renameStep;
    renaming::RenameResult result;
    ui::runWithProgress(
        this, QStringLiteral("ファイル名を変更しています…"),
        [&] {
            // The history is put in order on this thread too: it may settle
            // the last batch, file by file.
            renaming::RenameJournal journal(history::newAction(history::Kind::Renames, &progress.cancel));
            result = renaming::renameFiles(jobs, &journal, &progress);
        },
        [&] {
            const int at = progress.current.load();
            return ui::ProgressState{progress.done.load(), jobs.size(),
                                     at >= 0 ? paths::display(jobs[at].path) : QString()};
        },
        &progress.cancel);
    if (result.journalFailed) {
        ui::showMessage(renaming::journalFailureMessage(QDir::toNativeSeparators(history::folder())),
                        QMessageBox::Warning, this);
        return;
    }
    // Only the texts change; the selection and the current entry stay.
    QList<collection::EntryList::Moved> moved;
    moved.reserve(result.newPaths.size());
    for (const auto &m : std::as_const(result.newPaths))
        moved.append({m.index, m.path});
    entries_->setPaths(moved);
    if (!result.failed.isEmpty() || result.notTried > 0)
        ui::showMessage(renaming::renameFailureMessage(result.failed, result.notTried),
                        QMessageBox::Warning, this);
}

// --- Undo ----------------------------------------------------------------

void frmMain::setHistoryFolderForTesting(const QString &folder)
{
    history::setFolderForTesting(folder);
}

void frmMain::setRenameStepForTesting(std::function<void(int)> step)
{
    renameStep = std::move(step);
}

void frmMain::Undo()
{
    history::Undone undo;
    renaming::UndoProgress progress;
    QList<collection::EntryList::Moved> moved;
    const QList<QByteArray> listed = entries_->pathsFrom(0);
    ui::runWithProgress(
        this, QStringLiteral("元に戻しています…"),
        [&] {
            undo = history::undoLast(&progress);
            // The entries follow their files.
            QHash<QByteArray, QByteArray> back;
            for (const auto &m : std::as_const(undo.renames.moved))
                back.insert(m.from, m.to);
            for (int row = 0; row < listed.size() && !back.isEmpty(); ++row) {
                const auto it = back.constFind(listed[row]);
                if (it != back.constEnd())
                    moved.append({row, *it});
            }
        },
        [&] {
            return ui::ProgressState{progress.done.load(), progress.total.load(),
                                     paths::display(progress.current.get())};
        },
        &progress.cancel);
    {
        const ui::WaitCursor wait;
        entries_->setPaths(moved);
        refreshAfterTagUndo(undo.tags);
    }
    if (undo.what == history::Undone::Damaged) {
        ui::showMessage((undo.kind == history::Kind::Tags ? QStringLiteral("タグの書き込みの記録が壊れているため、元に戻せません。\r\n\r\n")
                                                         : QStringLiteral("名前の変更の記録が壊れているため、元に戻せません。\r\n\r\n"))
                            + QDir::toNativeSeparators(undo.journal),
                        QMessageBox::Warning, this);
        return;
    }
    const QString text = undo.what == history::Undone::Tags ? history::tagUndoFailureMessage(undo.tags, undo.tagsNotTried)
                                                            : renaming::undoFailureMessage(undo.renames);
    if (!text.isEmpty())
        ui::showMessage(text, QMessageBox::Warning, this);
}

QList<int> frmMain::selectedRows() const
{
    QList<int> rows;
    for (const QItemSelectionRange &range : lstMP3Files->selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void frmMain::refreshWritten(const QList<int> &rows)
{
    if (rows.isEmpty())
        return;
    QList<QByteArray> files;
    files.reserve(rows.size());
    for (const int row : rows)
        files.append(entryPath(row));
    // Read on a worker, with progress and 中止: a batch may have written a
    // whole collection.
    renaming::NameProgress progress;
    QStringList names;
    ui::runWithProgress(
        this, QStringLiteral("タグを読んでいます…"), [&] { names = renaming::makeRenameNames(files, &progress); },
        [&] { return ui::ProgressState{progress.done.load(), files.size(), paths::display(progress.current.get())}; },
        &progress.cancel);
    // Run by run of adjacent rows; after 中止 the rest are read in the
    // background, as names are while files are added.
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype end = i + 1;
        while (end < rows.size() && rows[end] == rows[end - 1] + 1 && (end < names.size()) == (i < names.size()))
            ++end;
        if (i < names.size())
            entries_->fillNames(rows[i], names.mid(i, end - i));
        else
            nameReader_->read(rows[i], files.mid(i, end - i));
        i = end;
    }
    if (rows.contains(currentRow()))
        lstMP3Files_Click();
}

// The entries whose tags Undo put back (each the file itself, whatever
// spelling of its path the list has).
void frmMain::refreshAfterTagUndo(const QList<history::TagUndoFile> &files)
{
    QSet<QByteArray> restored, names;
    for (const history::TagUndoFile &file : files) {
        if (file.error.isEmpty()) {
            restored.insert(file.path);
            names.insert(paths::nameOf(file.path));
        }
    }
    QList<int> rows;
    for (int row = 0; row < entries_->count() && !restored.isEmpty(); ++row) {
        const QByteArray path = entryPath(row);
        char resolved[PATH_MAX];
        if (names.contains(paths::nameOf(path)) && ::realpath(path.constData(), resolved)
            && restored.contains(QByteArray(resolved)))
            rows.append(row);
    }
    refreshWritten(rows);
}

void frmMain::showListMenu(const QPoint &pos)
{
    const bool undoable = history::canUndo();
    QMenu menu(this);
    QAction *undo = menu.addAction(QStringLiteral("元に戻す"), this, &frmMain::Undo);
    undo->setShortcut(QKeySequence::Undo);
    undo->setEnabled(undoable);
    menu.addSeparator();
    const bool selected = lstMP3Files->selectionModel()->hasSelection();
    QAction *edit = menu.addAction(QStringLiteral("選択したファイルを一括編集…"), this, &frmMain::BatchEdit);
    edit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    edit->setEnabled(selected);
    menu.addAction(QStringLiteral("ファイル名からタグ…"), this, &frmMain::TagsFromNames)->setEnabled(selected);
    menu.addSeparator();
    menu.addAction(QStringLiteral("文字化けを修復…"), this, [this] { retagFiles(retag::Kind::Repair); });
    menu.addAction(QStringLiteral("Unicode に変換…"), this, [this] { retagFiles(retag::Kind::Convert); });
    menu.exec(lstMP3Files->viewport()->mapToGlobal(pos));
}
