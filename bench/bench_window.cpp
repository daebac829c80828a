// The main window on a whole collection of real files (200,000 unless told
// otherwise, in folders of 500): the tree added from the folder menu
// ("サブフォルダーも含めて追加") and named, cold and warm, Select All, Rename,
// Undo, scrolling from top to bottom, and 中止 pressed during a Rename, an
// Undo and the reading of names. For each step it prints the time and the
// longest stall of the event loop, measured by a 10 ms timer that notes the
// largest gap between its runs; then the peak memory, and `dorvasu-cli
// names -r` on the same tree, cold and warm, against the window.
//
// The tree is made once (small MP3 files: an ID3v2.3 tag with singer and
// title, then four MPEG audio frames) under $DORVASU_BENCH_TREE, else
// /tmp/dorvasu-bench-tree-N, and used again by later runs. Cold means the
// page cache dropped (/proc/sys/vm/drop_caches as root, else every file's
// pages evicted). Runs on the offscreen platform unless told otherwise.
// With DORVASU_BENCH_TRACE set, each stall over 50 ms is printed with the
// events the window's thread worked on during it for more than 1 ms each
// (less the events handled inside them and the waits of nested event
// loops), with their receivers and types.
//
// Usage: bench_window [N]

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "benchcommon.h"
#include "core/collection/entrylist.h"
#include "core/collection/mp3tree.h"
#include "gui/app/frmmain.h"
#include "gui/fileselect/frmfileselect.h"
#include "gui/ui/messagebox.h"
#include "gui/ui/progressrun.h"

namespace {

constexpr int kPerFolder = 500;

// An ID3v2.3 text frame: ISO-8859-1 text.
QByteArray textFrame(const char *id, const QByteArray &text)
{
    QByteArray frame(id);
    const quint32 size = quint32(text.size() + 1);
    frame += char(size >> 24);
    frame += char(size >> 16);
    frame += char(size >> 8);
    frame += char(size);
    frame += QByteArray(2, '\0');
    frame += '\0';
    return frame + text;
}

QByteArray fileBytes(int i)
{
    const QByteArray frames = textFrame("TPE1", "Singer " + QByteArray::number(i / kPerFolder))
                              + textFrame("TIT2", "Title " + QByteArray::number(i));
    QByteArray tag("ID3\x03\x00\x00", 6);
    const int size = int(frames.size());
    for (int shift : {21, 14, 7, 0})
        tag += char((size >> shift) & 0x7f);
    // MPEG-1 layer III, 32 kbit/s, 32 kHz, mono: 144-byte frames.
    QByteArray frame(144, '\0');
    frame[0] = char(0xff);
    frame[1] = char(0xfb);
    frame[2] = char(0x18);
    frame[3] = char(0xc4);
    return tag + frames + frame.repeated(4);
}

// The tree, made unless a complete one is there.
QByteArray makeTree(int count)
{
    const QString root = qEnvironmentVariableIsSet("DORVASU_BENCH_TREE")
                             ? qEnvironmentVariable("DORVASU_BENCH_TREE")
                             : QStringLiteral("/tmp/dorvasu-bench-tree-%1").arg(count);
    const QString done = root + QStringLiteral("/.complete");
    if (QFile::exists(done))
        return QFile::encodeName(root);
    std::printf("making %d files in %s ...\n", count, qPrintable(root));
    QDir().mkpath(root);
    for (int i = 0; i < count; ++i) {
        const QString folder = root + QStringLiteral("/%1").arg(i / kPerFolder, 4, 10, QLatin1Char('0'));
        if (i % kPerFolder == 0)
            QDir().mkpath(folder);
        QFile out(folder + QStringLiteral("/%1.mp3").arg(i, 6, 10, QLatin1Char('0')));
        if (!out.open(QIODevice::WriteOnly) || out.write(fileBytes(i)) < 0)
            qFatal("cannot write %s", qPrintable(out.fileName()));
    }
    QFile(done).open(QIODevice::WriteOnly);
    return QFile::encodeName(root);
}

void dropCaches(const QByteArray &root)
{
    ::sync();
    QFile drop(QStringLiteral("/proc/sys/vm/drop_caches"));
    if (drop.open(QIODevice::WriteOnly) && drop.write("3\n") == 2)
        return;
    const QList<QByteArray> files = collection::mp3FilesUnder({root});
    bench::evict(std::vector<QByteArray>(files.begin(), files.end()));
}

// The longest gap between runs of a 10 ms timer since the last reset.
// The events worked on since the probe's last run: what, and how long.
std::vector<std::pair<QByteArray, qint64>> traced;

class Probe {
public:
    Probe()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
        timer_.start(10);
        reset();
    }
    void reset()
    {
        longest_ = 0;
        last_.start();
    }
    double longestMs()
    {
        tick();
        return double(longest_) / 1e6;
    }

private:
    void tick()
    {
        const qint64 gap = last_.nsecsElapsed();
        longest_ = std::max(longest_, gap);
        last_.start();
        if (gap > 50'000'000 && !traced.empty()) {
            std::printf("    [stall %.0f ms]", double(gap) / 1e6);
            for (const auto &[what, ns] : traced)
                std::printf(" %s %.0f;", what.constData(), double(ns) / 1e6);
            std::printf("\n");
        }
        traced.clear();
    }
    QTimer timer_;
    QElapsedTimer last_;
    qint64 longest_ = 0;
};

