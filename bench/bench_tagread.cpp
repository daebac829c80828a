// Tag reading speed: vbmp3_getFileTagInfo against TagLib alone on the same
// files, one thread each. Usage: bench_tagread [file count] [--no-cold] [--no-plain]
// (default 10000; --no-plain: the binding reads every tag through TagLib,
// without its own reader of plain tags).
//
// The files are made in a temporary folder from a committed sample: half
// with ASCII tags, half Japanese (UTF-16 frames, or ISO-8859-1 frames holding
// CP932 as Japanese taggers write them), one in five with an ID3v1 tag too,
// one in five with a 100 KB cover picture; one in seven with an APE tag,
// one in eleven ID3v2.4, one in nineteen with ID3v1 only; and, one in fifty
// to seventy each, rare shapes: junk between tag and audio, a chained tag
// with an extended header, no tag at all, a tag declaring more than the file.
//
// First every file's record (or failure) is checked to be the one the
// binding gives when TagLib reads through its own FileStream. Then both
// loops run once untimed (warm cache), then three rounds, taking turns on
// slices of the files; then once each with a cold page cache (every file's
// pages evicted with posix_fadvise). TagLib alone reads ISO-8859-1 frames
// as TagLib does, byte for character; the binding's time also holds its own
// work: its checks before TagLib sees a file, the reads, the reading of
// text without a declared encoding (one decision per tag between UTF-8,
// CP932 and Windows-1252), and the conversion into the record.

#include "benchcommon.h"
#include "core/tags/vbmp3.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <taglib/apetag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include <algorithm>
#include <cstdio>
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

// A syncsafe 28-bit size.
QByteArray syncsafe(quint32 n)
{
    return QByteArray(1, char(n >> 21 & 0x7F)) + char(n >> 14 & 0x7F) + char(n >> 7 & 0x7F) + char(n & 0x7F);
}

// Shapes TagLib does not write, made on the saved file: junk between tag and
// audio, a tag with an extended header chained in front of the saved one, a
// tag declaring more bytes than the file has.
bool reshape(const QString &path, int i)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = f.readAll();
    const bool tagged = bytes.startsWith("ID3");
    const int tagEnd = tagged ? 10 + ((bytes[6] & 0x7F) << 21 | (bytes[7] & 0x7F) << 14 | (bytes[8] & 0x7F) << 7
                                      | (bytes[9] & 0x7F))
                              : 0;
    if (i % 53 == 5) {
        bytes.insert(tagEnd, QByteArray(3000, '\x55'));
    } else if (i % 59 == 6 && tagged) {
        // Of the saved tag's version: ID3v2.4 sizes are syncsafe.
        const bool v4 = bytes[3] == 4;
        const QByteArray be6("\0\0\0\x06", 4), be9("\0\0\0\x09", 4);
        const QByteArray ext = v4 ? syncsafe(6) + QByteArray("\x01\0", 2) : be6 + QByteArray(6, '\0');
        const QByteArray title = "TIT2" + (v4 ? syncsafe(9) : be9) + QByteArray(2, '\0') + '\0' + "Chained!";
        const QByteArray body = ext + title + QByteArray(40, '\0');
        bytes.prepend("ID3" + QByteArray(1, bytes[3]) + QByteArray("\0\x40", 2) + syncsafe(quint32(body.size())) + body);
    } else if (i % 67 == 9 && tagged) {
        bytes.replace(6, 4, syncsafe(quint32(bytes.size() * 2)));
    } else {
        return true;
    }
    return f.seek(0) && f.write(bytes) == bytes.size() && f.resize(bytes.size());
}

