// The file list's 文字化けを修復… and Unicode に変換…: the tags of the
// selected files (all files when none is selected) are read on a worker
// thread, the preview shows what would change, and the checked rows are
// written as one batch of tag writes; the proposed names follow.
#include "gui/app/frmmain.h"

#include "core/collection/entrylist.h"

#include <QItemSelectionModel>
#include <QListView>
#include <QSet>

#include <atomic>

#include "gui/ui/messagebox.h"
#include "gui/ui/progressrun.h"
#include "core/rename/renamelist.h"
#include "gui/repair/retagdialog.h"
#include "core/history/tagbatch.h"

void frmMain::retagFiles(retag::Kind kind)
{
    // The rows of the list to look at, in the list's order.
    QList<int> rows = selectedRows();
    if (rows.isEmpty()) {
        for (int row = 0; row < entries_->count(); ++row)
            rows.append(row);
    }
    if (rows.isEmpty())
        return;
    QList<QByteArray> files;
    for (int row : std::as_const(rows))
        files.append(entryPath(row));

    retag::PlanProgress planning;
    QList<retag::FilePlan> plans;
    ui::runWithProgress(
        this, QStringLiteral("タグを読んでいます…"), [&] { plans = retag::planFiles(kind, files, &planning); },
        [&] { return ui::ProgressState{planning.done.load(), files.size(), paths::display(planning.current.get())}; },
        &planning.cancel);
    if (planning.cancel.load())
        return;
    QList<retag::Row> found;
    for (const retag::FilePlan &plan : std::as_const(plans))
        found += plan.rows;
    if (found.isEmpty()) {
        ui::showMessage(kind == retag::Kind::Repair ? QStringLiteral("修復できる文字化けは見つかりませんでした。")
                                                    : QStringLiteral("Unicode に変換するタグはありません。"),
                        QMessageBox::Information, this);
        return;
    }

    RetagDialog preview(kind, found, this);
    if (preview.exec() != QDialog::Accepted)
        return;
    const QList<history::TagEdit> edits = retag::editsFor(kind, preview.checkedRows());
    std::atomic<qsizetype> done{0};
    std::atomic<bool> cancel{false};
    paths::SharedPath current;
    history::TagBatchResult result;
    ui::runWithProgress(
        this, QStringLiteral("タグを書き込んでいます…"),
        [&] {
            result = history::applyTagBatch(edits, retag::batchLabel(kind), [&](qsizetype i, qsizetype) {
                done = i;
                current.set(edits[i].path);
                return !cancel.load();
            });
        },
        [&] { return ui::ProgressState{done.load(), edits.size(), paths::display(current.get())}; }, &cancel);

    // The proposed names of the files written, read anew; the failures in
    // one message.
    QSet<QByteArray> written;
    QString failed;
    for (const history::TagEditResult &file : std::as_const(result.files)) {
        if (file.result.outcome == tags::WriteResult::Failed)
            failed += QStringLiteral("\r\n") + paths::display(file.path);
        else
            written.insert(file.path);
    }
    QList<int> writtenRows;
    for (qsizetype k = 0; k < files.size(); ++k) {
        if (written.contains(files[k]))
            writtenRows.append(rows[k]);
    }
    refreshWritten(writtenRows);
    if (!failed.isEmpty())
        ui::showMessage(QStringLiteral("Tag write error") + failed, QMessageBox::Warning, this);
}
