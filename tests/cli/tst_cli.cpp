// dorvasu-cli run as a user runs it: the real executable on real files in a
// fresh folder, one row of tests/data/cli.txt each, with the history of
// undoable actions shared with the window's own library calls.

#include <filesystem>

#include <QJsonDocument>
#include <QJsonObject>

#include "core/history/history.h"
#include "common/id3build.h"
#include "common/table.h"
#include "core/paths/paths.h"
#include "core/history/tagbatch.h"
#include "core/tags/vbmp3.h"
#include "core/rename/renamefiles.h"
#include "core/rename/renamejournal.h"
#include "core/rename/renamelist.h"

namespace {

// Makes a file as the table spells it: "name=ARTIST:TITLE[:ALBUM]" an MP3
// file with an ID3v2.4 tag, "name=" one without a tag, else a text file.
void make(const QByteArray &dir, const QString &form)
{
    const QByteArray path = dir + '/' + table::cellBytes(form.section(u'=', 0, 0));
    std::filesystem::create_directories(paths::folderOf(path).constData());
    QByteArray content = form.toUtf8();
    if (form.contains(u'=')) {
        static const QByteArrayList ids{"TPE1", "TIT2", "TALB"};
        const QStringList fields = form.section(u'=', 1).split(u':', Qt::SkipEmptyParts);
        QByteArray frames;
        for (qsizetype i = 0; i < fields.size(); ++i)
            frames += id3build::frame(4, ids[i], '\3' + fields[i].toUtf8());
        content = (fields.isEmpty() ? QByteArray() : id3build::tag(4, frames, 64)) + testdata::audio();
    }
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    QVERIFY(fd >= 0 && ::write(fd, content.constData(), size_t(content.size())) == content.size());
    ::close(fd);
}

// The regular files under `dir`, relative, printed as the command prints paths.
QString files(const QByteArray &dir)
{
    QByteArrayList out;
    for (const auto &e : std::filesystem::recursive_directory_iterator(dir.constData())) {
        if (e.is_regular_file())
            out << paths::printable(QByteArray::fromStdString(e.path().lexically_relative(dir.constData())));
    }
    std::sort(out.begin(), out.end());
    return QString::fromUtf8(out.join(", "));
}

// The window's Rename and Undo, as frmMain calls the library.
void windowRename(const QByteArray &dir, const QStringList &names)
{
    QList<QByteArray> paths;
    for (const QString &name : names)
        paths << dir + '/' + table::cellBytes(name);
    const QStringList proposed = renaming::makeRenameNames(paths);
    QList<renaming::RenameJob> jobs;
    for (qsizetype i = 0; i < paths.size(); ++i)
        jobs.append({int(i), paths[i], proposed[i]});
    renaming::RenameJournal journal(history::newAction(history::Kind::Renames));
    QVERIFY(renaming::renameFiles(jobs, &journal).failed.isEmpty());
}

void windowUndo()
{
    const history::Undone undone = history::undoLast();
    QVERIFY(undone.what == history::Undone::Renames && undone.renames.failed.isEmpty());
}

// The window's Undo with 中止 pressed before it began: nothing is undone, and the action stays.
void windowUndoStopped()
{
    renaming::UndoProgress progress;
    progress.cancel = true;
    const history::Undone undone = history::undoLast(&progress);
    QVERIFY(undone.tagsNotTried > 0 || undone.renames.notTried > 0);
}

// The window's Update of a file's title: every field given, as its boxes hold them.
void windowUpdate(const QByteArray &path, const QString &title)
{
    QProcess show;
    show.start(DORVASU_CLI, {"show", "--json", QFile::decodeName(path)});
    QVERIFY(show.waitForFinished(60000));
    const QJsonObject f = QJsonDocument::fromJson(show.readAllStandardOutput()).object();
    const tags::FieldChanges changes{title, f["artist"].toString(), f["album"].toString(), f["year"].toString(),
                                     f["comment"].toString(), tags::genreEntry(f["genre_no"].toVariant().toString())};
    const auto written = history::applyTagBatch({{path, changes}}, "update");
    QCOMPARE(written.files.value(0).result.outcome, tags::WriteResult::Written);
}

// Runs dorvasu-cli in `dir`; its exit status.
int cli(const QByteArray &dir, const QStringList &args, QByteArray *out = nullptr, QByteArray *err = nullptr)
{
    QProcess cli;
    cli.setWorkingDirectory(QFile::decodeName(dir));
    cli.start(DORVASU_CLI, args);
    if (!cli.waitForFinished(60000) || cli.exitStatus() != QProcess::NormalExit)
        return -1;
    if (out)
        *out += cli.readAllStandardOutput();
    if (err)
        *err += cli.readAllStandardError();
    return cli.exitCode();
}

// Every regular file under `dir`: relative name -> bytes.
QMap<QByteArray, QByteArray> contents(const QByteArray &dir)
{
    QMap<QByteArray, QByteArray> out;
    for (const auto &e : std::filesystem::recursive_directory_iterator(dir.constData())) {
        if (e.is_regular_file())
            out.insert(QByteArray::fromStdString(e.path().lexically_relative(dir.constData())),
                       testdata::readAll(QString::fromStdString(e.path())));
    }
    return out;
}

} // namespace

