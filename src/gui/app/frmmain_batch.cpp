// The main window's commands over many files at once: one edit of the six
// fields for the whole selection, and tag fields from the file names. The
// rules live in the core (batch/); these handlers gather the selected
// files, show the dialogs, run the batch of tag writes with progress and
// 中止, and refresh the proposed names of the files written.
#include "gui/app/frmmain.h"

#include "core/batch/batchedit.h"
#include "gui/app/frmbatchedit.h"
#include "core/collection/entrylist.h"
#include "gui/app/frmfromname.h"
#include "gui/ui/messagebox.h"
#include "core/paths/paths.h"
#include "gui/ui/progressrun.h"
#include "core/rename/renamelist.h"
#include "gui/ui/waitcursor.h"

#include <QListView>
#include <QSet>

namespace {

// The selected rows of the file list, in order, and their files.
QList<int> selectionOf(const frmMain &w, QList<QByteArray> *files)
{
    const QList<int> rows = w.selectedRows();
    for (const int row : rows)
        files->append(w.entryPath(row));
    return rows;
}

// A batch of tag writes, with its progress shown and 中止 heeded.
struct BatchRun {
    std::atomic<qsizetype> done{0};
    std::atomic<bool> cancel{false};
    paths::SharedPath current;
    history::TagBatchResult result;
};

} // namespace

// Runs `edits` (of the file list's `rows`, one each) as one batch, then
// refreshes the proposed names of the files written and the tag frame, and
// names in one message the files that failed.
static void runTagBatch(frmMain &w, const QList<int> &rows, const QList<history::TagEdit> &edits,
                        const QString &label)
{
    BatchRun run;
    ui::runWithProgress(
        &w, QStringLiteral("タグを書き込んでいます…"),
        [&] {
            run.result = history::applyTagBatch(edits, label, [&](qsizetype i, qsizetype) {
                if (run.cancel.load())
                    return false;
                run.done = i;
                run.current.set(edits[i].path);
                return true;
            });
        },
        [&] { return ui::ProgressState{run.done.load(), edits.size(), paths::display(run.current.get())}; },
        &run.cancel);

    QList<int> written;
    QStringList failed;
    for (qsizetype i = 0; i < run.result.files.size(); ++i) {
        const tags::WriteResult &r = run.result.files[i].result;
        if (r.outcome == tags::WriteResult::Written)
            written.append(rows[i]);
        else if (r.outcome == tags::WriteResult::Failed)
            failed.append(paths::display(edits[i].path));
    }
    w.refreshWritten(written);
    const QString message =
        batch::tagWriteFailureMessage(failed, edits.size() - run.result.files.size());
    if (!message.isEmpty())
        ui::showMessage(message, QMessageBox::Warning, &w);
}

void frmMain::BatchEdit()
{
    QList<QByteArray> files;
    const QList<int> rows = selectionOf(*this, &files);
    if (rows.isEmpty())
        return;

    batch::ReadProgress reading;
    std::optional<batch::FieldValues> start;
    ui::runWithProgress(
        this, QStringLiteral("タグを読んでいます…"), [&] { start = batch::sharedFields(files, &reading); },
        [&] { return ui::ProgressState{reading.done.load(), files.size(), paths::display(reading.current.get())}; },
        &reading.cancel);
    if (!start)
        return;   // cancelled

    frmBatchEdit dialog(*start, files.size(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QList<history::TagEdit> edits = batch::batchEdits(files, dialog.changes());
    if (!edits.isEmpty())
        runTagBatch(*this, rows, edits, QStringLiteral("一括編集"));
}

void frmMain::TagsFromNames()
{
    QList<QByteArray> files;
    const QList<int> rows = selectionOf(*this, &files);
    if (rows.isEmpty())
        return;

    frmFromName dialog(files, this);
    if (dialog.exec() != QDialog::Accepted || !dialog.pattern().valid())
        return;
    // Only the files whose names match are written.
    QList<qsizetype> matched;
    const QList<history::TagEdit> edits = batch::fromNameEdits(files, dialog.pattern(), &matched);
    QList<int> matchedRows;
    for (const qsizetype i : std::as_const(matched))
        matchedRows.append(rows[i]);
    if (!edits.isEmpty())
        runTagBatch(*this, matchedRows, edits, QStringLiteral("ファイル名からタグ"));
}