// Tags the file at `path`, which holds the sample's audio, as file `i`.
bool tagFile(const QString &path, int i)
{
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
    if (i % 5 == 2) {
        QByteArray picture(100 * 1024, '\0');
        for (char &c : picture)
            c = char(QRandomGenerator::global()->generate());
        auto *apic = new TagLib::ID3v2::AttachedPictureFrame;
        apic->setMimeType("image/jpeg");
        apic->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        apic->setPicture(TagLib::ByteVector(picture.constData(), unsigned(picture.size())));
        tag->addFrame(apic);
    }
    int tags = i % 19 == 7 ? 0 : int(TagLib::MPEG::File::ID3v2);
    if (i % 5 == 0 || i % 19 == 7) {
        TagLib::ID3v1::Tag *v1 = f.ID3v1Tag(true);
        v1->setTitle(("Song number " + n).constData());
        v1->setArtist("The Benchmark Band");
        tags |= TagLib::MPEG::File::ID3v1;
    }
    if (i % 7 == 3) {
        TagLib::APE::Tag *ape = f.APETag(true);
        ape->setTitle(("APE title " + n).constData());
        ape->setGenre("Jazz");
        tags |= TagLib::MPEG::File::APE;
    }
    if (i % 61 == 8)
        return true;   // no tag at all
    if (!f.save(tags, TagLib::File::StripOthers, i % 11 == 4 ? TagLib::ID3v2::v4 : TagLib::ID3v2::v3))
        return false;
    return reshape(path, i);
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

using bench::Times;
using bench::evict;
using bench::timed;

double filesPerSecond(int count, qint64 ns)
{
    return bench::perSecond(count, ns);
}

// Every file's record, or an empty array where the read fails.
QList<QByteArray> records(const std::vector<QByteArray> &paths)
{
    QList<QByteArray> out;
    for (const QByteArray &p : paths) {
        mp3lib::TagInfoWire w{};
        out << (vbmp3_getFileTagInfo(p.constData(), w) ? QByteArray(reinterpret_cast<const char *>(&w), sizeof w)
                                                       : QByteArray());
    }
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;
    QByteArrayList options;
    for (int i = 2; i < argc; ++i)
        options << argv[i];
    if (options.contains("--no-plain"))
        mp3lib::setPlainReaderForTesting(false);

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
    const std::vector<QByteArray> paths = bench::makeFiles(QDir(dir.path()), count, audio, tagFile);
    if (paths.empty())
        return 1;

    // The same records as with TagLib reading on its own.
    mp3lib::setTagLibFileStreamForTesting(true);
    const QList<QByteArray> before = records(paths);
    mp3lib::setTagLibFileStreamForTesting(false);
    const QList<QByteArray> now = records(paths);
    int same = 0;
    for (int i = 0; i < count; ++i)
        same += now[i] == before[i];
    std::printf("identical records: %d of %d (%lld read, %lld failed alike)\n", same, count,
                qlonglong(count - before.count(QByteArray())), qlonglong(before.count(QByteArray())));
    if (same != count)
        return 1;

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
        std::printf("round %d: binding %.0f files/s (CPU %.1f us/file), TagLib alone %.0f files/s "
                    "(CPU %.1f us/file): %.2fx the time\n",
                    round + 1, filesPerSecond(count, b.wall), b.cpu / 1e3 / count,
                    filesPerSecond(count, t.wall), t.cpu / 1e3 / count, ratio);
        if (round == 0 || ratio < bestRatio) {
            bestRatio = ratio;
            bestBinding = b;
            bestTagLib = t;
        }
    }
    std::printf("best round: binding %.0f files/s, TagLib alone %.0f files/s; binding takes %.2fx "
                "TagLib's wall time (target <= 0.70), %.2fx its CPU time\n",
                filesPerSecond(count, bestBinding.wall), filesPerSecond(count, bestTagLib.wall),
                double(bestBinding.wall) / double(bestTagLib.wall),
                double(bestBinding.cpu) / double(bestTagLib.cpu));

    if (!options.contains("--no-cold")) {
        evict(paths);
        const Times t = timed([&] { readWithTagLib(paths); });
        evict(paths);
        const Times b = timed([&] { readWithBinding(paths); });
        std::printf("cold cache, one thread: binding %.0f files/s (CPU %.1f us/file), TagLib alone %.0f files/s "
                    "(CPU %.1f us/file): %.2fx TagLib's rate\n",
                    filesPerSecond(count, b.wall), b.cpu / 1e3 / count, filesPerSecond(count, t.wall),
                    t.cpu / 1e3 / count, double(t.wall) / double(b.wall));
    }
    return sink == 42 ? 2 : 0;   // never; keeps `sink` alive
}
