#include "core/history/tagjournal.h"

#include "core/tags/fileaccess.h"
#include "core/tags/mpegaudio.h"
#include "core/paths/paths.h"
#include "core/tags/tagedit.h"
#include "core/tags/vbmp3.h"
#include "core/tags/write_files.h"

#include <algorithm>
#include <QCryptographicHash>
#include <QFile>
#include <QSet>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace mp3lib::detail;

namespace history {

namespace {

const QByteArray kFirstLine = "Dorvasu tag journal 1";
const QByteArray kKeptAsIs = "/._-~+,=()[]";
constexpr qint64 kFingerprintPart = 4096;

QString cannotWrite(const QString &path)
{
    return QStringLiteral("the history of undoable actions (%1) cannot be written: %2; nothing was written")
        .arg(path, tags::systemError(errno));
}

// A digest of the audio's length and its first and last 4 KB: what tells,
// after a crash, that a file not noted as written still holds the audio it
// had when the batch began.
QByteArray fingerprint(int fd, qint64 begin, qint64 end)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(QByteArray::number(end - begin));
    const qint64 part = qMin(kFingerprintPart, end - begin);
    hash.addData(readAt(fd, begin, part));
    hash.addData(readAt(fd, end - part, part));
    return hash.result().toHex();
}

bool parseState(const QByteArrayList &f, qsizetype at, FileState *s)
{
    if (f.size() < at + 4)
        return false;
    bool ok[4] = {};
    s->device = f[at].toULongLong(&ok[0]);
    s->inode = f[at + 1].toULongLong(&ok[1]);
    s->size = f[at + 2].toULongLong(&ok[2]);
    s->modified = f[at + 3].toLongLong(&ok[3]);
    return ok[0] && ok[1] && ok[2] && ok[3];
}

bool parseEntry(const QByteArrayList &f, TagJournalEntry *e)
{
    bool ok[4] = {};
    if (f.size() != 11 || f[0] != "F" || !parseState(f, 1, &e->before))
        return false;
    e->audioBegin = f[5].toLongLong(&ok[0]);
    e->audioEnd = f[6].toLongLong(&ok[1]);
    e->fingerprint = f[7];
    e->path = QByteArray::fromPercentEncoding(f[8]);
    e->headSize = f[9].toLongLong(&ok[2]);
    e->tailSize = f[10].toLongLong(&ok[3]);
    return ok[0] && ok[1] && ok[2] && ok[3] && e->path.startsWith('/') && e->headSize >= 0 && e->tailSize >= 0;
}

bool flushFolder(const QByteArray &file)
{
    const Fd dir(::open(paths::folderOf(file).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.valid() && ::fsync(dir.get()) == 0;
}

bool appendAtEnd(int fd, const QByteArray &bytes)
{
    const off_t end = ::lseek(fd, 0, SEEK_END);
    return end >= 0 && writeAt(fd, end, bytes);
}

// Puts `head` and `tail` back around the audio of the file open as `fd`
// (status `st`), through a hidden copy renamed over `path`; the file's
// state afterwards in `now`.
bool putBack(const QByteArray &path, int fd, const struct stat &st, const AudioSpan &audio,
             const QByteArray &head, const QByteArray &tail, FileState *now)
{
    QByteArray base;
    const Fd dir = openParentFolder(path, &base);
    ReplacementCopy copy;
    const qint64 length = audio.end - audio.begin;
    if (!dir.valid() || !copy.create(dir.get(), base) || !writeAt(copy.fd(), 0, head)
        || !copyRange(fd, audio.begin, copy.fd(), head.size(), length)
        || !writeAt(copy.fd(), head.size() + length, tail))
        return false;
    // The owner where we may, then the permission bits, as the writer does.
    if (::fchown(copy.fd(), st.st_uid, st.st_gid) != 0)
        (void)::fchown(copy.fd(), static_cast<uid_t>(-1), st.st_gid);
    struct stat written;
    if (::fchmod(copy.fd(), st.st_mode & 07777) != 0 || ::fsync(copy.fd()) != 0
        || ::fstat(copy.fd(), &written) != 0 || written.st_size != head.size() + length + tail.size()
        || !sameBytes(fd, audio.begin, copy.fd(), head.size(), length) || !copy.replace(base, st))
        return false;
    *now = FileState::of(written);
    return true;
}

} // namespace

const QString kChangedSince = QStringLiteral("the file changed after its tags were written");

FileState FileState::of(const struct stat &st)
{
    return {st.st_dev, st.st_ino, quint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

QByteArray FileState::text() const
{
    return QByteArray::number(device) + ' ' + QByteArray::number(inode) + ' ' + QByteArray::number(size) + ' '
           + QByteArray::number(modified);
}

TagJournal::TagJournal(QString path) : path_(std::move(path)) {}

TagJournal::~TagJournal()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (!written_.isEmpty())
        ::unlink(written_.constData());
}

bool TagJournal::open(const QString &label, QString *reason)
{
    written_ = QFile::encodeName(path_) + ".new";
    fd_ = ::open(written_.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd_ < 0 || !writeAt(fd_, 0, kFirstLine + '\n' + label.toUtf8().toPercentEncoding(kKeptAsIs) + '\n')) {
        *reason = cannotWrite(path_);
        return false;
    }
    return true;
}

bool TagJournal::add(const QByteArray &path, int *number, QString *reason)
{
    char resolved[PATH_MAX];
    struct stat st;
    const bool found = ::realpath(path.constData(), resolved);
    // A file named twice (or by two paths) is saved once, before its first write.
    if (found && numbers_.contains(QByteArray(resolved))) {
        *number = numbers_.value(QByteArray(resolved));
        return true;
    }
    const Fd file = found ? openRegularFile(resolved, O_RDONLY, &st) : Fd();
    const AudioSpan audio = file.valid() ? findMpegAudio(file.get()) : AudioSpan();
    if (!audio.found) {
        *reason = tags::writeFailureReason(path);
        return false;
    }
    TagJournalEntry e;
    e.path = resolved;
    e.before = FileState::of(st);
    e.audioBegin = audio.begin;
    e.audioEnd = audio.end;
    e.fingerprint = fingerprint(file.get(), audio.begin, audio.end);
    const QByteArray head = readAt(file.get(), 0, audio.begin);
    const QByteArray tail = readAt(file.get(), audio.end, st.st_size - audio.end);
    if (head.size() != audio.begin || tail.size() != st.st_size - audio.end) {
        *reason = tags::writeFailureReason(path);
        return false;
    }
    const QByteArray line = "F " + e.before.text() + ' ' + QByteArray::number(audio.begin) + ' '
                            + QByteArray::number(audio.end) + ' ' + e.fingerprint + ' '
                            + e.path.toPercentEncoding(kKeptAsIs) + ' ' + QByteArray::number(head.size()) + ' '
                            + QByteArray::number(tail.size()) + '\n';
    if (!appendAtEnd(fd_, line + head + tail + '\n')) {
        broken_ = true;
        *reason = cannotWrite(path_);
        return false;
    }
    *number = int(added_.size());
    numbers_.insert(e.path, *number);
    added_.append(e);
    return true;
}

bool TagJournal::commit(QString *reason)
{
    const QByteArray journal = QFile::encodeName(path_);
    const bool ok = appendAtEnd(fd_, "S\n") && ::fsync(fd_) == 0;
    if (::close(fd_) != 0 || !ok || ::rename(written_.constData(), journal.constData()) != 0
        || !flushFolder(journal)) {
        fd_ = -1;
        *reason = cannotWrite(path_);
        return false;
    }
    written_.clear();
    fd_ = ::open(journal.constData(), O_WRONLY | O_CLOEXEC);
    return true;
}

bool TagJournal::unchangedSinceAdded(int number) const
{
    struct stat st;
    return ::stat(added_[number].path.constData(), &st) == 0 && FileState::of(st) == added_[number].before;
}

bool TagJournal::appendNote(const QByteArray &line, bool flush)
{
    // Notes are not flushed one by one: a file written whose note a crash
    // lost is told by its audio's fingerprint.
    return fd_ >= 0 && appendAtEnd(fd_, line + '\n') && (!flush || ::fdatasync(fd_) == 0);
}

void TagJournal::noteWritten(int number)
{
    struct stat st;
    if (::stat(added_[number].path.constData(), &st) == 0)
        appendNote("W " + QByteArray::number(number) + ' ' + FileState::of(st).text(), false);
}

void TagJournal::finish()
{
    appendNote("E", true);
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

TagJournal::Load TagJournal::load(QList<TagJournalEntry> &entries, bool *over, QString *label) const
{
    entries.clear();
    *over = false;
    QFile file(path_);
    if (!file.exists())
        return Load::Nothing;
    const auto nextLine = [&] {
        QByteArray text = file.readLine();
        if (text.endsWith('\n'))
            text.chop(1);
        return text;
    };
    if (!file.open(QIODevice::ReadOnly) || nextLine() != kFirstLine)
        return Load::Damaged;
    const QByteArray name = nextLine();
    if (label)
        *label = QString::fromUtf8(QByteArray::fromPercentEncoding(name));
    bool started = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (!line.endsWith('\n'))
            break;   // a note a crash cut short: it never was
        const QByteArrayList f = line.chopped(1).split(' ');
        TagJournalEntry e;
        bool okNumber = false;
        const int n = f.size() == 6 ? f[1].toInt(&okNumber) : -1;
        FileState s;
        if (!started && parseEntry(f, &e)) {
            e.headAt = file.pos();
            e.tailAt = e.headAt + e.headSize;
            if (!file.seek(e.tailAt + e.tailSize) || file.read(1) != "\n")
                return Load::Damaged;
            entries.append(e);
        } else if (!started && f == QByteArrayList{"S"}) {
            started = true;
        } else if (started && okNumber && n >= 0 && n < entries.size() && (f[0] == "W" || f[0] == "A")
                   && parseState(f, 2, &s)) {
            entries[n].after = s;
        } else if (started && f == QByteArrayList{"E"}) {
            *over = true;
        } else {
            return Load::Damaged;
        }
    }
    return started ? Load::Loaded : Load::Damaged;
}

void TagJournal::rebase(const QList<std::pair<FileState, FileState>> &moves)
{
    QList<TagJournalEntry> entries;
    bool over = false;
    if (moves.isEmpty() || load(entries, &over) != Load::Loaded)
        return;
    QByteArray notes;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        for (const auto &[from, to] : moves) {
            if (entries[i].after == from)
                notes += "A " + QByteArray::number(i) + ' ' + to.text() + '\n';
        }
    }
    fd_ = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_CLOEXEC);
    if (!notes.isEmpty())
        appendNote(notes.chopped(1), true);
    ::close(fd_);
    fd_ = -1;
}

QList<TagUndoFile> undoTagJournal(const QString &path, QList<std::pair<FileState, FileState>> *moves,
                                  bool *damaged, renaming::UndoProgress *progress, int *notTried)
{
    QList<TagJournalEntry> entries;
    bool over = false;
    QFile saved(path);
    *damaged = TagJournal(path).load(entries, &over) == TagJournal::Load::Damaged;
    QList<TagUndoFile> out;
    if (*damaged || !saved.open(QIODevice::ReadOnly))
        return out;
    QSet<QByteArray> tidied;
    const auto written = [&](const TagJournalEntry &e) { return e.after || !over; };
    if (progress)
        progress->total = std::count_if(entries.begin(), entries.end(), written);
    for (qsizetype i = entries.size() - 1; i >= 0; --i) {
        const TagJournalEntry &e = entries[i];
        if (!written(e))
            continue;   // not written: unchanged, or its write failed
        if (progress) {
            if (progress->cancelled()) {
                if (notTried)
                    *notTried = int(std::count_if(entries.begin(), entries.begin() + i + 1, written));
                return out;
            }
            progress->current.set(e.path);
            ++progress->done;
        }
        // A copy a killed write or undo left beside the file goes first, as
        // when the folder is read.
        const QByteArray folder = paths::folderOf(e.path);
        if (!tidied.contains(folder)) {
            mp3lib::removeLeftoverCopies(folder.constData());
            tidied.insert(folder);
        }
        struct stat st;
        bool exists = false;
        const Fd fd = openRegularFile(e.path.constData(), O_RDWR, &st, &exists);
        const AudioSpan audio = fd.valid() ? findMpegAudio(fd.get()) : AudioSpan();
        const qint64 length = e.audioEnd - e.audioBegin;
        if (!fd.valid()) {
            out.append({e.path, exists ? tags::writeFailureReason(e.path) : tags::missingReason(e.path)});
            continue;
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            out.append({e.path, QStringLiteral("the file is in use")});
            continue;
        }
        saved.seek(e.headAt);
        const QByteArray head = saved.read(e.headSize);
        saved.seek(e.tailAt);
        const QByteArray tail = saved.read(e.tailSize);
        if (head.size() != e.headSize || tail.size() != e.tailSize) {
            *damaged = true;
            return out;
        }
        const bool sameAudio = audio.found && audio.end - audio.begin == length;
        // Back already: untouched by a batch a crash cut short, or put back
        // by an undo a crash cut short.
        if (sameAudio && readAt(fd.get(), 0, audio.begin) == head
            && readAt(fd.get(), audio.end, st.st_size - audio.end) == tail) {
            if (e.after)
                out.append({e.path, {}});
            continue;
        }
        const FileState now = FileState::of(st);
        const bool ours = sameAudio
                          && (e.after ? *e.after == now
                                      : !over && fingerprint(fd.get(), audio.begin, audio.end) == e.fingerprint);
        FileState after;
        if (!ours)
            out.append({e.path, kChangedSince});
        else if (!putBack(e.path, fd.get(), st, audio, head, tail, &after))
            out.append({e.path, tags::writeFailureReason(e.path)});
        else {
            out.append({e.path, {}});
            moves->append({e.before, after});
        }
    }
    return out;
}

} // namespace history
