#include "cli/cli.h"

#include "cli/args.h"
#include "core/tags/existence.h"
#include "core/history/history.h"
#include "core/collection/mp3tree.h"
#include "core/batch/namepattern.h"
#include "core/rename/newname.h"
#include "core/paths/paths.h"
#include "core/rename/renamefiles.h"
#include "core/rename/renamejournal.h"
#include "core/rename/renamelist.h"
#include "core/repair/retag.h"
#include "core/history/tagbatch.h"
#include "core/tags/fieldread.h"
#include "core/tags/tagfields.h"

#include <QElapsedTimer>
#include <QHash>
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
            failures.add(files[i], renaming::markerReason(files[i], names[i]));
    }
    return failures.status();
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
    QList<renaming::RenameJob> jobs;
    if (args.dryRun) {
        for (qsizetype i = 0; i < files.size(); ++i)
            jobs.append({int(i), files[i], names[i]});
        const QStringList reasons = renaming::renameCheck(jobs);
        for (qsizetype i = 0; i < files.size(); ++i)
            report(i, reasons[i]);
        return failures.status();
    }

    // The journal keeps absolute paths, so that an undo from another folder,
    // or from the window, finds the files.
    for (qsizetype i = 0; i < files.size(); ++i)
        jobs.append({int(i), absolute(files[i]), names[i]});
    renaming::RenameJournal journal(history::newAction(history::Kind::Renames));
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
        const QString reason = QStringLiteral("the rename journal in %1 cannot be written; nothing was renamed")
                                   .arg(history::folder());
        for (qsizetype i = 0; i < files.size(); ++i)
            report(i, reason);
        return failures.status();
    }
    QHash<int, QString> reasons;
    for (const auto &failure : std::as_const(result.failures))
        reasons.insert(failure.job, renaming::failureReason(jobs[failure.job], failure.error));
    for (qsizetype i = 0; i < files.size(); ++i)
        report(i, reasons.value(int(i)));
    return failures.status();
}

