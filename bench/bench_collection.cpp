// Adding a whole collection: a tree of N files (default 30,000: 300 album
// folders of 100 tagged files under 30 artist folders) dropped on the main
// window, with a warm cache. Prints the time from the drop to the last
// proposed name, and the longest time the window went without repainting
// while the window is asked to repaint every 10 ms.
//
//   QT_QPA_PLATFORM=offscreen bench_collection [N]

#include "core/collection/entrylist.h"
#include "gui/app/frmmain.h"
#include "gui/ui/messagebox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Counts the window's paints and the longest gap between two of them.
class PaintWatch : public QObject {
public:
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            const qint64 now = clock.elapsed();
            longest = std::max(longest, now - last);
            last = now;
            ++paints;
        }
        return false;
    }
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int count = argc > 1 ? std::max(100, atoi(argv[1])) : 30000;
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path());

    // One tagged file, hard-linked under every name: the tags read are real,
    // the disk holds one copy.
    QFile sample(QStringLiteral(DORVASU_TEST_DATA_DIR "/mono-mpeg1.mp3"));
    if (!sample.open(QIODevice::ReadOnly))
        qFatal("cannot read the sample MP3");
    const QByteArray original = root + "/original.mp3";
    {
        QFile out(QFile::decodeName(original));
        const QByteArray tag = QByteArray("ID3\x03\0\0\0\0\0\x1e", 10) + "TIT2" + QByteArray("\0\0\0\x05\0\0\0Song", 11)
                               + "TPE1" + QByteArray("\0\0\0\x05\0\0\0Band", 11);
        if (!out.open(QIODevice::WriteOnly) || out.write(tag + sample.readAll()) < 0)
            qFatal("cannot write the sample");
    }
    const QByteArray tree = root + "/Music";
    ::mkdir(tree.constData(), 0755);
    for (int i = 0; i < count; ++i) {
        const QByteArray artist = tree + "/Artist " + QByteArray::number(i / 1000);
        const QByteArray album = artist + "/Album " + QByteArray::number(i / 100);
        if (i % 1000 == 0)
            ::mkdir(artist.constData(), 0755);
        if (i % 100 == 0)
            ::mkdir(album.constData(), 0755);
        const QByteArray file = album + "/" + QByteArray::number(i % 100).rightJustified(2, '0') + " Track.mp3";
        if (::link(original.constData(), file.constData()) != 0)
            qFatal("cannot link %s", file.constData());
    }
    std::printf("made %d files in %d folders\n", count, count / 100 + count / 1000);

    // Messages are printed, not shown: nothing waits for a click.
    ui::setMessageSinkForTesting([](const QString &text, QMessageBox::Icon) {
        std::printf("message: %s\n", qPrintable(text));
    });
    frmMain window;
    if (!window.Form_Load())
        return 1;
    window.show();
    PaintWatch watch;
    window.installEventFilter(&watch);
    QTimer repaint;
    QObject::connect(&repaint, &QTimer::timeout, &window, [&] { window.update(); });

    for (int round = 0; round < 2; ++round) {   // the first warms the cache
        window.cmdClear_Click();
        QCoreApplication::processEvents();
        watch.clock.start();
        watch.last = 0;
        watch.longest = 0;
        watch.paints = 0;
        repaint.start(10);
        QElapsedTimer took;
        took.start();
        window.addDropped({tree});
        const qint64 ms = took.elapsed();
        repaint.stop();
        const int names = window.entries()->count();
        std::printf("%s: %d entries, %d names, last name after %lld ms; longest without repainting %lld ms "
                    "(%d paints)\n",
                    round == 0 ? "cold-ish" : "warm", window.entries()->count(), names, ms, watch.longest,
                    watch.paints);
    }
    window.close();
    return 0;
}
