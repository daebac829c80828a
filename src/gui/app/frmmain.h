// The main window: the list of MP3 files, the list of their proposed names,
// the command buttons and the tag editing frame. Its start-up (Form_Load)
// brings the whole tool up and its unload (Form_Unload) shuts it down.
#pragma once

#include <QByteArray>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>

#include "core/history/history.h"
#include "core/settings/inifile_io.h"
#include "core/repair/retag.h"
#include "core/tags/taginfo.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QTimer;

namespace collection {
class EntryList;
}
namespace renaming {
class NameReader;
}
class QPushButton;

class frmMain : public QWidget {
    Q_OBJECT

public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    // Start-up: settings, window position, current folder, MP3 library,
    // genre list, copy buffer. Returns true when the window may be shown.
    // On failure the user has been told ("初期化に失敗しました。..."), the
    // window has been unloaded (settings written) and must not be shown.
    bool Form_Load();

    // Folder of the program, ending in "/"; the settings file lies there.
    QString AppFolder() const { return appFolder_; }

    // The settings object shared by the windows; created on first use,
    // released when this window unloads.
    inifile_IO &IniFile();

    // The folder from which MP3 files were last taken (exact path bytes).
    QByteArray sMP3Folder() const { return sMP3Folder_; }
    void setSMP3Folder(const QByteArray &folder) { sMP3Folder_ = folder; }

    // The exact path of lstMP3Files' entry `row` (its text is what is shown).
    QByteArray entryPath(int row) const;

    // The entries both lists show: each file's path and its proposed name.
    collection::EntryList *entries() const { return entries_; }

    // The window's position in twips, as the settings file keeps it. Until
    // the window is moved this is exactly the value read at start-up.
    float topTwips() const;
    float leftTwips() const;

    // Tests point the program folder (and with it the settings file and the
    // current folder) somewhere else; an empty text restores the default.
    static void setAppFolderForTesting(const QString &folder);

    // Gives every entry from lStartIndex to the last its proposed name (the
    // text lstRename shows for it); when the reading is cancelled, the
    // entries left without a name are taken out of the list.
    void MakeRenameList(int lStartIndex);

    // Controls, named as everywhere in the program.
    QPushButton *cmdOpen = nullptr;
    QPushButton *cmdRename = nullptr;
    QPushButton *cmdAllSel = nullptr;
    QPushButton *cmdClear = nullptr;
    QPushButton *cmdRemove = nullptr;
    QPushButton *cmdClose = nullptr;
    QListView *lstMP3Files = nullptr;
    QListView *lstRename = nullptr;
    QGroupBox *Frame1 = nullptr;
    QLineEdit *txtTrackName = nullptr;
    QLineEdit *txtArtistName = nullptr;
    QLineEdit *txtAlbumName = nullptr;
    QLineEdit *txtComment = nullptr;
    QLineEdit *txtYear = nullptr;
    QComboBox *cmbGenre = nullptr;
    QPushButton *cmdCopy = nullptr;
    QPushButton *cmdPaste = nullptr;
    QPushButton *cmdRewrite = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label6 = nullptr;

    // The tag copy buffer of Copy and Paste.
    tags::TagInfo CopyTag;

public slots:
    void cmdOpen_Click();       // Add: file selection window, then proposed names
    void cmdRename_Click();     // Rename the selected files to their proposed names
    void cmdAllSel_Click();     // Select every entry of the file list
    void cmdClear_Click();      // Empty both lists
    void cmdRemove_Click();     // Take the selected entries out of both lists
    void cmdClose_Click();
    void lstMP3Files_MouseUp(); // Enable the tag frame when exactly one file is selected
    void lstMP3Files_Click();   // Show the current file's tag in the tag frame
    void cmdRewrite_Click();    // Write the edited fields into the current file's tag
    void cmdCopy_Click();       // Copy the edited fields to the buffer and clipboard
    void cmdPaste_Click();      // Put the copy buffer back into the edit fields
    void Undo();                // Undo the last action: a Rename batch, or tags written
    void retagFiles(retag::Kind kind);   // Repair garbled text or convert to Unicode, with a preview
    void BatchEdit();           // One edit of the six fields for every selected file
    void TagsFromNames();       // Tag fields of the selected files from their names

public:
    // Appends MP3 files (exact paths) to the list as Add does: proposed
    // names, the first entry current, one click report.
    void appendFiles(const QList<QByteArray> &files);

    // Adds what a file manager dropped: files as they are, folders with
    // every MP3 file under them.
    void addDropped(const QList<QByteArray> &paths);

    // The selected rows of lstMP3Files, in the list's order.
    QList<int> selectedRows() const;

    // After tags were written or put back: the entries of `rows` get their
    // proposed names read anew, and the tag frame shows its file again when
    // it is one of them (left showing the old text, an Update would write
    // it back).
    void refreshWritten(const QList<int> &rows);

    // The folder of the history of undoable actions; tests point it elsewhere.
    static void setHistoryFolderForTesting(const QString &folder);
    // Run on the renaming thread before each file of a Rename (its number in
    // the batch), when set: tests press 中止 at a chosen file.
    static void setRenameStepForTesting(std::function<void(int)> step);

signals:
    // Emitted each time lstMP3Files' click notification is raised, right
    // before lstMP3Files_Click runs; tests count the runs with it.
    void lstMP3FilesClickRaised();

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void buildControls();
    void LoadGenreList();
    void setStartPosition(float top, float left);
    void Form_Unload();
    void afterAppend(int firstNew);
    void appendEntries(const QList<QByteArray> &files);
    void appendSome();   // the next chunk of the files waiting to go in
    // Proposed names of rows read in the background, as they come.
    void queueNames(int first, const QList<QByteArray> &files);
    void takeNames();
    int currentRow() const;   // lstMP3Files' current entry, -1 for none
    void showListMenu(const QPoint &pos);
    void refreshAfterTagUndo(const QList<history::TagUndoFile> &files);

    QString appFolder_;
    collection::EntryList *entries_ = nullptr;
    renaming::NameReader *nameReader_ = nullptr;
    QTimer *nameTake_ = nullptr;   // names read are taken at most every 50 ms
    int namesQueued_ = 0;   // the end of the rows last queued for their names
    // Files waiting to go into the list: a whole tree goes in a chunk per
    // turn of the event loop, so that the window keeps answering.
    QList<QByteArray> toAppend_;
    std::atomic<bool> appending_{false};
    std::atomic<bool> stopNames_{false};   // 中止 while names are read: no more go in
    std::unique_ptr<inifile_IO> iniFile_;
    QByteArray sMP3Folder_;

    // The position read at start-up, and where it put the window in pixels:
    // as long as the window stays there, the read values are written back
    // unchanged (no drift from rounding twips to whole pixels).
    float startTop_ = 0;
    float startLeft_ = 0;
    QPoint startPixels_;

    bool loaded_ = false;   // Form_Load has run
    bool unloaded_ = false; // Form_Unload has run

    // lstMP3Files' click notification: one user action or one command runs
    // lstMP3Files_Click at most once, after all of its changes.
    class ListClickHold;
    void lstMP3Files_Changed();        // a selection or current-entry change
    void listViewportEvent(QEvent *event);
    void raiseListClick();             // runs lstMP3Files_Click now
    void raisePendingListClick();      // ... if a change is waiting for it
    int listClickHolds_ = 0;           // commands at work on the list
    bool listClickPending_ = false;    // a change not yet reported
    bool listClickQueued_ = false;     // a report is queued for the event loop
    bool listMouseDown_ = false;       // a mouse button is down over the list
};