int undo()
{
    Progress progress;
    Failures failures(progress);
    const history::Undone undo = history::undoLast();
    switch (undo.what) {
    case history::Undone::Nothing:
        writeLine(stderr, "dorvasu-cli: nothing to undo");
        return 0;
    case history::Undone::Damaged:
        failures.add(undo.journal.toUtf8(), QStringLiteral("the journal is damaged; nothing was undone"));
        return failures.status();
    case history::Undone::Tags:
        for (const history::TagUndoFile &file : undo.tags) {
            writeLine(stdout, paths::printable(file.path)
                                  + (file.error.isEmpty() ? "\tput back" : "\terror: " + file.error.toUtf8()));
            if (!file.error.isEmpty())
                failures.add(file.path, file.error);
        }
        return failures.status();
    case history::Undone::Renames:
        break;
    }
    const renaming::UndoResult &result = undo.renames;
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
        if (!tags::fileExists(path)) {
            failures.add(path, tags::missingReason(path));
            continue;
        }
        const tags::FileFields read = tags::readFields(path);
        if (read.outcome != tags::FileFields::Read) {
            failures.add(path, read.reason);
            continue;
        }
        const tags::TagFieldTexts t = tags::shownTexts(read);
        const QString genre = tags::shownGenre(read).GenreName;
        const QList<std::pair<const char *, QString>> fields{
            {"title", t.TrackName}, {"artist", t.ArtistName}, {"album", t.AlbumName},
            {"year", t.Year},       {"comment", t.Comment},   {"genre", genre}};
        QByteArray out;
        if (args.json) {
            out = "{\"path\": " + json(QString::fromUtf8(paths::printable(path)));
            for (const auto &[key, value] : fields)
                out += ", \"" + QByteArray(key) + "\": " + json(value);
            out += ", \"genre_no\": " + QByteArray::number(read.genreNo) + '}';
        } else {
            out = paths::printable(path);
            for (const auto &[key, value] : fields)
                out += "\n  " + QByteArray(key) + ": " + paths::printable(value.toUtf8());
            if (!genre.isEmpty())
                out += " (" + QByteArray::number(read.genreNo) + ')';
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

// repair and convert: the rows of every file, then, without --dry-run, one
// batch of tag writes; a file's rows are printed once it is written.
int retagFiles(const Args &args, retag::Kind kind)
{
    Progress progress;
    Failures failures(progress);
    const QList<QByteArray> files = filesOf(args, progress, failures);
    retag::PlanProgress state;
    QList<retag::FilePlan> plans;
    progress.watch([&] { plans = retag::planFiles(kind, files, &state); },
                   [&] { progress.show(state.done.load(), files.size(), state.current.get()); });
    const bool repair = kind == retag::Kind::Repair;
    QList<retag::Row> rows;
    QHash<QByteArray, QList<retag::Row>> rowsOf;
    for (qsizetype i = 0; i < plans.size(); ++i) {
        if (!plans[i].error.isEmpty())
            failures.add(files[i], plans[i].error);
        for (const retag::Row &row : std::as_const(plans[i].rows)) {
            if (!row.sure) {
                progress.clear();
                writeLine(stderr, "dorvasu-cli: " + paths::printable(row.path) + ": " + retag::fieldKey(row.field).toUtf8()
                                      + ": its code page is a close call (" + row.storedNow.toUtf8()
                                      + "); left as it is");
                continue;
            }
            rows.append(row);
            rowsOf[row.path].append(row);
        }
    }
    const auto print = [&](const QList<retag::Row> &done) {
        progress.clear();
        for (const retag::Row &row : done) {
            const QString key = retag::fieldKey(row.field);
            if (args.json)
                writeLine(stdout, "{\"path\": " + json(QString::fromUtf8(paths::printable(row.path)))
                                      + ", \"field\": " + json(key) + ", \"text\": " + json(row.now)
                                      + (repair ? ", \"repaired\": " : ", \"converted\": ") + json(row.after) + '}');
            else
                writeLine(stdout, paths::printable(row.path) + '\t' + key.toUtf8() + '\t'
                                      + paths::printable(row.now.toUtf8()) + '\t'
                                      + paths::printable(repair ? row.after.toUtf8()
                                                                : (row.storedNow + QStringLiteral(" -> ") + row.storedAfter).toUtf8()));
        }
    };
    if (args.dryRun) {
        print(rows);
        return failures.status();
    }
    const QList<history::TagEdit> edits = retag::editsFor(kind, rows);
    history::applyTagBatch(
        edits, retag::batchLabel(kind),
        [&](qsizetype i, qsizetype total) {
            progress.show(i, total, edits[i].path);
            return true;
        },
        [&](const history::TagEditResult &file) {
            if (file.result.outcome == tags::WriteResult::Failed)
                failures.add(file.path, file.result.reason);
            else
                print(rowsOf.value(file.path));
        });
    return failures.status();
}

// The fields a name gave, as "key=value" cells or as a JSON object, in the
// order of the tag record.
QByteArray fieldsText(const tags::FieldChanges &f, bool asJson)
{
    const std::pair<const char *, const std::optional<QString> *> fields[] = {
        {"title", &f.title}, {"artist", &f.artist}, {"album", &f.album}, {"year", &f.year}, {"comment", &f.comment}};
    QByteArrayList cells;
    for (const auto &[key, value] : fields) {
        if (*value)
            cells << (asJson ? '"' + QByteArray(key) + "\": " + json(**value)
                             : QByteArray(key) + '=' + paths::printable((*value)->toUtf8()));
    }
    return asJson ? "{" + cells.join(", ") + '}' : cells.join('\t');
}

int fromName(const Args &args)
{
    const batch::NamePattern pattern(args.pattern.value_or(batch::kDefaultNamePattern));
    if (!pattern.valid()) {
        writeLine(stderr, "dorvasu-cli: --pattern: " + pattern.error().toUtf8());
        return 2;
    }
    Progress progress;
    Failures failures(progress);
    const QList<QByteArray> files = filesOf(args, progress, failures);
    // The files whose names match and that exist are written, as one batch.
    QList<batch::NameFields> matches;
    QList<QString> outcomes(files.size());   // "written", "unchanged", "error: ..."
    QList<history::TagEdit> edits;
    QList<qsizetype> fileOf;   // the file of each edit
    for (qsizetype i = 0; i < files.size(); ++i) {
        matches.append(pattern.matchPath(files[i]));
        if (!matches[i].matched) {
            failures.add(files[i], QStringLiteral("the name does not match \"%1\"").arg(pattern.text()));
        } else if (!tags::fileExists(files[i])) {
            outcomes[i] = QStringLiteral("error: ") + tags::missingReason(files[i]);
        } else {
            edits.append({files[i], matches[i].fields});
            fileOf.append(i);
        }
    }
    if (!args.dryRun) {
        qsizetype done = 0;
        history::applyTagBatch(
            edits, QStringLiteral("from-name"),
            [&](qsizetype i, qsizetype total) {
                progress.show(i, total, edits[i].path);
                return true;
            },
            [&](const history::TagEditResult &file) {
                const tags::WriteResult &r = file.result;
                outcomes[fileOf[done++]] = r.outcome == tags::WriteResult::Written     ? QStringLiteral("written")
                                           : r.outcome == tags::WriteResult::Unchanged ? QStringLiteral("unchanged")
                                                                                       : QStringLiteral("error: ") + r.reason;
            });
        progress.clear();
    }
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QByteArray path = paths::printable(files[i]);
        if (outcomes[i].startsWith(u'e'))
            failures.add(files[i], outcomes[i].mid(7));
        if (args.json) {
            writeLine(stdout, "{\"path\": " + json(QString::fromUtf8(path))
                                  + (matches[i].matched ? ", \"fields\": " + fieldsText(matches[i].fields, true)
                                                        : QByteArray(", \"match\": false"))
                                  + '}');
        } else {
            QByteArray line = path + '\t' + (matches[i].matched ? fieldsText(matches[i].fields, false) : "no match");
            if (!outcomes[i].isEmpty())
                line += '\t' + outcomes[i].toUtf8();
            writeLine(stdout, line);
        }
    }
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
    case Command::Repair:
    case Command::Convert:
        status = retagFiles(args, args.command == Command::Repair ? retag::Kind::Repair : retag::Kind::Convert);
        break;
    case Command::FromName:
        status = fromName(args);
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
