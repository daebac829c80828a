// Tag reading speed: vbmp3_getFileTagInfo against TagLib alone on the same
// files. Usage: bench_tagread [file count] (default 10000).
//
// The files are made in a temporary folder from a committed sample: half
// with ASCII tags, half Japanese (UTF-16 frames, or ISO-8859-1 frames holding
// CP932 as Japanese taggers write them), one in five with an ID3v1 tag too,
// one in ten with a 100 KB cover picture. Both loops run once untimed first
// (warm cache), then three rounds, taking turns on slices of the files.
// TagLib alone reads ISO-8859-1 frames as TagLib does, byte for character;
// the binding's time also holds its own work: its checks before TagLib sees
// a file, the reading of text without a declared encoding (one decision per
// tag between UTF-8, CP932 and Windows-1252), and the conversion into the
// record.

#include "vbmp3.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TagLib::String utf8(const char *text)
{
    return TagLib::String(text, TagLib::String::UTF8);
}

// A text frame declaring ISO-8859-1 that holds CP932 bytes.
void setLegacyFrame(TagLib::ID3v2::Tag &tag, const char *id, const QByteArray &cp932)
{
    tag.removeFrames(id);
    auto *frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::Latin1);
    frame->setText(TagLib::String(TagLib::ByteVector(cp932.constData(), unsigned(cp932.size())),
                                  TagLib::String::Latin1));
    tag.addFrame(frame);
}

bool makeFile(const QString &path, const QByteArray &audio, int i)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(audio) != audio.size())
        return false;
    out.close();

    TagLib::MPEG::File f(QFile::encodeName(path).constData(), false);
    TagLib::ID3v2::Tag *tag = f.ID3v2Tag(true);
    const QByteArray n = QByteArray::number(i);
    if (i % 2 == 0) {
        tag->setTitle(("Song number " + n).constData());
        tag->setArtist("The Benchmark Band");
        tag->setAlbum("Greatest Hits");
        tag->setComment("ripped for testing");
        tag->setGenre("Rock");
    } else if (i % 4 == 1) {
        tag->setTitle(utf8(("夜明けのうた " + n).constData()));
        tag->setArtist(utf8("髙橋真梨子"));
        tag->setAlbum(utf8("～ベスト①～"));
        tag->setComment(utf8("コメント"));
        tag->setGenre("J-Pop");
    } else {
        setLegacyFrame(*tag, "TIT2", "\x96\xE9\x96\xBE\x82\xAF " + n);   // 夜明け, CP932
        setLegacyFrame(*tag, "TPE1", "\xFB\xFC\x8B\xB4");                 // 髙橋
        setLegacyFrame(*tag, "TALB", "\x81\x60\x87\x40\x81\x60");
        tag->setGenre("Pop");
    }
    tag->setYear(1990 + unsigned(i % 30));
    if (i % 10 == 0) {
        QByteArray picture(100 * 1024, '\0');
        for (char &c : picture)
            c = char(QRandomGenerator::global()->generate());
        auto *apic = new TagLib::ID3v2::AttachedPictureFrame;
        apic->setMimeType("image/jpeg");
        apic->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        apic->setPicture(TagLib::ByteVector(picture.constData(), unsigned(picture.size())));
        tag->addFrame(apic);
    }
    int tags = TagLib::MPEG::File::ID3v2;
    if (i % 5 == 0) {
        TagLib::ID3v1::Tag *v1 = f.ID3v1Tag(true);
        v1->setTitle(("Song number " + n).constData());
        v1->setArtist("The Benchmark Band");
        tags |= TagLib::MPEG::File::ID3v1;
    }
    return f.save(tags, TagLib::File::StripOthers, TagLib::ID3v2::v3);
}

// Whatever is read goes into this, so that no loop can be optimised away.
unsigned long long sink = 0;

int readWithBinding(const std::vector<QByteArray> &paths)
{
    int ok = 0;
    mp3lib::TagInfoWire w;
    for (const QByteArray &p : paths) {
        if (vbmp3_getFileTagInfo(p.constData(), w)) {
            ++ok;
            sink += static_cast<unsigned char>(w.TrackName[0]) + w.GenreNo;
        }
    }
    return ok;
}

