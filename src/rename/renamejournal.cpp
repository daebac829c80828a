#include "renamejournal.h"

#include "noreplace.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace renaming {

namespace {

const QByteArray kFirstLine = "Dorvasu rename journal 1";
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

bool identify(const QByteArray &path, quint64 *device, quint64 *inode)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    *device = st.st_dev;
    *inode = st.st_ino;
    return true;
}

bool isFile(const QByteArray &path, const JournalEntry &e)
{
    quint64 device, inode;
    return identify(path, &device, &inode) && device == e.device && inode == e.inode;
}

} // namespace

QString RenameJournal::defaultPath()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return config + QStringLiteral("/dorvasu/rename-journal.txt");
}

RenameJournal::RenameJournal(QString path) : path_(std::move(path)) {}

bool RenameJournal::begin(const QList<JournalEntry> &batch)
{
    finish();
    QByteArray text = kFirstLine + '\n';
    for (JournalEntry e : batch) {
        if (!identify(e.from, &e.device, &e.inode))
            return false;
        text += "F " + QByteArray::number(e.device) + ' ' + QByteArray::number(e.inode) + ' '
                + e.from.toPercentEncoding(kKeptAsIs) + ' ' + e.to.toPercentEncoding(kKeptAsIs) + '\n';
    }
    // The batch replaces the last one in one step, flushed before any file
    // is renamed.
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush()
        || ::fsync(file.handle()) != 0 || !file.commit())
        return false;
    const QByteArray folder = QFile::encodeName(QFileInfo(path_).absolutePath());
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    fd_ = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    return fd_ >= 0;
}

void RenameJournal::markDone(int number)
{
    // Not flushed one by one: a note lost in a crash is made up for by the
    // identity check when the batch is undone.
    if (fd_ >= 0)
        writeAll(fd_, "D " + QByteArray::number(number) + '\n');
}

void RenameJournal::finish()
{
    if (fd_ < 0)
        return;
    writeAll(fd_, "E\n");
    ::fsync(fd_);
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
    const QByteArrayList lines = file.readAll().split('\n');
    if (lines.isEmpty() || lines.first() != kFirstLine)
        return Load::Damaged;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArrayList f = lines[i].split(' ');
        if (lines[i].isEmpty() && i == lines.size() - 1)
            break;   // the final line end
        bool okDevice = false, okInode = false, okNumber = false;
        if (f.size() == 5 && f[0] == "F") {
            JournalEntry e;
            e.device = f[1].toULongLong(&okDevice);
            e.inode = f[2].toULongLong(&okInode);
            e.from = QByteArray::fromPercentEncoding(f[3]);
            e.to = QByteArray::fromPercentEncoding(f[4]);
            if (!okDevice || !okInode || e.from.isEmpty() || e.to.isEmpty())
                return Load::Damaged;
            batch.append(e);
        } else if (f.size() == 2 && f[0] == "D") {
            const int n = f[1].toInt(&okNumber);
            if (!okNumber || n < 0 || n >= batch.size())
                return Load::Damaged;
            batch[n].done = true;
        } else if (lines[i] == "E") {
            for (JournalEntry &e : batch)
                e.batchOver = true;
        } else if (i != lines.size() - 1) {
            // A last line cut short by a crash is a note that never was;
            // anything else is damage.
            return Load::Damaged;
        }
    }
    return batch.isEmpty() ? Load::Nothing : Load::Loaded;
}

void RenameJournal::clear()
{
    finish();
    QFile::remove(path_);
}

UndoResult undoBatch(const QList<JournalEntry> &batch)
{
    UndoResult result;
    for (qsizetype i = batch.size() - 1; i >= 0; --i) {
        const JournalEntry &e = batch[i];
        if (e.from == e.to)
            continue;
        // Noted as renamed, the file under the new path goes back (it may
        // have been rewritten meanwhile, by a tag update through a copy);
        // not noted, only when it is the very file that was renamed, which a
        // crash between the rename and its note leaves.
        quint64 device, inode;
        if (!e.done && e.batchOver)
            continue;   // it failed: the file never moved
        if (!identify(e.to, &device, &inode) || (!e.done && !isFile(e.to, e))) {
            if (e.done)
                ++result.gone;
            continue;
        }
        const RenameStatus status = renameNoReplace(e.to, e.from);
        if (status.ok())
            result.moved.append({e.to, e.from});
        else
            result.failed.append(e.to);
    }
    return result;
}

} // namespace renaming
