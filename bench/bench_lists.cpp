// The main window's list commands with full lists (32,767 entries): the
// bulk append of Add, the proposed names' append, Select All, Remove of
// every second entry, Remove of all, Clear and Rename. Paths name no file,
// so the figures are those of the lists themselves, not of tag reading.
// Runs on the offscreen platform unless told otherwise.
//
// Usage: bench_lists [N]

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>

#include "frmfileselect.h"
#include "frmmain.h"
#include "messagebox.h"

namespace {

int entries = 32767;

QList<QByteArray> missingPaths(int count)
{
    QList<QByteArray> paths;
    paths.reserve(count);
    for (int i = 0; i < count; ++i)
        paths.append(QStringLiteral("/nonexistent/folder/%1 - some title.mp3").arg(i, 5, 10, QChar(u'0')).toUtf8());
    return paths;
}

void report(const char *what, const std::function<void()> &step, const QListWidget *list)
{
    QElapsedTimer t;
    t.start();
    step();
    const double ms = double(t.nsecsElapsed()) / 1e6;
    QCoreApplication::processEvents(); // layout and queued notifications, untimed
    std::printf("%-44s %9.1f ms   (%d entries left)\n", what, ms, list->count());
}

// Fills both lists the way Add does: the file selection window's bulk
// append into the hidden list, then the proposed names.
void fill(frmMain &w)
{
    frmFileSelect::appendFiles(w.lstMP3Files, missingPaths(entries));
    w.MakeRenameList(0);
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc > 1)
        entries = std::clamp(QByteArray(argv[1]).toInt(), 1, 32767);

    QTemporaryDir dir;
    frmMain::setAppFolderForTesting(dir.path());
    int messages = 0;
    ui::setMessageSinkForTesting([&](const QString &, QMessageBox::Icon) { ++messages; });
    frmMain w;
    if (!w.Form_Load())
        return 1;
    w.show();
    QCoreApplication::processEvents();

    std::printf("%d entries\n", entries);
    const QList<QByteArray> paths = missingPaths(entries);
    report("Add: bulk append of the paths", [&] { frmFileSelect::appendFiles(w.lstMP3Files, paths); },
           w.lstMP3Files);
    report("Add: MakeRenameList (missing files)", [&] { w.MakeRenameList(0); }, w.lstRename);
    {
        // The list's share of it: the names appended alone.
        const QStringList names = [&] {
            QStringList n;
            for (int i = 0; i < w.lstRename->count(); ++i)
                n.append(w.lstRename->item(i)->text());
            return n;
        }();
        w.lstRename->clear();
        report("  of which appending the names", [&] { w.lstRename->addItems(names); },
               w.lstRename);
    }

    report("Select All", [&] { w.cmdAllSel_Click(); }, w.lstMP3Files);
    report("Rename (all selected, all fail)", [&] { w.cmdRename_Click(); }, w.lstMP3Files);
    report("Remove all (after Select All)", [&] { w.cmdRemove_Click(); }, w.lstMP3Files);

    fill(w);
    {
        // Every second entry selected: 16,384 separate ranges.
        QItemSelection every2nd;
        QAbstractItemModel *m = w.lstMP3Files->model();
        for (int i = 0; i < entries; i += 2)
            every2nd.select(m->index(i, 0), m->index(i, 0));
        w.lstMP3Files->selectionModel()->select(every2nd, QItemSelectionModel::ClearAndSelect);
        QCoreApplication::processEvents();
    }
    report("Remove every second entry", [&] { w.cmdRemove_Click(); }, w.lstMP3Files);

    fill(w);
    report("Clear", [&] { w.cmdClear_Click(); }, w.lstMP3Files);
    std::printf("messages shown: %d\n", messages);
    return 0;
}
