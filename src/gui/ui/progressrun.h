// Long work (reading thousands of tags, walking folder trees, renaming
// many files) run on a worker thread while the window keeps repainting.
// Work that ends within half a second shows nothing but the busy pointer;
// longer work shows a progress dialog with what is done of the total, the
// file it is at, and Cancel. Meanwhile the program's other windows take no
// input, so nothing else starts until the work is over.
#pragma once

#include <QString>

#include <atomic>
#include <functional>

class QWidget;

namespace ui {

struct ProgressState {
    qint64 done = 0;
    qint64 total = 0;     // 0: not known (a busy bar)
    QString current;      // the file or folder the work is at
};

// Runs `work` on a worker thread and returns when it has finished. The
// dialog, titled "Dorvasu" with `label` above the counts, asks `poll` for
// the state a few times a second; its Cancel sets `cancel`, which the work
// is to heed. A test can press Cancel through cancelProgressForTesting.
void runWithProgress(QWidget *parent, const QString &label, const std::function<void()> &work,
                     const std::function<ProgressState()> &poll, std::atomic<bool> *cancel);

// Hooks for tests: the dialog is shown at once (no half-second wait), and
// `onShown` runs each time the dialog has been updated.
void setProgressHookForTesting(std::function<void()> onShown);
// Whether a hook is set: work then waits for the dialog before it starts.
bool progressHookSet();
// Presses the Cancel of the dialog shown now; false when none is shown.
bool cancelProgressForTesting();

} // namespace ui
