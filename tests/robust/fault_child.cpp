// One write in a process of its own, for the tests that fail its system calls
// (faultshim) or kill it:
//   fault_child tag PATH          writes a fixed tag with vbmp3_setTagInfo
//   fault_child read PATH         reads the tag and prints the record in hex
//   fault_child ini PATH VALUE    stores VALUE under Folder/MP3 with WriteStr
//   fault_child ini-loop PATH     prints "go", then stores Loop/Counter = 1, 2, ... until killed
//   fault_child rename|undo|settle ROUTE JOURNAL FOLDER
//                                 on the rename route named ("native", "link", "reservation"):
//                                 renames c1.mp3 to c2.mp3, c0.mp3 to c1.mp3 and a.mp3 to A.mp3 in
//                                 FOLDER, with c1.mp3 in the list a second time (it is renamed
//                                 once); undoes the batch of JOURNAL; or settles it, as at start-up
//   fault_child tags|tagundo HISTORY FOLDER
//                                 writes a title into FOLDER's a.mp3 and b.mp3 as one batch of the
//                                 history in HISTORY; or undoes the history's last action
// Exit status: 0 written (read), 1 the write (read) reported failure, 2 bad arguments.

#include "core/history/history.h"
#include "core/settings/inifile_io.h"
#include "core/history/tagbatch.h"
#include "core/rename/renamefiles.h"
#include "core/rename/renamejournal.h"
#include "core/tags/taginfo.h"
#include "core/tags/vbmp3.h"

#include <cstdio>

namespace {

int renames(const QByteArray &what, char **argv)
{
    using namespace renaming;
    const QByteArray route = argv[2];
    forceRouteForTesting(route == "link" ? Route::Link : route == "reservation" ? Route::Reservation : Route::Native);
    const QString journalPath = QString::fromLocal8Bit(argv[3]);
    RenameJournal journal(journalPath);
    if (what == "settle") {
        settleJournal(journalPath);
        return 0;
    }
    if (what == "undo") {
        QList<JournalEntry> batch;
        if (journal.load(batch) != RenameJournal::Load::Loaded || !journal.reopen())
            return 1;
        const UndoResult result = undoBatch(batch, &journal);
        journal.clear();
        return result.failed.isEmpty() && result.gone == 0 ? 0 : 1;
    }
    QList<RenameJob> jobs;
    for (const auto &[from, to] : {std::pair{"c1.mp3", "c2.mp3"}, {"c0.mp3", "c1.mp3"}, {"a.mp3", "A.mp3"}, {"c1.mp3", "c2.mp3"}})
        jobs.append({int(jobs.size()), QByteArray(argv[4]) + '/' + from, QString::fromLatin1(to)});
    const RenameResult result = renameFiles(jobs, &journal);
    return result.failed.isEmpty() && !result.journalFailed ? 0 : 1;
}

int tagBatch(const QByteArray &what, char **argv)
{
    history::setFolderForTesting(QString::fromLocal8Bit(argv[2]));
    if (what == "tagundo") {
        const history::Undone undone = history::undoLast();
        return std::all_of(undone.tags.begin(), undone.tags.end(),
                           [](const history::TagUndoFile &f) { return f.error.isEmpty(); })
                   ? 0
                   : 1;
    }
    vbmp3_init();
    tags::FieldChanges changes;
    changes.title = QStringLiteral("A title longer than the old one");
    const QByteArray folder(argv[3]);
    const history::TagBatchResult r = history::applyTagBatch({{folder + "/a.mp3", changes}, {folder + "/b.mp3", changes}}, "kill");
    return r.journalFailed ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    const QByteArray what = argc >= 3 ? argv[1] : "";
    if ((what == "rename" || what == "undo" || what == "settle") && argc >= 5)
        return renames(what, argv);
    if ((what == "tags" || what == "tagundo") && argc >= 4)
        return tagBatch(what, argv);
    mp3lib::TagInfoWire wire{};
    inifile_IO ini;
    ini.setFileName(argc >= 3 ? QString::fromLocal8Bit(argv[2]) : QString());
    if (what == "tag" || what == "read")
        vbmp3_init();
    if (what == "tag") {
        tags::TagInfo tag;
        const auto field = [](const char *s) { return tags::fitFieldWithNul(QString(s), tags::kTextWidth); };
        tag.TrackName = field("A title longer than the old one");
        tag.ArtistName = field("歌手");
        tag.AlbumName = field("Album");
        tag.Year = tags::fitFieldWithNul(QStringLiteral("2024"), tags::kYearWidth);
        tag.Comment = field("コメント");
        tag.GenreNo = 17;
        wire = tag.toWire();
        return vbmp3_setTagInfo(argv[2], wire, 0, 1) ? 0 : 1;
    }
    if (what == "read") {
        if (!vbmp3_getFileTagInfo(argv[2], wire))
            return 1;
        std::printf("%s\n", QByteArray(reinterpret_cast<const char *>(&wire), sizeof wire).toHex().constData());
        return 0;
    }
    if (what == "ini" && argc >= 4)
        return ini.WriteStr("Folder", "MP3", QString::fromLocal8Bit(argv[3])) ? 0 : 1;
    if (what != "ini-loop")
        return 2;
    std::printf("go\n");
    std::fflush(stdout);
    for (long n = 1;; ++n)   // values of changing length: the file grows and shrinks
        ini.WriteStr("Loop", "Counter", QString::number(n) + QString(int(n % 300), u'x'));
}
