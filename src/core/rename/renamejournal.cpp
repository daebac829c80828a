#include "core/rename/renamejournal.h"

#include "core/paths/paths.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QStandardPaths>
#include <QVarLengthArray>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace renaming {

namespace {

const QByteArray kFirstLine = "Dorvasu rename journal 2";
// Everything but letters, digits and a few marks is percent-encoded, so a
// path of any bytes (spaces, line ends, names that are not UTF-8) stays
// one field of one line.
const QByteArray kKeptAsIs = "/._-~+,=()[]";

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

QByteArray entryLine(const JournalEntry &e)
{
    const FileIdentity &id = e.id;
    return "F " + QByteArray::number(id.device) + ' ' + QByteArray::number(id.inode) + ' '
           + QByteArray::number(id.size) + ' ' + QByteArray::number(id.modified) + ' '
           + QByteArray::number(id.born) + (id.link ? " l " : " f ") + QByteArray::number(e.folder) + ' '
           + e.from.toPercentEncoding(kKeptAsIs)
           + ' ' + e.to.toPercentEncoding(kKeptAsIs) + '\n';
}

// The fields of one line, split at each space; a line of more than
// kMostFields fields is cut there (no line of the journal has as many).
constexpr qsizetype kMostFields = 11;
using Fields = QVarLengthArray<QByteArrayView, kMostFields>;

Fields fieldsOf(QByteArrayView line)
{
    Fields f;
    qsizetype at = 0;
    while (f.size() < kMostFields) {
        const qsizetype space = line.indexOf(' ', at);
        f.append(line.sliced(at, (space < 0 ? line.size() : space) - at));
        if (space < 0)
            break;
        at = space + 1;
    }
    return f;
}

bool parseEntry(const Fields &f, JournalEntry *e)
{
    if (f.size() != 10 || f[0] != "F" || (f[6] != "f" && f[6] != "l"))
        return false;
    bool ok[6] = {};
    e->id.device = f[1].toULongLong(&ok[0]);
    e->id.inode = f[2].toULongLong(&ok[1]);
    e->id.size = f[3].toULongLong(&ok[2]);
    e->id.modified = f[4].toLongLong(&ok[3]);
    e->id.born = f[5].toLongLong(&ok[4]);
    e->id.link = f[6] == "l";
    e->id.regular = !e->id.link;
    e->folder = f[7].toULongLong(&ok[5]);
    e->from = QByteArray::fromPercentEncoding(f[8].toByteArray());
    e->to = QByteArray::fromPercentEncoding(f[9].toByteArray());
    return std::all_of(ok, ok + 6, [](bool b) { return b; }) && !e->from.isEmpty() && !e->to.isEmpty();
}

bool flushFolderOf(const QByteArray &file)
{
    const int dir = ::open(paths::folderOf(file).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return false;
    const bool ok = ::fsync(dir) == 0;
    ::close(dir);
    return ok;
}

// An empty regular file that is not the batch's file: a reservation.
bool isReservation(bool present, const FileIdentity &found, const FileIdentity &file)
{
    return present && found.regular && found.size == 0
           && (found.device != file.device || found.inode != file.inode);
}

// Where a file of the batch is, as far as settling needs to know.
struct Names {
    int dirFd = -1;
    QByteArray from, to;
    bool caseOnly = false;
    FileIdentity atFrom, atTo;
    bool hasFrom = false, hasTo = false;
};

void settleEntry(const JournalEntry &e, Names &n)
{
    const QByteArray temporaries[] = {caseTemporaryName(n.to), caseTemporaryName(n.from)};
    FileIdentity t;
    bool inTemporary = false;
    for (const QByteArray &name : temporaries)
        inTemporary = inTemporary || (identifyAt(n.dirFd, name, &t) && t.sameFileAs(e.id));
    const bool fileAtFrom = n.hasFrom && n.atFrom.sameFileAs(e.id);
    const bool fileAtTo = n.hasTo && n.atTo.sameFileAs(e.id);

    // An empty file that reserved a name for the file, which is elsewhere.
    if (e.reservedNew && isReservation(n.hasTo, n.atTo, e.id) && (fileAtFrom || inTemporary))
        ::unlinkat(n.dirFd, n.to.constData(), 0);
    if (e.reservedOld && isReservation(n.hasFrom, n.atFrom, e.id) && (fileAtTo || inTemporary))
        ::unlinkat(n.dirFd, n.from.constData(), 0);
    // A link made, the other name not yet removed: the file under both
    // names (each held exactly: on a file system that ignores case, a change
    // of case never has both). It keeps its old name.
    if (fileAtFrom && fileAtTo && n.atFrom.inode == n.atTo.inode)
        ::unlinkat(n.dirFd, n.to.constData(), 0);
    // A case change cut short: back to the old name; an empty file that
    // reserved the temporary name goes.
    for (const QByteArray &name : temporaries) {
        if (!identifyAt(n.dirFd, name, &t))
            continue;
        if (t.sameFileAs(e.id))
            renameAt(n.dirFd, name, n.from);
        else if (t.regular && t.size == 0)
            ::unlinkat(n.dirFd, name.constData(), 0);
    }
}

// Looks up the old and new names of `e` in its folder (opened in `folders`).
bool lookUp(const JournalEntry &e, OpenFolders &folders, Names &n)
{
    // The folder must be the one the batch renamed in, not another one moved
    // or linked to its path since.
    n.dirFd = folders.at(paths::folderOf(e.from));
    struct stat folder;
    if (n.dirFd < 0 || paths::folderOf(e.to) != paths::folderOf(e.from) || ::fstat(n.dirFd, &folder) != 0
        || (e.folder != 0 && folder.st_ino != e.folder))
        return false;
    n.from = paths::nameOf(e.from);
    n.to = paths::nameOf(e.to);
    // On a file system that ignores case, both names find the one entry:
    // a name counts only where the folder holds it exactly.
    n.caseOnly = equalIgnoringCase(n.from, n.to);
    n.hasFrom = identifyAt(n.dirFd, n.from, &n.atFrom) && (!n.caseOnly || holdsExactly(n.dirFd, n.from));
    n.hasTo = identifyAt(n.dirFd, n.to, &n.atTo) && (!n.caseOnly || holdsExactly(n.dirFd, n.to));
    return true;
}

// The entries of `batch` that repeat an earlier entry's file.
QList<bool> repeatedFiles(const QList<JournalEntry> &batch)
{
    QList<bool> repeated(batch.size(), false);
    QSet<FileKey> seen;
    seen.reserve(batch.size());
    for (qsizetype i = 0; i < batch.size(); ++i) {
        const FileKey key = fileKeyOf(batch[i]);
        repeated[i] = seen.contains(key);
        seen.insert(key);
    }
    return repeated;
}

} // namespace

size_t qHash(const FileKey &k, size_t seed)
{
    return qHashMulti(seed, k.device, k.folder, k.inode, k.born, k.name);
}

FileKey fileKeyOf(const JournalEntry &e)
{
    return {e.id.device, e.folder, e.id.inode, e.id.born, QByteArrayView(e.from).sliced(e.from.lastIndexOf('/') + 1)};
}

QString RenameJournal::defaultPath()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return config + QStringLiteral("/dorvasu/rename-journal.txt");
}

