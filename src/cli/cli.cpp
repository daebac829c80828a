#include "cli.h"

#include "args.h"
#include "existence.h"
#include "mp3tree.h"
#include "newname.h"
#include "paths.h"
#include "renamefiles.h"
#include "renamejournal.h"
#include "renamelist.h"
#include "tagbatch.h"
#include "tagfields.h"
#include "vbmp3.h"

#include <QElapsedTimer>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace cli {

namespace {

void writeLine(FILE *to, const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), to);
    std::fputc('\n', to);
}

// The progress line on stderr, shown only while stderr is a terminal and
// redrawn at most ten times a second.
class Progress {
public:
    const bool on = ::isatty(STDERR_FILENO) == 1;

    void show(qint64 done, qint64 total, const QByteArray &path)
    {
        if (!on || (timer_.isValid() && timer_.elapsed() < 100))
            return;
        timer_.start();
        QByteArray line = "\r\033[K" + QByteArray::number(done);
        if (total > 0)
            line += '/' + QByteArray::number(total);
        line += ' ' + paths::printable(path).left(70);
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        shown_ = true;
    }
    void clear()
    {
        if (shown_)
            std::fputs("\r\033[K", stderr);
        shown_ = false;
    }
    ~Progress() { clear(); }

    // Runs `work`; while it runs, on another thread, `state` draws the line.
    template <typename Work, typename State>
    void watch(Work work, State state)
    {
        if (!on) {
            work();
            return;
        }
        std::atomic<bool> over{false};
        std::thread worker([&] {
            work();
            over = true;
        });
        while (!over) {
            state();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        worker.join();
        clear();
    }

private:
    QElapsedTimer timer_;
    bool shown_ = false;
};

// Counts the files that failed, naming each on stderr.
class Failures {
public:
    explicit Failures(Progress &progress) : progress_(progress) {}

