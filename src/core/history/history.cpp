#include "core/history/history.h"

#include "core/paths/paths.h"
#include "core/rename/renamefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>

namespace history {

namespace {

QString testFolder;

struct Action {
    qint64 number = 0;
    Kind kind = Kind::Renames;
    QString path;
};

// The history's folder, locked while this object lives, so that the window
// and the command line never number two actions alike or undo one twice;
// made where missing with `make`.
class Locked {
public:
    explicit Locked(bool make = false)
    {
        const QString at = folder();
        if (make ? !QDir().mkpath(at) : !QFileInfo(at).isDir())
            return;
        fd_ = ::open(QFile::encodeName(at).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ >= 0)
            ::flock(fd_, LOCK_EX);
        // The single journal of earlier versions becomes the oldest action.
        const QString old = renaming::RenameJournal::defaultPath();
        if (testFolder.isEmpty() && QFile::exists(old) && actions().isEmpty())
            QFile::rename(old, at + QStringLiteral("/1.rename"));
    }
    ~Locked()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    // The actions, oldest first.
    QList<Action> actions() const
    {
        static const QRegularExpression name(QStringLiteral("^([0-9]{1,15})\\.(rename|tags)$"));
        QList<Action> out;
        const QDir dir(folder());
        for (const QString &file : dir.entryList(QDir::Files | QDir::Hidden)) {
            const QRegularExpressionMatch m = name.match(file);
            if (m.hasMatch())
                out.append({m.captured(1).toLongLong(), m.captured(2) == u"tags" ? Kind::Tags : Kind::Renames,
                            dir.filePath(file)});
        }
        std::sort(out.begin(), out.end(), [](const Action &a, const Action &b) { return a.number < b.number; });
        return out;
    }

    // The actions, with those at the end that changed nothing forgotten.
    // With `last`, the journal of the last one kept when it is a rename
    // batch, as loaded.
    QList<Action> undoable(renaming::LoadedJournal *last = nullptr) const
    {
        QList<Action> all = actions();
        renaming::LoadedJournal loaded;
        while (!all.isEmpty() && changedNothing(all.back(), &loaded)) {
            QFile::remove(all.back().path);
            all.removeLast();
        }
        if (last && !all.isEmpty() && all.back().kind == Kind::Renames)
            *last = std::move(loaded);
        return all;
    }

private:
    static bool changedNothing(const Action &a, renaming::LoadedJournal *loaded)
    {
        if (a.kind == Kind::Renames) {
            QList<renaming::JournalEntry> &batch = loaded->batch;
            const auto load = loaded->load = renaming::RenameJournal(a.path).load(batch);
            return load == renaming::RenameJournal::Load::Nothing
                   || (load == renaming::RenameJournal::Load::Loaded
                       && std::all_of(batch.begin(), batch.end(),
                                      [](const renaming::JournalEntry &e) {
                                          return (e.batchOver && !e.done) || e.from == e.to;
                                      }));
        }
        QList<TagJournalEntry> entries;
        bool over = false;
        return TagJournal(a.path).load(entries, &over) == TagJournal::Load::Loaded && over
               && std::none_of(entries.begin(), entries.end(), [](const TagJournalEntry &e) { return e.after; });
    }

    int fd_ = -1;
};

void settleLast(const QList<Action> &actions, const std::atomic<bool> *stop = nullptr)
{
    if (!actions.isEmpty() && actions.back().kind == Kind::Renames)
        renaming::settleJournal(actions.back().path, stop);
}

} // namespace

QString folder()
{
    if (!testFolder.isEmpty())
        return testFolder;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/dorvasu/history");
}

void setFolderForTesting(const QString &folder)
{
    testFolder = folder;
}

QString newAction(Kind kind, const std::atomic<bool> *stop)
{
    const Locked lock(true);
    if (!lock.ok())
        return {};
    renaming::LoadedJournal last;
    QList<Action> actions = lock.undoable(&last);
    if (last.load == renaming::RenameJournal::Load::Loaded)
        renaming::settleBatch(last.batch, stop);
    while (actions.size() >= kKeptActions)
        QFile::remove(actions.takeFirst().path);
    const qint64 number = actions.isEmpty() ? 1 : actions.back().number + 1;
    return folder() + u'/' + QString::number(number) + (kind == Kind::Tags ? u".tags"_qs : u".rename"_qs);
}

bool canUndo()
{
    const Locked lock;
    return lock.ok() && !lock.undoable().isEmpty();
}

void settle()
{
    const Locked lock;
    if (lock.ok())
        settleLast(lock.actions());
}

Undone undoLast(renaming::UndoProgress *progress)
{
    Undone out;
    const Locked lock;
    renaming::LoadedJournal loaded;
    const QList<Action> actions = lock.ok() ? lock.undoable(&loaded) : QList<Action>();
    if (actions.isEmpty())
        return out;
    const Action &last = actions.back();
    out.journal = last.path;
    out.kind = last.kind;
    if (last.kind == Kind::Renames) {
        const renaming::LastUndo undo = renaming::undoLastBatch(last.path, progress, &loaded);
        out.what = undo.load == renaming::RenameJournal::Load::Damaged ? Undone::Damaged : Undone::Renames;
        out.renames = undo.result;
        return out;
    }
    QList<std::pair<FileState, FileState>> moves;
    bool damaged = false;
    out.tags = undoTagJournal(last.path, &moves, &damaged, progress, &out.tagsNotTried);
    out.what = damaged ? Undone::Damaged : Undone::Tags;
    // The files put back are other files now (a copy took each one's
    // place): older batches that wrote them learn their new state.
    for (qsizetype i = actions.size() - 2; i >= 0 && !moves.isEmpty(); --i) {
        if (actions[i].kind == Kind::Tags)
            TagJournal(actions[i].path).rebase(moves);
    }
    if (out.tagsNotTried == 0)
        QFile::remove(last.path);
    return out;
}

QString tagUndoFailureMessage(const QList<TagUndoFile> &files, int notTried)
{
    QString listed;
    bool changed = false;
    for (const TagUndoFile &file : files) {
        if (file.error.isEmpty())
            continue;
        listed += paths::display(file.path) + QStringLiteral("\r\n");
        changed = changed || file.error == kChangedSince;
    }
    QString text;
    if (!listed.isEmpty())
        text = QStringLiteral("以下のファイルのタグは元に戻せませんでした。\r\n\r\n") + listed;
    if (changed)
        text += QStringLiteral("\r\nタグを書き込んだ後に変更されたファイルは元に戻しません。");
    return text + renaming::undoStoppedMessage(text, notTried);
}

} // namespace history