Probe *probe = nullptr;

// The application, timing the work of each event it delivers: the time in
// notify() less the waits of event loops run inside it and less the work of
// the events delivered inside it.
class TracingApp : public QApplication {
public:
    TracingApp(int &argc, char **argv) : QApplication(argc, argv)
    {
        QAbstractEventDispatcher *d = QAbstractEventDispatcher::instance();
        QObject::connect(d, &QAbstractEventDispatcher::aboutToBlock, [this] { blocked_.start(); });
        QObject::connect(d, &QAbstractEventDispatcher::awake, [this] {
            if (blocked_.isValid())
                idle_ += blocked_.nsecsElapsed();
            blocked_.invalidate();
        });
    }
    bool notify(QObject *receiver, QEvent *event) override
    {
        const qint64 idleBefore = idle_;
        const qint64 outerChildren = children_;
        children_ = 0;
        QElapsedTimer t;
        t.start();
        const QEvent::Type type = event->type(); // the event may be gone afterwards
        const QByteArray what = QByteArray(receiver->metaObject()->className()) + ':'
                                + receiver->objectName().toUtf8();
        const bool result = QApplication::notify(receiver, event);
        const qint64 busy = t.nsecsElapsed() - (idle_ - idleBefore);
        const qint64 own = busy - children_;
        children_ = outerChildren + busy;
        if (own > 1'000'000)
            traced.emplace_back(what + '/' + QByteArray::number(int(type)), own);
        return result;
    }

private:
    QElapsedTimer blocked_;
    qint64 idle_ = 0;
    qint64 children_ = 0;
};

QString vmHwm()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return QString::fromLatin1(line.mid(6).simplified());
    return {};
}

// CPU time of the calling thread (the window's).
double threadCpuMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Runs `step`, lets the window settle for 100 ms (repaints, queued work),
// and prints its time and the longest stall.
double report(const char *what, const std::function<void()> &step)
{
    probe->reset();
    QElapsedTimer t;
    t.start();
    const double cpuBefore = threadCpuMs();
    step();
    const double ms = double(t.nsecsElapsed()) / 1e6;
    const double cpu = threadCpuMs() - cpuBefore;
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 100)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::printf("%-40s %9.0f ms   window thread CPU %6.0f ms   longest stall %6.1f ms   peak %s\n", what, ms, cpu,
                probe->longestMs(), qPrintable(vmHwm()));
    std::fflush(stdout);
    return ms;
}

// Add, then the folder's menu entry in the file selection window, then 閉じる.
void addTree(frmMain &w, const QByteArray &root)
{
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *fs = qobject_cast<frmFileSelect *>(QApplication::activeModalWidget())) {
            poll.stop();
            fs->addFolderTree(root);
            fs->cmdCancel->click();
        }
    });
    poll.start(10);
    w.cmdOpen_Click();
}