    void add(const QByteArray &path, const QString &reason)
    {
        ++count_;
        progress_.clear();
        writeLine(stderr, "dorvasu-cli: " + paths::printable(path) + ": " + reason.toUtf8());
    }
    int status() const { return count_ > 0 ? 1 : 0; }

private:
    Progress &progress_;
    int count_ = 0;
};

// Why there is a marker instead of a proposed name.
QString markerReason(const QByteArray &path, const QString &marker)
{
    if (marker == renaming::kFileNotFound)
        return tags::missingReason(path);
    if (marker == renaming::kTagInfoError)
        return QStringLiteral("the tag cannot be read");
    return QStringLiteral("the singer or title holds a character a file name may not hold");
}

// The files the paths name: each path as given, and with -r the MP3 files
// under each one that is a folder, in the order of the walk.
QList<QByteArray> filesOf(const Args &args, Progress &progress, Failures &failures)
{
    QList<QByteArray> files;
    for (const QByteArray &path : args.paths) {
        struct stat st;
        if (::stat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            files.append(path);
        } else if (!args.recursive) {
            failures.add(path, QStringLiteral("a folder (-r takes the MP3 files under it)"));
        } else {
            collection::WalkProgress walk;
            progress.watch([&] { files += collection::mp3FilesUnder({path}, &walk); },
                           [&] { progress.show(walk.found.load(), 0, walk.current.get()); });
        }
    }
    return files;
}

QStringList namesOf(const QList<QByteArray> &files, Progress &progress)
{
    renaming::NameProgress state;
    QStringList names;
    progress.watch([&] { names = renaming::makeRenameNames(files, &state); },
                   [&] { progress.show(state.done.load(), files.size(), state.current.get()); });
    return names;
}

int names(const Args &args)
{
    Progress progress;
    Failures failures(progress);
    const QList<QByteArray> files = filesOf(args, progress, failures);
    const QStringList names = namesOf(files, progress);
    for (qsizetype i = 0; i < files.size(); ++i) {
        writeLine(stdout, paths::printable(files[i]) + '\t' + names[i].toUtf8());
        if (names[i].startsWith(u'*'))
            failures.add(files[i], markerReason(files[i], names[i]));
    }
    return failures.status();
}

// Why renaming `path` to `name` failed (the rename itself gives no reason).
QString renameReason(const QByteArray &path, const QString &name)
{
    if (name.startsWith(u'*'))
        return markerReason(path, name);
    if (!tags::fileExists(path))
        return tags::missingReason(path);
    const QByteArray target = paths::folderOf(path) + name.toUtf8();
    struct stat st;
    if (::lstat(target.constData(), &st) == 0)
        return QStringLiteral("\"%1\" exists already").arg(name);
    if (!renaming::isAcceptableName(name))
        return QStringLiteral("\"%1\" cannot be a file name").arg(name);
    const QByteArray folder = paths::folderOf(path);
    if (::access(folder.isEmpty() ? "." : folder.constData(), W_OK) != 0)
        return tags::systemError(errno);
    return QStringLiteral("the file could not be renamed");
}

// `path` from the root: its folder resolved by the kernel, then its name.
// As given when the folder cannot be resolved (the rename then fails).
QByteArray absolute(const QByteArray &path)
{
    const QByteArray folder = paths::folderOf(path);
    char resolved[PATH_MAX];
    if (path.startsWith('/') || !::realpath(folder.isEmpty() ? "." : folder.constData(), resolved))
        return path;
    return paths::join(resolved, paths::nameOf(path));
}

int rename(const Args &args)
{
    Progress progress;
    Failures failures(progress);
    const QList<QByteArray> files = filesOf(args, progress, failures);
    const QStringList names = namesOf(files, progress);
    // One line for file i: its new name, or why it has none.
    const auto report = [&](qsizetype i, const QString &reason) {
        const bool ok = reason.isEmpty();
        writeLine(stdout, paths::printable(files[i]) + '\t'
                              + (ok ? names[i] : QStringLiteral("error: ") + reason).toUtf8());
        if (!ok)
            failures.add(files[i], reason);
    };
    if (args.dryRun) {
        QHash<QByteArray, QByteArray> taken;   // names earlier files of the batch would get, and those files
        for (qsizetype i = 0; i < files.size(); ++i) {
            const QByteArray target = paths::folderOf(files[i]) + names[i].toUtf8();
            struct stat st;
            QString reason;
            if (!renaming::isAcceptableName(names[i]) || !tags::fileExists(files[i])
                || (target != files[i] && ::lstat(target.constData(), &st) == 0))
                reason = renameReason(files[i], names[i]);
            else if (taken.value(target, files[i]) != files[i])   // the same file twice is renamed once
                reason = QStringLiteral("an earlier file gets \"%1\"").arg(names[i]);
            if (reason.isEmpty())
                taken.insert(target, files[i]);
            report(i, reason);
        }
        return failures.status();
    }

    // The journal keeps absolute paths, so that an undo from another folder,
    // or from the window, finds the files.
    QList<renaming::RenameJob> jobs;
    for (qsizetype i = 0; i < files.size(); ++i)
        jobs.append({int(i), absolute(files[i]), names[i], QString::number(i)});
    renaming::RenameJournal journal;
    renaming::RenameProgress state;
    renaming::RenameResult result;
    progress.watch([&] { result = renaming::renameFiles(jobs, &journal, &state); },
                   [&] {
                       const int at = state.current.load();
                       progress.show(state.done.load(), jobs.size(), at >= 0 ? files[at] : QByteArray());
                   });
    if (result.journalFailed) {
        // Nothing was renamed: a batch that could not be undone would leave
        // the last one to be undone in its place.
        const QString reason = QStringLiteral("the rename journal %1 cannot be written; nothing was renamed")
                                   .arg(renaming::RenameJournal::defaultPath());
        for (qsizetype i = 0; i < files.size(); ++i)
            report(i, reason);
        return failures.status();
    }
    QSet<int> failed;
    for (const QString &shown : std::as_const(result.failed))
        failed.insert(shown.toInt());
    for (qsizetype i = 0; i < files.size(); ++i)
        report(i, failed.contains(int(i)) ? renameReason(files[i], names[i]) : QString());
    return failures.status();
}

int undo()
{
    Progress progress;
    Failures failures(progress);
    const renaming::LastUndo undo = renaming::undoLastBatch(renaming::RenameJournal::defaultPath());
    switch (undo.load) {
    case renaming::RenameJournal::Load::Nothing:
        writeLine(stderr, "dorvasu-cli: nothing to undo");
        return 0;
    case renaming::RenameJournal::Load::Damaged:
        failures.add(renaming::RenameJournal::defaultPath().toUtf8(),
                     QStringLiteral("the rename journal is damaged; nothing was undone"));
        return failures.status();
    case renaming::RenameJournal::Load::Loaded:
        break;
    }
    const renaming::UndoResult &result = undo.result;
    for (const auto &moved : result.moved)
        writeLine(stdout, paths::printable(moved.from) + '\t' + paths::printable(paths::nameOf(moved.to)));
    for (const QByteArray &path : result.failed) {
        const QString reason = QStringLiteral("could not go back: its old name is taken or the rename failed");
        writeLine(stdout, paths::printable(path) + "\terror: " + reason.toUtf8());
        failures.add(path, reason);
    }
    if (result.gone > 0) {
        writeLine(stderr, "dorvasu-cli: " + QByteArray::number(result.gone)
                              + " file(s) are no longer where the rename put them");
        return 1;
    }
    return failures.status();
}

// A text as a JSON string.
QByteArray json(const QString &text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\' + QByteArray(1, c);
        else if (static_cast<unsigned char>(c) < 0x20)
            out += "\\u00" + QByteArray::number(c, 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out + '"';
}

int show(const Args &args)
{
    Progress progress;
    Failures failures(progress);
    const QList<QByteArray> files = filesOf(args, progress, failures);
    for (qsizetype i = 0; i < files.size(); ++i) {
        progress.show(i, files.size(), files[i]);
        const QByteArray &path = files[i];
        tags::TagInfo tag;
        mp3lib::TagInfoWire wire = tag.toWire();
        if (!tags::fileExists(path)) {
            failures.add(path, tags::missingReason(path));
            continue;
        }
        if (mp3lib::readFileTag(path.constData(), wire) != mp3lib::TagRead::Read) {
            failures.add(path, QStringLiteral("the tag cannot be read"));
            continue;
        }
        tag.fromWire(wire);
        const tags::TagFieldTexts t = tags::displayTexts(tag);
        const QString genre = tags::TrimTagStr(tag.GenreName);
        const QList<std::pair<const char *, QString>> fields{
            {"title", t.TrackName}, {"artist", t.ArtistName}, {"album", t.AlbumName},
            {"year", t.Year},       {"comment", t.Comment},   {"genre", genre}};
        QByteArray out;
        if (args.json) {
            out = "{\"path\": " + json(QString::fromUtf8(paths::printable(path)));
            for (const auto &[key, value] : fields)
                out += ", \"" + QByteArray(key) + "\": " + json(value);
            out += ", \"genre_no\": " + QByteArray::number(tag.GenreNo) + '}';
        } else {
            out = paths::printable(path);
            for (const auto &[key, value] : fields)
                out += "\n  " + QByteArray(key) + ": " + paths::printable(value.toUtf8());
            if (!genre.isEmpty())
                out += " (" + QByteArray::number(tag.GenreNo) + ')';
            out += '\n';
        }
        progress.clear();
        writeLine(stdout, out);
    }
    return failures.status();
}

int set(const Args &args)
{
    tags::FieldChanges changes;
    changes.title = args.fields.title;
    changes.artist = args.fields.artist;
    changes.album = args.fields.album;
    changes.year = args.fields.year;
    changes.comment = args.fields.comment;
    if (args.fields.genre && !(changes.genre = tags::genreEntry(*args.fields.genre))) {
        writeLine(stderr, "dorvasu-cli: --genre: no such genre: " + args.fields.genre->toUtf8());
        return 2;
    }
    Progress progress;
    Failures failures(progress);
    const QList<QByteArray> files = filesOf(args, progress, failures);
    QList<history::TagEdit> edits;
    for (const QByteArray &path : files)
        edits.append({path, changes});
    history::applyTagBatch(
        edits, QStringLiteral("set"),
        [&](qsizetype i, qsizetype total) {
            progress.show(i, total, files[i]);
            return true;
        },
        [&](const history::TagEditResult &file) {
            const tags::WriteResult &r = file.result;
            progress.clear();
            if (r.outcome == tags::WriteResult::Failed) {
                writeLine(stdout, paths::printable(file.path) + "\terror: " + r.reason.toUtf8());
                failures.add(file.path, r.reason);
            } else {
                writeLine(stdout, paths::printable(file.path)
                                      + (r.outcome == tags::WriteResult::Written ? "\twritten"
                                                                                 : "\tunchanged"));
            }
        });
    return failures.status();
}

} // namespace

int run(int argc, char **argv)
{
    const Parsed parsed = parseArgs(argc, argv);
    if (!parsed.error.isEmpty()) {
        writeLine(stderr, "dorvasu-cli: " + parsed.error.toUtf8());
        writeLine(stderr, "Try \"dorvasu-cli --help\".");
        return 2;
    }
    const Args &args = parsed.args;
    int status = 2;
    switch (args.command) {
    case Command::Help:
        std::fputs(helpText(args.helpFor).toUtf8().constData(), stdout);
        status = 0;
        break;
    case Command::Version:
        std::puts("dorvasu-cli " DORVASU_VERSION);
        status = 0;
        break;
    case Command::Names:
        status = names(args);
        break;
    case Command::Rename:
        status = rename(args);
        break;
    case Command::Undo:
        status = undo();
        break;
    case Command::Show:
        status = show(args);
        break;
    case Command::Set:
        status = set(args);
        break;
    }
    // Lines that never reached their file (a full disk) are a failure too.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        writeLine(stderr, "dorvasu-cli: standard output: " + tags::systemError(errno).toUtf8());
        return std::max(status, 1);
    }
    return status;
}

} // namespace cli
