// The file selection window opened on a folder of many subfolders (20,000
// unless told otherwise, a quarter of them with CP932 names): how long the
// window is kept from handling events while it opens and while the folder
// tree lists the folder, against the time the listing takes.
//
// Usage: bench_foldertree [N]

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

#include "core/collection/foldertreemodel.h"
#include "gui/fileselect/frmfileselect.h"
#include "core/settings/inifile_io.h"

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 20000;

    QTemporaryDir dir;
    const QByteArray big = QFile::encodeName(dir.filePath(QStringLiteral("big")));
    ::mkdir(big.constData(), 0755);
    for (int i = 0; i < count; ++i) {
        const QByteArray name = i % 4 ? QByteArray::number(i) : "\x89\xB9" + QByteArray::number(i);
        ::mkdir((big + '/' + name).constData(), 0755);
    }

    inifile_IO ini;
    ini.setFileName(dir.filePath(QStringLiteral("bench.ini")));
    QByteArray folder = big;

    QElapsedTimer total;
    total.start();
    frmFileSelect window(folder, ini, 0, 0, QIcon(), dir.path());
    window.show();
    const double opening = double(total.nsecsElapsed()) / 1e6;

    // The longest time between two turns of the event loop while the tree
    // fills: what a user would feel as a stall.
    QElapsedTimer tick;
    tick.start();
    qint64 longest = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longest = std::max(longest, tick.nsecsElapsed());
        tick.restart();
    });
    probe.start(1);
    collection::FolderTreeModel *tree = window.folderTree();
    const auto listed = [&] {
        const QModelIndex current = window.Dir1->currentIndex();
        return !tree->isListing() && tree->rowCount(current) >= count;
    };
    while (!listed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double filled = double(total.nsecsElapsed()) / 1e6;
    probe.stop();

    std::printf("%d subfolders\n", count);
    std::printf("window built and shown:            %8.1f ms\n", opening);
    std::printf("tree filled, from the start:       %8.1f ms\n", filled);
    std::printf("longest stall while it filled:     %8.1f ms\n", double(longest) / 1e6);
    // QTemporaryDir cannot remove names that are not UTF-8.
    std::filesystem::remove_all(big.constData());
    return 0;
}