RenameJournal::RenameJournal(QString path) : path_(std::move(path)) {}

RenameJournal::~RenameJournal()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool RenameJournal::begin(const QList<JournalEntry> &batch, const std::atomic<bool> *stop)
{
    finish();
    if (path_.isEmpty())
        return false;   // no place for it (the history's folder cannot be made)
    settleJournal(path_);
    // The batch replaces the last one in one step, flushed before any file
    // is renamed. The new text is written under one fixed name beside it,
    // which the next batch overwrites should a crash leave it.
    QDir().mkpath(QFileInfo(path_).absolutePath());
    const QByteArray journal = QFile::encodeName(QFileInfo(path_).absoluteFilePath());
    const QByteArray written = journal + ".new";
    const int fd = ::open(written.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    // Written a block at a time: the text of a batch of 200,000 files is
    // never held whole.
    constexpr qsizetype kBlock = 1 << 20;
    QByteArray text;
    text.reserve(kBlock + 4096);
    text += kFirstLine + '\n';
    bool ok = true;
    for (qsizetype i = 0; ok && i < batch.size(); ++i) {
        text += entryLine(batch[i]);
        if (text.size() >= kBlock) {
            ok = writeAll(fd, text) && !(stop && stop->load(std::memory_order_relaxed));
            text.resize(0);
        }
    }
    ok = ok && writeAll(fd, text) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !ok || ::rename(written.constData(), journal.constData()) != 0
        || !flushFolderOf(journal)) {
        ::unlink(written.constData());
        return false;
    }
    inBatch_ = reopen();
    return inBatch_;
}

bool RenameJournal::reopen()
{
    finish();
    fd_ = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    return fd_ >= 0;
}

bool RenameJournal::note(char kind, int number, bool flush)
{
    // Renames are not flushed one by one: a note lost in a crash is made up
    // for by the identity check when the batch is undone.
    return fd_ >= 0 && writeAll(fd_, kind + (' ' + QByteArray::number(number)) + '\n')
           && (!flush || ::fdatasync(fd_) == 0);
}

void RenameJournal::finish()
{
    if (fd_ < 0)
        return;
    if (inBatch_) {
        writeAll(fd_, "E\n");
        ::fsync(fd_);
    }
    inBatch_ = false;
    ::close(fd_);
    fd_ = -1;
}