int readWithTagLib(const std::vector<QByteArray> &paths)
{
    int ok = 0;
    for (const QByteArray &p : paths) {
        TagLib::MPEG::File f(p.constData(), false);
        if (!f.isValid())
            continue;
        const TagLib::Tag *tag = f.tag();
        sink += tag->title().size() + tag->artist().size() + tag->album().size() + tag->year()
                + tag->comment().size() + tag->genre().size();
        ++ok;
    }
    return ok;
}

struct Times {
    qint64 wall = -1;   // ns
    qint64 cpu = -1;    // ns
};

qint64 cpuNow()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

template <typename F>
Times timed(F run)
{
    QElapsedTimer timer;
    const qint64 cpu = cpuNow();
    timer.start();
    run();
    return {timer.nsecsElapsed(), cpuNow() - cpu};
}

double filesPerSecond(int count, qint64 ns)
{
    return ns > 0 ? count * 1e9 / double(ns) : 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;

    const QByteArray audio = readFile(QDir(QStringLiteral(DORVASU_TEST_DATA_DIR))
                                          .filePath(QStringLiteral("stereo-mpeg1.mp3")));
    if (audio.isEmpty()) {
        std::fprintf(stderr, "cannot read the sample MP3\n");
        return 1;
    }
    if (!vbmp3_init()) {
        std::fprintf(stderr, "vbmp3_init failed\n");
        return 1;
    }

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    std::printf("making %d files in %s ...\n", count, qPrintable(dir.path()));
    std::vector<QByteArray> paths;
    paths.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        const QString p = dir.filePath(QStringLiteral("%1.mp3").arg(i, 5, 10, QLatin1Char('0')));
        if (!makeFile(p, audio, i)) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(p));
            return 1;
        }
        paths.push_back(QFile::encodeName(p));
    }

    // Warm the page cache and both code paths.
    const int boundOk = readWithBinding(paths);
    const int taglibOk = readWithTagLib(paths);
    std::printf("read: binding %d/%d, TagLib %d/%d\n", boundOk, count, taglibOk, count);

    // Wall time, and the process's CPU time (user and system). The two loops
    // take turns on slices of 100 files, so that other work on the machine
    // weighs on both alike; each round's sums are compared.
    constexpr size_t kSlice = 100;
    Times bestBinding, bestTagLib;
    double bestRatio = 0;
    for (int round = 0; round < 3; ++round) {
        Times b{0, 0}, t{0, 0};
        for (size_t from = 0; from < paths.size(); from += kSlice) {
            const std::vector<QByteArray> slice(paths.begin() + from,
                                                paths.begin() + std::min(paths.size(), from + kSlice));
            const Times sb = timed([&] { readWithBinding(slice); });
            const Times st = timed([&] { readWithTagLib(slice); });
            b.wall += sb.wall;
            b.cpu += sb.cpu;
            t.wall += st.wall;
            t.cpu += st.cpu;
        }
        const double ratio = double(b.wall) / double(t.wall);
        std::printf("round %d: binding %.0f files/s (%.0f per CPU second), TagLib alone %.0f files/s "
                    "(%.0f per CPU second): %.2fx the time\n",
                    round + 1, filesPerSecond(count, b.wall), filesPerSecond(count, b.cpu),
                    filesPerSecond(count, t.wall), filesPerSecond(count, t.cpu), ratio);
        if (round == 0 || ratio < bestRatio) {
            bestRatio = ratio;
            bestBinding = b;
            bestTagLib = t;
        }
    }
    std::printf("best round: binding %.0f files/s, TagLib alone %.0f files/s; binding takes %.2fx "
                "TagLib's wall time, %.2fx its CPU time\n",
                filesPerSecond(count, bestBinding.wall), filesPerSecond(count, bestTagLib.wall),
                double(bestBinding.wall) / double(bestTagLib.wall),
                double(bestBinding.cpu) / double(bestTagLib.cpu));
    return sink == 42 ? 2 : 0;   // never; keeps `sink` alive
}
