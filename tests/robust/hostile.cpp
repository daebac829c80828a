#include "hostile.h"

#include "testdata.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QtEndian>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

namespace hostile {

namespace {

const QString kTagError = QStringLiteral("*[Tag info error]");
const QString kNotFound = QStringLiteral("*[File not found]");

QByteArray syncsafe(quint32 n)
{
    const char b[] = {char((n >> 21) & 127), char((n >> 14) & 127), char((n >> 7) & 127), char(n & 127)};
    return QByteArray(b, 4);
}

QByteArray bigEndian(quint32 n, int bytes)
{
    QByteArray b(4, '\0');
    qToBigEndian<quint32>(n, b.data());
    return b.right(bytes);
}

// A frame of ID3v2.`version` (2, 3 or 4) with its two flag bytes (none in 2.2).
QByteArray frame(int version, const QByteArray &id, const QByteArray &payload, quint16 flags = 0)
{
    if (version == 2)
        return id + bigEndian(payload.size(), 3) + payload;
    const QByteArray size = version == 4 ? syncsafe(payload.size()) : bigEndian(payload.size(), 4);
    return id + size + bigEndian(flags, 2) + payload;
}

QByteArray latin1(int version, const QByteArray &id, const QByteArray &text)
{
    return frame(version, id, '\0' + text);
}

QByteArray tag(int version, const QByteArray &body, char flags = 0)
{
    return "ID3" + QByteArray(1, char(version)) + '\0' + QByteArray(1, flags) + syncsafe(body.size()) + body;
}

// Title and singer frames: every file that keeps a readable tag has them.
QByteArray named(int version, const QByteArray &title, const QByteArray &singer)
{
    const bool v2 = version == 2;
    return latin1(version, v2 ? "TT2" : "TIT2", title) + latin1(version, v2 ? "TP1" : "TPE1", singer);
}

QByteArray id3v1(const QByteArray &title, const QByteArray &singer)
{
    auto field = [](const QByteArray &s, int n) { return s.left(n) + QByteArray(n - qMin(n, int(s.size())), '\0'); };
    return "TAG" + field(title, 30) + field(singer, 30) + field("Album", 30) + "1999" + field({}, 30)
           + char(17);
}

QByteArray apeTag(const QList<QPair<QByteArray, QByteArray>> &items)
{
    QByteArray body;
    for (const auto &[key, value] : items) {
        QByteArray head(8, '\0');
        qToLittleEndian<quint32>(value.size(), head.data());
        body += head + key + '\0' + value;
    }
    auto header = [&](quint32 flags) {
        QByteArray h = "APETAGEX" + QByteArray(24, '\0');
        qToLittleEndian<quint32>(2000, h.data() + 8);
        qToLittleEndian<quint32>(body.size() + 32, h.data() + 12);
        qToLittleEndian<quint32>(items.size(), h.data() + 16);
        qToLittleEndian<quint32>(flags, h.data() + 20);
        return h;
    };
    return header(0xA0000000) + body + header(0x80000000);
}

// A zlib stream that inflates to `gigabytes` GB of zeros: one block of
// 1 MB of zeros, compressed once and repeated (each ends in a full flush,
// so the copies stand alone), then the end of the stream and its checksum.
QByteArray zlibBomb(int gigabytes)
{
    z_stream z{};
    deflateInit(&z, Z_BEST_COMPRESSION);
    const QByteArray zeros(1 << 20, '\0');
    auto run = [&](const QByteArray &in, int flush) {
        QByteArray out(in.size() / 100 + 4096, '\0');
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
        z.avail_in = uInt(in.size());
        z.next_out = reinterpret_cast<Bytef *>(out.data());
        z.avail_out = uInt(out.size());
        deflate(&z, flush);
        out.truncate(out.size() - z.avail_out);
        return out;
    };
    const QByteArray first = run(zeros, Z_FULL_FLUSH);   // zlib header and a block
    const QByteArray block = run(zeros, Z_FULL_FLUSH);   // a block alone
    const QByteArray end = run({}, Z_FINISH);
    deflateEnd(&z);
    const quint64 total = quint64(gigabytes) << 30;
    QByteArray stream = first + block.repeated(int((total >> 20) - 1));
    // The trailer: Adler-32 of all those zeros.
    stream += end.left(end.size() - 4);
    return stream + bigEndian(quint32((total % 65521) << 16 | 1), 4);
}

// A first frame carrying a Xing header that claims 2^32-1 frames and as
// many bytes, followed by the real audio.
QByteArray xingClaimingEverything(const QByteArray &audio)
{
    QByteArray first(417, '\0');        // MPEG-1 layer III, 128 kbit/s, 44.1 kHz
    first.replace(0, 4, audio.left(4));
    first.replace(36, 16, QByteArray("Xing") + bigEndian(3, 4) + bigEndian(0xFFFFFFFF, 4)
                             + bigEndian(0xFFFFFFFF, 4));
    return first + audio;
}

long residentKb()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

} // namespace

bool runInChild(int watchdogSeconds, const std::function<QVariantMap()> &work, QVariantMap &report,
                QString &why)
{
    int fds[2];
    if (::pipe(fds) != 0) {
        why = QStringLiteral("no pipe");
        return false;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::alarm(unsigned(watchdogSeconds));
        const long startKb = residentKb();
        QElapsedTimer clock;
        clock.start();
        QVariantMap out = work();
        out["seconds"] = double(clock.nsecsElapsed()) / 1e9;
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        out["memoryKb"] = qlonglong(usage.ru_maxrss - startKb);
        QByteArray bytes;
        QDataStream stream(&bytes, QIODevice::WriteOnly);
        stream << out;
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = ::write(fds[1], bytes.constData() + done, size_t(bytes.size() - done));
            if (n <= 0)
                ::_exit(3);
            done += n;
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray got;
    char buffer[4096];
    for (ssize_t n; pid > 0 && (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        got.append(buffer, n);
    ::close(fds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) {
        why = QStringLiteral("no child");
        return false;
    }
    if (WIFSIGNALED(status)) {
        why = WTERMSIG(status) == SIGALRM ? QStringLiteral("hung for %1 s").arg(watchdogSeconds)
                                          : QStringLiteral("died of signal %1").arg(WTERMSIG(status));
        return false;
    }
    QDataStream stream(got);
    stream >> report;
    if (WEXITSTATUS(status) != 0 || !report.contains("seconds")) {
        why = QStringLiteral("exited with status %1 and no report").arg(WEXITSTATUS(status));
        return false;
    }
    return true;
}

QByteArray sha1Of(const QString &path)
{
    QFile f(path);
    QCryptographicHash h(QCryptographicHash::Sha1);
    if (f.open(QIODevice::ReadOnly))
        h.addData(&f);
    return h.result();
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

QByteArray id3v2Tag(int version, const QList<QPair<QByteArray, QByteArray>> &frames, int padding)
{
    QByteArray body;
    for (const auto &[id, text] : frames)
        body += latin1(version, id, text);
    return tag(version, body + QByteArray(padding, '\0'));
}

QList<HostileFile> writeHostileFiles(const QString &folder)
{
    const QByteArray audio = testdata::readAll(testdata::sample(testdata::kStereoMpeg1));
    const QByteArray title = named(3, "Title", "Singer");
    const QString name = QStringLiteral("Singer - Title.mp3");
    QList<HostileFile> set;
    auto add = [&](const QString &what, const QString &file, const QByteArray &bytes, bool reads,
                   bool writes, bool plays, const QString &proposed) {
        const QString path = folder + u'/' + file;
        testdata::writeAll(path, bytes);
        set.append({what, path, true, reads, writes, plays, proposed});
    };
    // Files that must be refused outright.
    add("empty", "empty.mp3", {}, false, false, false, kTagError);
    QByteArray noise(256 * 1024, '\0');
    QRandomGenerator random(20240607);
    random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    add("random bytes", "random.mp3", noise, false, false, false, kTagError);
    add("text named .mp3", "text.mp3", QByteArray("This is not an MP3 file.\n").repeated(400), false,
        false, false, kTagError);

    // Tags the guard refuses: the file is never handed to TagLib. (libmpg123
    // skips a tag's declared size too: past the end, it finds no audio.)
    add("ID3v2 size past the end", "past-end.mp3",
        QByteArray("ID3\x03\0\0", 6) + syncsafe(1 << 20) + title + audio, false, false, false, kTagError);
    const QByteArray bomb = zlibBomb(2);
    add("compressed frame inflating to 2 GB", "zlib-bomb.mp3",
        tag(3, title + frame(3, "PRIV", bigEndian(1000, 4) + bomb, 0x0080)) + audio, false, false,
        true, kTagError);
    add("500,000 tiny frames", "tiny-frames.mp3",
        tag(3, title + frame(3, "TXXX", QByteArray(1, '\0')).repeated(500000)) + audio, false,
        false, true, kTagError);

    // Unusual but valid shapes: read, written and played.
    add("invalid text-encoding byte", "bad-encoding.mp3",
        tag(3, title + frame(3, "TALB", "\x07" "Al\xff\xfe" "bum")) + audio, true, true, true, name);
    add("Xing header claiming 2^32-1 frames", "xing.mp3", tag(3, title) + xingClaimingEverything(audio),
        true, true, true, name);
    add("ID3v2.2", "v22.mp3", tag(2, named(2, "Title", "Singer")) + audio, true, true, true, name);
    add("unsynchronised frames", "unsync.mp3",
        tag(4, frame(4, "TIT2", QByteArray("\0Title", 6), 0x0002)
                   + frame(4, "PRIV", QByteArray("owner\0\xff\0\xff\0\xe0", 11), 0x0002)
                   + latin1(4, "TPE1", "Singer"), char(0x80))
            + audio,
        true, true, true, name);
    add("extended header", "extended.mp3",
        tag(4, syncsafe(6) + QByteArray("\x01\x00", 2) + named(4, "Title", "Singer"), char(0x40)) + audio,
        true, true, true, name);
    add("two ID3v2 tags", "two-tags.mp3", tag(3, title) + tag(3, named(3, "Second", "Other")) + audio,
        true, true, true, name);
    add("junk before the first frame", "junk.mp3", tag(3, title) + QByteArray(3000, '\x55') + audio,
        true, true, true, name);
    add("APEv2 and ID3v1", "ape-v1.mp3",
        audio + apeTag({{"Title", "Ape title"}, {"Artist", "Ape singer"}}) + id3v1("v1 title", "v1 singer"),
        true, true, true, QStringLiteral("Ape singer - Ape title.mp3"));

    // Entries that are no regular file.
    const QByteArray fifo = QFile::encodeName(folder + QStringLiteral("/fifo.mp3"));
    ::mkfifo(fifo.constData(), 0644);
    set.append({"FIFO", QFile::decodeName(fifo), false, false, false, false, kNotFound});
    const QByteArray zero = QFile::encodeName(folder + QStringLiteral("/zero.mp3"));
    (void)!::symlink("/dev/zero", zero.constData());
    set.append({"link to /dev/zero", QFile::decodeName(zero), false, false, false, false, kNotFound});
    QDir(folder).mkdir(QStringLiteral("folder.mp3"));
    set.append({"folder named .mp3", folder + QStringLiteral("/folder.mp3"), false, false, false, false,
                kNotFound});
    return set;
}

} // namespace hostile
