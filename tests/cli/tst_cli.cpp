// dorvasu-cli run as a user runs it: the real executable on real files in a
// fresh folder, one row of tests/data/cli.txt each, with the rename journal
// shared with the window's own library calls.

#include <filesystem>

#include "caserows.h"
#include "id3build.h"
#include "paths.h"
#include "renamefiles.h"
#include "renamejournal.h"
#include "renamelist.h"

namespace {

// Makes a file as the table spells it: "name=ARTIST:TITLE[:ALBUM]" an MP3
// file with an ID3v2.4 tag, "name=" one without a tag, else a text file.
void make(const QByteArray &dir, const QString &form)
{
    const QByteArray path = dir + '/' + cellBytes(form.section(u'=', 0, 0));
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
        paths << dir + '/' + cellBytes(name);
    const QStringList proposed = renaming::makeRenameNames(paths);
    QList<renaming::RenameJob> jobs;
    for (qsizetype i = 0; i < paths.size(); ++i)
        jobs.append({int(i), paths[i], proposed[i]});
    renaming::RenameJournal journal;
    QVERIFY(renaming::renameFiles(jobs, &journal).failed.isEmpty());
}

void windowUndo()
{
    renaming::RenameJournal journal;
    QList<renaming::JournalEntry> batch;
    QCOMPARE(journal.load(batch), renaming::RenameJournal::Load::Loaded);
    QVERIFY(renaming::undoBatch(batch).failed.isEmpty());
    journal.clear();
}

} // namespace

class tst_Cli : public QObject {
    Q_OBJECT

private slots:
    void commands_data()
    {
        // The journal lives under this home, as the window's does under the user's.
        qputenv("HOME", QFile::encodeName(home_.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.path() + "/.config"));
        addCaseRows("cli.txt", "commands");
    }

    // The commands over many files at once (set, from-name), in cli.txt's columns.
    void batchCommands_data() { addCaseRows("cli-batch.txt", "commands"); }
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
        for (const QString &command : commands.split("; ")) {
            QStringList args = command.split(u' ');
            const QString name = args.takeFirst();
            if (name == u"window-rename") {
                windowRename(dir, args);
            } else if (name == u"window-undo") {
                windowUndo();
            } else {
                QProcess cli;
                cli.setWorkingDirectory(QFile::decodeName(dir));
                cli.start(DORVASU_CLI, QStringList{name} + args);
                QVERIFY(cli.waitForFinished(60000) && cli.exitStatus() == QProcess::NormalExit);
                gotExits << QString::number(cli.exitCode());
                gotOut += cli.readAllStandardOutput();
                gotErr += cli.readAllStandardError();
                continue;
            }
            gotExits << "-";
        }
        QCOMPARE(QString::fromUtf8(gotOut), QString(out).replace("$DIR", QFile::decodeName(dir)));
        QCOMPARE(gotExits.join(u' '), exits);
        QVERIFY2(err.isEmpty() ? gotErr.isEmpty() : gotErr.contains(err.toUtf8()), gotErr.constData());
        QCOMPARE(::files(dir), after);
    }

private:
    QTemporaryDir home_;
};

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
