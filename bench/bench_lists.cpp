// The main window's list commands on a whole collection (200,000 entries
// unless told otherwise): Add (the append and the proposed names), Select
// All, Remove of every second entry, Remove of all, Clear and Rename, then
// the peak memory of the process. Paths name no file, so the figures are
// those of the lists themselves, not of tag reading. Runs on the offscreen
// platform unless told otherwise.
//
// Usage: bench_lists [N]

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QListView>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <sys/resource.h>

#include "core/collection/entrylist.h"
#include "gui/app/frmmain.h"
#include "gui/ui/messagebox.h"

namespace {

int entries = 200000;

QList<QByteArray> missingPaths(int count)
{
    QList<QByteArray> paths;
    paths.reserve(count);
    for (int i = 0; i < count; ++i)
        paths.append(QStringLiteral("/nonexistent/folder/%1 - some title.mp3").arg(i, 5, 10, QChar(u'0')).toUtf8());
    return paths;
}

void report(const char *what, const std::function<void()> &step, const collection::EntryList *list)
{
    QElapsedTimer t;
    t.start();
    step();
    const double ms = double(t.nsecsElapsed()) / 1e6;
    QCoreApplication::processEvents(); // layout and queued notifications, untimed
    std::printf("%-44s %9.1f ms   (%d entries left)\n", what, ms, list->count());
}

// Fills both lists the way Add does.
void fill(frmMain &w)
{
    w.appendFiles(missingPaths(entries));
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc > 1)
        entries = std::max(QByteArray(argv[1]).toInt(), 1);

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
    collection::EntryList *list = w.entries();
    report("Add: append of the paths", [&] { list->append(paths); }, list);
    report("Add: MakeRenameList (missing files)", [&] { w.MakeRenameList(0); }, list);
    {
        // The lists' share of it: the names put in alone.
        QStringList names;
        for (int i = 0; i < list->count(); ++i)
            names.append(list->name(i));
        report("  of which putting the names in", [&] { list->setNames(0, names); }, list);
    }

    report("Select All", [&] { w.cmdAllSel_Click(); }, list);
    report("Rename (all selected, all fail)", [&] { w.cmdRename_Click(); }, list);
    report("Remove all (after Select All)", [&] { w.cmdRemove_Click(); }, list);

    fill(w);
    {
        // Every second entry selected: N / 2 separate ranges.
        QItemSelection every2nd;
        QAbstractItemModel *m = w.lstMP3Files->model();
        for (int i = 0; i < entries; i += 2)
            every2nd.select(m->index(i, 0), m->index(i, 0));
        w.lstMP3Files->selectionModel()->select(every2nd, QItemSelectionModel::ClearAndSelect);
        QCoreApplication::processEvents();
    }
    report("Remove every second entry", [&] { w.cmdRemove_Click(); }, list);

    fill(w);
    report("Clear", [&] { w.cmdClear_Click(); }, list);
    std::printf("messages shown: %d\n", messages);
    rusage use{};
    ::getrusage(RUSAGE_SELF, &use);
    std::printf("peak memory: %.1f MB\n", double(use.ru_maxrss) / 1024.0);
    return 0;
}
