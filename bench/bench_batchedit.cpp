// A batch edit as the dialog and `dorvasu-cli set` run it: the album set on
// many files of 3 MB, each with a 200 KB cover, through the batch of tag
// writes, on both routes of the writer: in place (the new album fits the
// tag's padding and the ID3v1 tag holds it already, so one page changes)
// and through a copy (the tag has no room and grows). Afterwards every file
// is checked: every frame but the album's byte for byte, the audio too.
//
//   bench_batchedit [FILES] [FOLDER]   (default 1000 files, in /dev/shm
//                                       when it has room, else /tmp)

#include "core/batch/batchedit.h"
#include "benchcommon.h"
#include "common/id3build.h"
#include "core/tags/vbmp3.h"

#include <QCoreApplication>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/stat.h>

using namespace id3build;

namespace {

QByteArray readAllFile(const char *path)
{
    QFile f(QFile::decodeName(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QString kNewAlbum = QStringLiteral("New Album");

struct Route {
    const char *name;
    QByteArray (*make)(const QByteArray &audio);
};

QByteArray cover() { return frame(3, "APIC", picture(200 * 1024)); }
QByteArray head() { return frame(3, "TIT2", latin1("Title")) + frame(3, "TPE1", latin1("Singer")); }

// The album after the cover, with room: the write changes one page.
QByteArray inPlace(const QByteArray &audio)
{
    return tag(3, head() + cover() + frame(3, "TALB", latin1("Old")), 1000) + audio
           + v1("Title", "Singer", kNewAlbum.toLatin1(), "2024", 17);
}

// The album before the cover and no room: the tag grows, the file is copied.
QByteArray growing(const QByteArray &audio)
{
    return tag(3, head() + frame(3, "TALB", latin1("Old")) + cover(), 0) + audio
           + v1("Title", "Singer", "Old", "2024", 17);
}

const Route kRoutes[] = {{"in place", inPlace}, {"copy, tag grows", growing}};

QByteArrayList withoutAlbum(QByteArrayList frames)
{
    frames.removeIf([](const QByteArray &f) { return f.startsWith("TALB"); });
    return frames;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 1000;
    vbmp3_init();
    const QByteArray sample = readAllFile(DORVASU_TEST_DATA_DIR "/stereo-noise-3s.mp3");
    if (sample.isEmpty())
        qFatal("cannot read the sample MP3");
    QByteArray audio;
    while (audio.size() + sample.size() <= 3 * 1000 * 1000)
        audio += sample;

    // 3 GB of files: tmpfs when it holds them with room to spare.
    const qint64 need = qint64(count) * (audio.size() + 300 * 1024) * 2;
    QString base = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("/dev/shm");
    if (argc <= 2 && QStorageInfo(base).bytesAvailable() < need)
        base = QStringLiteral("/tmp");
    std::printf("Album set on %d files of %.1f MB with a 200 KB cover, in %s\n", count, audio.size() / 1e6,
                qPrintable(base));
    for (const Route &route : kRoutes) {
        QTemporaryDir dir(base + QStringLiteral("/bench_batchedit-XXXXXX"));
        const QByteArray original = route.make(audio);
        const std::vector<QByteArray> paths = bench::makeFiles(QDir(dir.path()), count, original,
                                                               [](const QString &, int) { return true; });
        if (paths.empty())
            return 1;
        ::sync();
        struct stat st {};
        ::stat(paths[0].constData(), &st);
        const ino_t before = st.st_ino;

        const QList<QByteArray> files(paths.begin(), paths.end());
        tags::FieldChanges changes;
        changes.album = kNewAlbum;
        history::TagBatchResult result;
        const bench::Times t = bench::timed(
            [&] { result = history::applyTagBatch(batch::batchEdits(files, changes), QStringLiteral("bench")); });

        // Every file written, every frame but the album's as it was, the
        // audio and the ID3v1 tag but its album too.
        int written = 0, kept = 0;
        const QByteArrayList frames = withoutAlbum(id3build::frames(original));
        const QByteArray tail = original.mid(tagSize(original));
        for (qsizetype i = 0; i < result.files.size(); ++i) {
            written += result.files[i].result.outcome == tags::WriteResult::Written;
            const QByteArray now = readAllFile(paths[size_t(i)].constData());
            const QByteArray nowTail = now.mid(tagSize(now));
            kept += withoutAlbum(id3build::frames(now)) == frames && nowTail.size() == tail.size()
                    && nowTail.left(tail.size() - 128 + 63) == tail.left(tail.size() - 128 + 63)
                    && nowTail.right(35) == tail.right(35);
        }
        ::stat(paths[0].constData(), &st);
        std::printf("  %-16s %6.2f s wall, %6.2f s CPU, %5.2f ms a file; %d of %d written (%s), "
                    "%d with every other byte as it was\n",
                    route.name, t.wall / 1e9, t.cpu / 1e9, t.wall / 1e6 / count, written, count,
                    st.st_ino == before ? "in place" : "through a copy", kept);
    }
    return 0;
}
