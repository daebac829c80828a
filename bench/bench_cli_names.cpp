// `dorvasu-cli names -r` on a tree of N tagged files (default 10,000 in 100
// folders of two levels) against the windows' own path over the same tree:
// the collection walk, then makeRenameNames, in one process. The command's
// time includes starting the process and printing every line. Warm page
// cache first (three rounds in turn), then cold (every file's pages evicted
// before each run). CPU time per file is the process's own for the windows'
// path and the child's for the command.
//
// Usage: bench_cli_names [N] [--no-cold]

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include "benchcommon.h"
#include "core/collection/mp3tree.h"
#include "core/rename/renamelist.h"

namespace {

qint64 childCpu()
{
    rusage r;
    ::getrusage(RUSAGE_CHILDREN, &r);
    const auto ns = [](const timeval &t) { return qint64(t.tv_sec) * 1000000000 + t.tv_usec * 1000; };
    return ns(r.ru_utime) + ns(r.ru_stime);
}

// The names the windows' path gives: the walk, then the names.
qsizetype windowsPath(const QByteArray &root)
{
    const QList<QByteArray> files = collection::mp3FilesUnder({root});
    return renaming::makeRenameNames(files).size();
}

// The lines `dorvasu-cli names -r root` prints, and the child's CPU time.
qsizetype command(const QByteArray &root, qint64 *cpu)
{
    const qint64 before = childCpu();
    QProcess cli;
    cli.start(QStringLiteral(DORVASU_CLI), {QStringLiteral("names"), QStringLiteral("-r"), QFile::decodeName(root)});
    cli.waitForFinished(-1);
    *cpu = childCpu() - before;
    return cli.readAllStandardOutput().count('\n');
}

void print(const char *what, qsizetype count, qint64 wall, qint64 cpu)
{
    std::printf("  %-30s %8.0f files/s  %8.1f ms  CPU %5.1f us/file  (%lld names)\n", what,
                bench::perSecond(count, wall), wall / 1e6, cpu / 1e3 / double(count), qlonglong(count));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(100, QByteArray(argv[1]).toInt()) : 10000;
    const bool cold = !(argc > 2 && QByteArray(argv[2]) == "--no-cold");

    QTemporaryDir dir;
    const QString root = dir.path() + QStringLiteral("/tree");
    std::vector<QByteArray> paths;
    for (int i = 0; i < n; ++i) {
        const QString folder = root + QStringLiteral("/a%1/b%2").arg(i / 1000).arg(i / 100 % 10);
        const QString path = folder + QStringLiteral("/%1.mp3").arg(i);
        QDir().mkpath(folder);
        if (!QFile::copy(QStringLiteral(DORVASU_SAMPLE), path)
            || !QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner)) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(path));
            return 1;
        }
        TagLib::MPEG::File file(QFile::encodeName(path).constData());
        file.ID3v2Tag(true)->setArtist(TagLib::String(QStringLiteral("Singer %1 歌手").arg(i % 97).toStdString(),
                                                      TagLib::String::UTF8));
        file.ID3v2Tag(true)->setTitle(TagLib::String(QStringLiteral("Title %1").arg(i).toStdString(),
                                                     TagLib::String::UTF8));
        file.save(TagLib::MPEG::File::ID3v2);
        paths.push_back(QFile::encodeName(path));
    }
    const QByteArray rootBytes = QFile::encodeName(root);
    std::printf("%d tagged files in %d folders\n", n, (n + 99) / 100);

    const auto round = [&](bool evictFirst) {
        qsizetype count = 0;
        if (evictFirst)
            bench::evict(paths);
        const bench::Times w = bench::timed([&] { count = windowsPath(rootBytes); });
        print("windows' path (walk + names)", count, w.wall, w.cpu);
        if (evictFirst)
            bench::evict(paths);
        qint64 cpu = 0;
        const bench::Times c = bench::timed([&] { count = command(rootBytes, &cpu); });
        print("dorvasu-cli names -r", count, c.wall, cpu);
        std::printf("  command / windows' path: %.2fx the time\n", double(c.wall) / double(w.wall));
    };
    windowsPath(rootBytes);   // the first read fills the page cache
    std::printf("warm page cache:\n");
    for (int r = 0; r < 3; ++r)
        round(false);
    if (cold) {
        std::printf("cold page cache:\n");
        for (int r = 0; r < 2; ++r)
            round(true);
    }
    return 0;
}