double cliNames(const QByteArray &root)
{
    QElapsedTimer t;
    t.start();
    QProcess cli;
    cli.setStandardOutputFile(QProcess::nullDevice());
    cli.start(QStringLiteral(DORVASU_CLI), {QStringLiteral("names"), QStringLiteral("-r"), QFile::decodeName(root)});
    cli.waitForFinished(-1);
    return double(t.nsecsElapsed()) / 1e6;
}

// Presses 中止 once `after` ms of `step`'s work have gone by; prints how
// long the work took to stop.
void cancelDuring(const char *what, int after, const std::function<void()> &step)
{
    QElapsedTimer since;
    since.start();
    QElapsedTimer pressed;
    ui::setProgressHookForTesting([&] {
        if (!pressed.isValid() && since.elapsed() >= after) {
            ui::cancelProgressForTesting();
            pressed.start();
        }
    });
    probe->reset();
    step();
    const double stopped = pressed.isValid() ? double(pressed.nsecsElapsed()) / 1e6 : -1;
    ui::setProgressHookForTesting({});
    std::printf("%-40s %9.0f ms from 中止 to stopped; longest stall %.1f ms\n", what, stopped, probe->longestMs());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QApplication> app = qEnvironmentVariableIsSet("DORVASU_BENCH_TRACE")
                                             ? std::make_unique<TracingApp>(argc, argv)
                                             : std::make_unique<QApplication>(argc, argv);
    const int count = argc > 1 ? std::max(QByteArray(argv[1]).toInt(), kPerFolder) : 200000;
    const QByteArray root = makeTree(count);

    QTemporaryDir dir;
    frmMain::setAppFolderForTesting(dir.path());
    frmMain::setHistoryFolderForTesting(dir.filePath(QStringLiteral("history")));
    QStringList messages;
    ui::setMessageSinkForTesting([&](const QString &text, QMessageBox::Icon) { messages << text.left(80); });
    frmMain w;
    if (!w.Form_Load())
        return 1;
    w.show();
    Probe stalls;
    probe = &stalls;
    QCoreApplication::processEvents();
    collection::EntryList *list = w.entries();

    std::printf("%d files in %s\n", count, root.constData());
    dropCaches(root);
    const double cliCold = cliNames(root);
    const double cliWarm = cliNames(root);

    dropCaches(root);
    const double cold = report("add tree and names, cold", [&] { addTree(w, root); });
    const int named = int(list->count());
    w.cmdClear_Click();
    const double warm = report("add tree and names, warm", [&] { addTree(w, root); });
    report("Select All", [&] { w.cmdAllSel_Click(); });
    report("Rename (all selected)", [&] { w.cmdRename_Click(); });
    report("Undo", [&] { w.Undo(); });
    report("scroll top to bottom (200 steps)", [&] {
        QScrollBar *bar = w.lstMP3Files->verticalScrollBar();
        for (int i = 0; i <= 200; ++i) {
            bar->setValue(bar->maximum() * i / 200);
            QCoreApplication::processEvents();
        }
    });
    cancelDuring("中止 at the start of a Rename", 300, [&] { w.cmdRename_Click(); });
    cancelDuring("中止 during a Rename", 5000, [&] { w.cmdRename_Click(); });
    cancelDuring("中止 during Undo", 300, [&] { w.Undo(); });
    report("Undo of the rest", [&] { w.Undo(); });
    w.cmdClear_Click();
    cancelDuring("中止 during names", 1000, [&] { addTree(w, root); });
    std::printf("entries kept after 中止 during names: %d\n", list->count());

    std::printf("\nentries named: %d (of %d files)\n", named, count);
    std::printf("dorvasu-cli names -r: cold %.0f ms, warm %.0f ms\n", cliCold, cliWarm);
    std::printf("window / command line: cold %.2f, warm %.2f\n", cold / cliCold, warm / cliWarm);
    std::printf("peak memory (VmHWM): %s\n", qPrintable(vmHwm()));
    std::printf("messages shown: %lld%s%s\n", qlonglong(messages.size()), messages.isEmpty() ? "" : "; last: ",
                messages.isEmpty() ? "" : qPrintable(messages.last().simplified()));
    return 0;
}
