// The file selection window: browse drives, folders and MP3 files, hand
// the chosen files to the main window, and keep a history of up to ten
// folders in which files were added. Double-clicking a file plays it in the
// player window.
//
// Shown modally with exec() from the main window's Add button, built anew
// each time and deleted after it has closed. The window knows nothing of the
// main window itself: the constructor hands it the shared MP3 folder, the
// settings object, and the main window's position and icon; each Add emits
// filesChosen, which the main window appends to its list.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QHash>
#include <QIcon>
#include <QString>

#include "core/collection/folderhistory.h"

class QComboBox;
class QListWidget;
class QPushButton;
class QTreeView;
class inifile_IO;

namespace collection {
class FolderTreeModel;
}

class frmFileSelect : public QDialog {
    Q_OBJECT

public:
    // sMP3Folder: the shared current MP3 folder, read at opening and changed
    //   by Add and by choosing a history entry.
    // mainTop, mainLeft: the main window's position in twips; the window
    //   opens 100 twips below and right of it unless the settings say where.
    // appFolder: the program's folder, used when sMP3Folder names no folder.
    // The window loads (Form_Load) as it is built.
    frmFileSelect(QByteArray &sMP3Folder, inifile_IO &iniFile,
                  float mainTop, float mainLeft, const QIcon &mainIcon,
                  const QString &appFolder, QWidget *parent = nullptr);
    ~frmFileSelect() override;

    // Closing by any way (閉じる, Esc, close box) unloads the window once.
    void done(int result) override;

    // The folder the folder list shows, whose MP3 files File1 lists.
    QByteArray dirPath() const { return dirPath_; }

    // The folder tree's model.
    collection::FolderTreeModel *folderTree() const { return dirModel_; }

    // The folder's menu entry "サブフォルダーも含めて追加": hands over every
    // MP3 file under `folder` (subfolders included) as 追加 hands over the
    // chosen files, and keeps the folder in the history as 追加 does.
    void addFolderTree(const QByteArray &folder);

signals:
    // Add (or adding a folder tree) chose these files, exact paths in list
    // order, to be appended to the end of the main window's list; emitted
    // also when none is chosen.
    void filesChosen(const QList<QByteArray> &files);

public:
    // Controls, named as everywhere in the program.
    QComboBox *Drive1 = nullptr;
    QTreeView *Dir1 = nullptr;
    QListWidget *File1 = nullptr;
    QPushButton *cmdAddFiles = nullptr;
    QPushButton *cmdCancel = nullptr;
    QComboBox *cmbDirList = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void fillDriveList();
    void Form_Load();
    void Form_Unload();
    void Drive1_Change();
    void Dir1_Change();
    void cmbDirList_Click();
    void cmdAddFiles_Click();
    void rememberFolder();          // sMP3Folder into the history, as 追加 keeps it
    void cmdCancel_Click();
    void File1_DblClick();

    // Shows `root` in Drive1 without running Drive1_Change; a volume the
    // list lacks is added to it.
    void showDrive(const QByteArray &root);
    // Makes `folder` the folder list's folder and runs Dir1_Change.
    void setDirPath(const QByteArray &folder);
    // Puts the tree's current item on the folder list's folder.
    void showDirInTree();
    void scrollToCurrentFolder();
    void dirTreeCurrentChanged();
    // Shows `folder` as the last entry of cmbDirList, which shows history_.
    void addHistoryEntry(const QByteArray &folder);

    QByteArray &sMP3Folder_;
    inifile_IO &iniFile_;
    float mainTop_;
    float mainLeft_;
    QIcon mainIcon_;
    QByteArray appFolder_;

    collection::FolderTreeModel *dirModel_ = nullptr;
    collection::FolderHistory history_; // the folders cmbDirList shows, in its order

    QByteArray sLastDrive;                      // drive whose folders were last shown
    QByteArray dirPath_;                        // Dir1's folder (and File1's)
    QHash<QByteArray, QByteArray> driveFolder_; // working folder of each drive
    bool syncingTree_ = false;
    bool keepCurrentInView_ = false; // until the user scrolls the tree
    bool unloaded_ = false;
};
