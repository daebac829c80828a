// Building the rename list against TagLib alone, on N files (default
// 10,000) whose tags give names, one in five with a 100 KB cover.
//
// Warm page cache, the same files, rounds in turn: a plain TagLib loop on
// one thread (open by path, read the tag), the program's path on one thread
// (proposedNameFor: existence test, guard, binding, name rule),
// makeRenameNames, and makeRenameNames with one thread per core only. Cold page cache (every file's pages evicted with
// posix_fadvise before each run): TagLib alone on one thread, and
// makeRenameNames with 1 to 64 reads in flight. Wall time and the process's
// CPU time per file are printed side by side: CPU per file that grows while
// the work stays the same means other work on the machine.
//
// First, the names and records are checked to equal those the binding gives
// when TagLib reads through its own FileStream, as it did before it was
// handed the blocks the guard had read.
//
// Usage: bench_renamelist [N] [--no-cold] [--no-plain] (--no-plain: the
// binding reads every tag through TagLib, without its own reader of plain
// tags).

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include "benchcommon.h"
#include "core/tags/existence.h"
#include "core/rename/newname.h"
#include "core/rename/renamelist.h"
#include "core/tags/taginfo.h"
#include "core/tags/vbmp3.h"

namespace {

using bench::Times;
using bench::perSecond;
using bench::evict;
using bench::timed;

unsigned long long sink = 0;

// TagLib by itself: what a plain loop over the files costs.
void taglibAlone(const std::vector<QByteArray> &paths)
{
    for (const QByteArray &p : paths) {
        TagLib::MPEG::File f(p.constData(), false);
        if (f.isValid())
            sink += f.tag()->artist().size() + f.tag()->title().size();
    }
}

QStringList oneThread(const QList<QByteArray> &paths)
{
    QStringList names;
    names.reserve(paths.size());
    for (const QByteArray &path : paths)
        names << renaming::proposedNameFor(path);
    return names;
}

// The names and records as the binding gave them before: the existence
// test, then a read with TagLib on its own FileStream.
QStringList namesAsBefore(const QList<QByteArray> &paths, QList<QByteArray> &records)
{
    mp3lib::setTagLibFileStreamForTesting(true);
    QStringList names;
    for (const QByteArray &path : paths) {
        tags::TagInfo tag;
        mp3lib::TagInfoWire wire = tag.toWire();
        if (!tags::fileExists(path)) {
            names << renaming::kFileNotFound;
        } else if (!vbmp3_getFileTagInfo(path.constData(), wire)) {
            names << renaming::kTagInfoError;
        } else {
            tag.fromWire(wire);
            names << renaming::ComposeNewName(tag);
        }
        records << QByteArray(reinterpret_cast<const char *>(&wire), sizeof wire);
    }
    mp3lib::setTagLibFileStreamForTesting(false);
    return names;
}

bool makeTemplate(const QString &path, int t, bool cover)
{
    if (!QFile::copy(QStringLiteral(DORVASU_SAMPLE), path))
        return false;
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    TagLib::MPEG::File file(QFile::encodeName(path).constData());
    TagLib::ID3v2::Tag *tag = file.ID3v2Tag(true);
    tag->setArtist(TagLib::String(QStringLiteral("Singer %1 歌手").arg(t).toStdString(), TagLib::String::UTF8));
    tag->setTitle(TagLib::String(QStringLiteral("Title %1").arg(t).toStdString(), TagLib::String::UTF8));
    tag->setAlbum("Album");
    tag->setYear(2000 + unsigned(t));
    if (cover) {
        QByteArray picture(100 * 1024, '\0');
        for (char &c : picture)
            c = char(QRandomGenerator::global()->generate());
        auto *apic = new TagLib::ID3v2::AttachedPictureFrame;
        apic->setMimeType("image/jpeg");
        apic->setPicture(TagLib::ByteVector(picture.constData(), unsigned(picture.size())));
        tag->addFrame(apic);
    }
    return file.save(TagLib::MPEG::File::ID3v2);
}

void print(const char *what, int count, const Times &t)
{
    std::printf("  %-34s %8.0f files/s  %7.1f ms  CPU %5.1f us/file\n", what, perSecond(count, t.wall),
                t.wall / 1e6, t.cpu / 1e3 / count);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 10000;
    QByteArrayList options;
    for (int i = 2; i < argc; ++i)
        options << argv[i];
    const bool cold = !options.contains("--no-cold");
    if (options.contains("--no-plain"))
        mp3lib::setPlainReaderForTesting(false);
    if (vbmp3_init() == 0) {
        std::fprintf(stderr, "vbmp3_init failed\n");
        return 1;
    }
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    // Ten tagged originals, copied round-robin; two of them with a cover.
    constexpr int kTemplates = 10;
    QStringList templates;
    for (int t = 0; t < kTemplates; ++t) {
        const QString path = dir.filePath(QStringLiteral("template-%1.mp3").arg(t));
        if (!makeTemplate(path, t, t % 5 == 0))
            return 1;
        templates << path;
    }
    QList<QByteArray> paths;
    std::vector<QByteArray> native;
    for (int i = 0; i < count; ++i) {
        const QString path = dir.filePath(QStringLiteral("%1.mp3").arg(i, 5, 10, QChar(u'0')));
        if (!QFile::copy(templates[i % kTemplates], path)) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(path));
            return 1;
        }
        paths << QFile::encodeName(path);
        native.push_back(paths.last());
    }
    std::printf("rename list over %d tagged files (1 in 5 with a 100 KB cover), %u hardware threads, "
                "%d reads in flight\n", count, std::thread::hardware_concurrency(), renaming::kReadsInFlight);

    // Same names and records as before, whichever way and thread read them.
    QList<QByteArray> before;
    const QStringList reference = namesAsBefore(paths, before);
    int sameRecords = 0;
    for (int i = 0; i < count; ++i) {
        mp3lib::TagInfoWire wire = tags::TagInfo().toWire();
        vbmp3_getFileTagInfo(native[size_t(i)].constData(), wire);
        sameRecords += QByteArray(reinterpret_cast<const char *>(&wire), sizeof wire) == before[i];
    }
    if (renaming::makeRenameNames(paths) != reference || oneThread(paths) != reference
        || sameRecords != count || reference.count(renaming::kTagInfoError) != 0) {
        std::fprintf(stderr, "names or records differ from TagLib's own reading (%d of %d records equal)\n",
                     sameRecords, count);
        return 1;
    }
    std::printf("identical: %d names and records as TagLib's own reading gives them\n", count);

    // Rounds of slices in turn, so that other work on the machine weighs on
    // all three alike.
    constexpr int kRounds = 3;
    constexpr int kSlice = 1000;
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    double bestOne = 1e9, bestAll = 1e9;
    std::printf("warm cache, %d rounds, the four taking turns on slices of %d files:\n", kRounds, kSlice);
    for (int round = 0; round < kRounds; ++round) {
        Times t, one, all, perCore;
        for (int from = 0; from < count; from += kSlice) {
            const int n = std::min(kSlice, count - from);
            const std::vector<QByteArray> nativeSlice(native.begin() + from, native.begin() + from + n);
            const QList<QByteArray> slice = paths.mid(from, n);
            t += timed([&] { taglibAlone(nativeSlice); });
            one += timed([&] { oneThread(slice); });
            all += timed([&] { renaming::makeRenameNames(slice); });
            perCore += timed([&] { renaming::makeRenameNames(slice, cores); });
        }
        std::printf(" round %d:\n", round + 1);
        print("TagLib alone, one thread", count, t);
        print("names, one thread", count, one);
        print("names, makeRenameNames", count, all);
        print("names, one thread per core", count, perCore);
        const double rOne = double(one.wall) / double(t.wall), rAll = double(all.wall) / double(t.wall);
        std::printf("  of TagLib alone's time: %.2f on one thread, %.2f on all cores\n", rOne, rAll);
        bestOne = std::min(bestOne, rOne);
        bestAll = std::min(bestAll, rAll);
    }
    std::printf("best rounds: names on one thread %.2f of TagLib alone's time (target <= 0.70), "
                "on all cores %.2f (target <= 0.40)\n", bestOne, bestAll);

    if (!cold)
        return 0;
    std::printf("cold cache (each run after evicting every file's pages):\n");
    evict(native);
    const Times t = timed([&] { taglibAlone(native); });
    print("TagLib alone, one thread", count, t);
    evict(native);
    print("names, one thread", count, timed([&] { oneThread(paths); }));
    double best = 0;
    int bestThreads = 0;
    for (int threads : {1, 2, 4, 8, 16, 32, 64}) {
        evict(native);
        const Times all = timed([&] { renaming::makeRenameNames(paths, threads); });
        const QByteArray what = "names, " + QByteArray::number(threads) + " reads in flight";
        print(what.constData(), count, all);
        if (perSecond(count, all.wall) > best)
            best = perSecond(count, all.wall), bestThreads = threads;
    }
    evict(native);
    const Times all = timed([&] { renaming::makeRenameNames(paths); });
    print("names, makeRenameNames", count, all);
    std::printf("  makeRenameNames: %.2fx TagLib alone's cold rate (target >= 2.5); fastest here: %d reads "
                "in flight\n", perSecond(count, all.wall) / perSecond(count, t.wall), bestThreads);
    vbmp3_free();
    return sink == 42 ? 2 : 0;   // never; keeps `sink` alive
}