class tst_Cli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The history lives under this home, as the window's does under the user's.
        qputenv("HOME", QFile::encodeName(home_.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.path() + "/.config"));
        vbmp3_init();
    }
    void init() { TABLE_FAIL_BROKEN_ROW(); }

    void commands_data() { table::addRows("cli.txt", "commands", {"files", "commands", "exits", "out", "err", "after"}); }
    // The commands over many files at once (set, from-name), in cli.txt's columns.
    void batchCommands_data() { table::addRows("cli-batch.txt", "commands", {"files", "commands", "exits", "out", "err", "after"}); }
    void batchCommands() { commands(); }

    // Each command of a row runs in a fresh folder holding the row's files;
    // the exit statuses, stdout and stderr of all of them, and the files
    // left, are compared with the row.
    void commands()
    {
        QFETCH(QString, files);
        QFETCH(QString, commands);
        QFETCH(QString, exits);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QString, after);
        QTemporaryDir tmp;
        const QByteArray dir = QFile::encodeName(QFileInfo(tmp.path()).canonicalFilePath());
        const auto remove = qScopeGuard([&] { std::filesystem::remove_all(dir.constData()); });   // names Qt cannot spell
        for (const QString &form : files.split(", ", Qt::SkipEmptyParts))
            make(dir, form);
        QStringList gotExits;
        QByteArray gotOut, gotErr;
        const QString history = home_.path() + "/.config/dorvasu/history";
        QFile::remove(history);
        QDir(history).removeRecursively();   // each row its own history
        for (const QString &command : commands.split("; ")) {
            QStringList args = command.split(u' ');
            const QString name = args.takeFirst();
            if (name == u"window-rename") {
                windowRename(dir, args);
            } else if (name == u"window-undo") {
                windowUndo();
            } else if (name == u"window-undo-stopped") {
                windowUndoStopped();
            } else if (name == u"block-history") {   // a file where the history's folder belongs
                testdata::writeAll(history, "x");
            } else if (name == u"change") {   // another program appends a byte
                QFile file(QFile::decodeName(dir + '/' + table::cellBytes(args.value(0))));
                QVERIFY(file.open(QIODevice::Append) && file.write("x") == 1);
            } else {
                gotExits << QString::number(cli(dir, QStringList{name} + args, &gotOut, &gotErr));
                continue;
            }
            gotExits << "-";
        }
        QCOMPARE(QString::fromUtf8(gotOut),
                 QString(out).replace("$DIR", QFile::decodeName(dir)).replace("$HOME", home_.path()));
        QCOMPARE(gotExits.join(u' '), exits);
        QVERIFY2(err.isEmpty() ? gotErr.isEmpty() : gotErr.contains(err.toUtf8()), gotErr.constData());
        QCOMPARE(::files(dir), after);
    }

    // Files with every kind of tag go through a repair, a conversion, renames
    // and tag writes, each by a new dorvasu-cli, with one Update as the
    // window makes it; then undo
    // after undo, each a new process, brings the folder back to what it was
    // before each action, byte for byte, last action first.
    void undoHistory()
    {
        QTemporaryDir tmp;
        const QByteArray dir = QFile::encodeName(QFileInfo(tmp.path()).canonicalFilePath());
        QFile::remove(home_.path() + "/.config/dorvasu/history");
        QDir(home_.path() + "/.config/dorvasu/history").removeRecursively();
        for (const table::Row &row : table::rows("cli.txt", "history", {table::expr("file")})) {
            QVERIFY2(row.error.isEmpty(), qPrintable(row.error));
            testdata::writeAll(QFile::decodeName(dir) + u'/' + row.name, row.bytes(0));
        }
        const QStringList steps{"repair -r .", "convert -r .", "set --artist Eins -r .", "rename -r .", "set --album Drei --year 1999 -r .",
                                "set --comment Vier -r .", "update", "set --artist Zwei -r .", "rename -r .",
                                "set --genre 17 -r .", "set --artist 六 -r .", "rename -r .",
                                "set --year 2001 -r .", "set --comment= -r ."};
        QList<QMap<QByteArray, QByteArray>> before;
        for (const QString &step : steps) {
            before << contents(dir);
            QByteArray out;
            if (step == u"update")
                windowUpdate(dir + '/' + before.back().firstKey(), "Neu");
            else
                QVERIFY2(cli(dir, step.split(u' '), &out) == 0, out.constData());
            QVERIFY2(contents(dir) != before.back(), qPrintable(step));
        }
        for (qsizetype i = before.size() - 1; i >= 0; --i) {
            QByteArray out;
            QVERIFY2(cli(dir, {"undo"}, &out) == 0, out.constData());
            QVERIFY2(contents(dir) == before[i], qPrintable("undo of " + steps[i] + ":\n" + out));
        }
        QByteArray err;
        QCOMPARE(cli(dir, {"undo"}, nullptr, &err), 0);
        QVERIFY(err.contains("nothing to undo"));
    }

private:
    QTemporaryDir home_;
};

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