RenameJournal::Load RenameJournal::load(QList<JournalEntry> &batch) const
{
    batch.clear();
    QFile file(path_);
    if (!file.exists())
        return Load::Nothing;
    if (!file.open(QIODevice::ReadOnly))
        return Load::Damaged;
    // Walked line by line in place: a batch of 200,000 files is not copied
    // into as many lines first.
    const QByteArray text = file.readAll();
    const QByteArrayView all(text);
    qsizetype at = all.indexOf('\n');
    if (all.first(at < 0 ? all.size() : at) != kFirstLine)
        return Load::Damaged;
    while (at >= 0) {
        const qsizetype begin = at + 1, end = all.indexOf('\n', begin);
        const bool last = end < 0;   // what follows the final line end
        const QByteArrayView line = all.sliced(begin, (last ? all.size() : end) - begin);
        at = end;
        if (line.isEmpty() && last)
            break;
        const Fields f = fieldsOf(line);
        bool okNumber = false;
        const int n = f.size() == 2 ? f[1].toInt(&okNumber) : -1;
        JournalEntry e;
        if (parseEntry(f, &e)) {
            batch.append(std::move(e));
        } else if (okNumber && n >= 0 && n < batch.size() && (f[0] == "D" || f[0] == "R" || f[0] == "O")) {
            (f[0] == "D" ? batch[n].done : f[0] == "R" ? batch[n].reservedNew : batch[n].reservedOld) = true;
        } else if (line == "E") {
            for (JournalEntry &entry : batch)
                entry.batchOver = true;
        } else if (!last) {
            // A last line cut short by a crash is a note that never was;
            // anything else is damage.
            return Load::Damaged;
        }
    }
    return batch.isEmpty() ? Load::Nothing : Load::Loaded;
}

void RenameJournal::clear()
{
    inBatch_ = false;
    finish();
    QFile::remove(path_);
}

namespace {

void settleBatch(const QList<JournalEntry> &batch, const QList<bool> &repeated, const std::atomic<bool> *stop)
{
    OpenFolders folders;
    for (qsizetype i = batch.size() - 1; i >= 0 && !(stop && stop->load(std::memory_order_relaxed)); --i) {
        // A rename that failed in a batch that ended left nothing to settle.
        Names n;
        if (!repeated[i] && batch[i].from != batch[i].to && (batch[i].done || !batch[i].batchOver)
            && lookUp(batch[i], folders, n))
            settleEntry(batch[i], n);
    }
}

} // namespace

void settleBatch(const QList<JournalEntry> &batch, const std::atomic<bool> *stop)
{
    settleBatch(batch, repeatedFiles(batch), stop);
}

void settleJournal(const QString &path, const std::atomic<bool> *stop)
{
    QList<JournalEntry> batch;
    if (RenameJournal(path).load(batch) == RenameJournal::Load::Loaded)
        settleBatch(batch, stop);
}

UndoResult undoBatch(const QList<JournalEntry> &batch, RenameJournal *journal, UndoProgress *progress)
{
    const QList<bool> repeated = repeatedFiles(batch);
    settleBatch(batch, repeated, progress ? &progress->cancel : nullptr);
    UndoResult result;
    OpenFolders folders;
    const auto moved = [&](qsizetype i) {
        const JournalEntry &e = batch[i];
        return !repeated[i] && e.from != e.to && (e.done || !e.batchOver);
    };
    if (progress) {
        qint64 total = 0;
        for (qsizetype i = 0; i < batch.size(); ++i)
            total += moved(i);
        progress->total = total;
    }
    for (qsizetype i = batch.size() - 1; i >= 0; --i) {
        const JournalEntry &e = batch[i];
        Names n;
        if (!moved(i))
            continue;   // nothing to do, or it failed: the file never moved
        if (progress) {
            if (progress->cancelled()) {
                for (qsizetype rest = i; rest >= 0; --rest)
                    result.notTried += moved(rest);
                break;
            }
            progress->current.set(e.to);
            ++progress->done;
        }
        if (!lookUp(e, folders, n)) {
            result.failed.append(e.to);
            continue;
        }
        // Already back (an Undo cut short before), or never moved.
        if (n.hasFrom && n.atFrom.sameFileAs(e.id)) {
            if (e.done)
                result.moved.append({e.to, e.from});
            continue;
        }
        // Noted as renamed, the file under the new path goes back (it may
        // have been rewritten meanwhile, by a tag update through a copy, and
        // then be another inode); not noted, only when it is the very file
        // that was renamed, which a crash between the rename and its note
        // leaves.
        const bool ours = n.hasTo
                          && (n.atTo.sameFileAs(e.id)
                              || (e.done && n.atTo.device == e.id.device && n.atTo.link == e.id.link
                                  && (n.atTo.link || n.atTo.regular)));
        if (!ours) {
            if (e.done)
                ++result.gone;
            continue;
        }
        const RenameStatus status
            = renameAt(n.dirFd, n.to, n.from, [&] { return !journal || journal->note('O', int(i), true); });
        if (status.ok())
            result.moved.append({e.to, e.from});
        else
            result.failed.append(e.to);
    }
    return result;
}

LastUndo undoLastBatch(const QString &path, UndoProgress *progress, LoadedJournal *loaded)
{
    RenameJournal journal(path);
    LoadedJournal own;
    if (!loaded) {
        loaded = &own;
        loaded->load = journal.load(loaded->batch);
    }
    LastUndo undo;
    undo.load = loaded->load;
    if (undo.load == RenameJournal::Load::Loaded) {
        journal.reopen();
        undo.result = undoBatch(loaded->batch, &journal, progress);
    }
    if (undo.load != RenameJournal::Load::Nothing && undo.result.notTried == 0)
        journal.clear();
    return undo;
}

} // namespace renaming
