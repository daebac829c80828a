#include "gui/fileselect/frmfileselect.h"

#include "core/tags/vbmp3.h"

#include "gui/fileselect/folderlistcombo.h"
#include "core/collection/folders.h"
#include "core/collection/foldertreemodel.h"
#include "gui/player/frmplay.h"
#include "gui/ui/keyboardfocus.h"
#include "core/collection/mp3tree.h"
#include "gui/ui/progressrun.h"
#include "core/settings/inifile_io.h"
#include "core/paths/paths.h"
#include "gui/ui/twips.h"
#include "gui/ui/waitcursor.h"
#include "gui/ui/windowposition.h"

#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTreeView>

#include <algorithm>
#include <utility>

namespace {

const QString kPosition = QStringLiteral("Position");
const QString kFileTop = QStringLiteral("FileTop");
const QString kFileLeft = QStringLiteral("FileLeft");
} // namespace

frmFileSelect::frmFileSelect(QByteArray &sMP3Folder, inifile_IO &iniFile, float mainTop, float mainLeft,
                             const QIcon &mainIcon, const QString &appFolder, QWidget *parent)
    : QDialog(parent),
      sMP3Folder_(sMP3Folder),
      iniFile_(iniFile),
      mainTop_(mainTop),
      mainLeft_(mainLeft),
      mainIcon_(mainIcon),
      appFolder_(QFile::encodeName(appFolder))
{
    buildControls();
    Form_Load();
}

frmFileSelect::~frmFileSelect()
{
    if (!unloaded_)
        Form_Unload();
}

void frmFileSelect::buildControls()
{
    setObjectName(QStringLiteral("frmFileSelect"));
    setWindowTitle(QStringLiteral("MP3リスト"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(ui::twipsSize(6105, 6600));
    setSizeGripEnabled(false);

    Drive1 = new QComboBox(this);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Drive1->setGeometry(ui::twipsRect(120, 120, 2295, 300));
    Drive1->setEditable(false);

    dirModel_ = new collection::FolderTreeModel(this);

    Dir1 = new QTreeView(this);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setGeometry(ui::twipsRect(120, 480, 2295, 5550));
    Dir1->setModel(dirModel_);
    Dir1->setHeaderHidden(true);
    Dir1->setUniformRowHeights(true); // folders of many thousands stay quick
    Dir1->setSelectionMode(QAbstractItemView::SingleSelection);
    Dir1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Dir1->setAnimated(false);
    Dir1->setIndentation(ui::twipsToPixels(180));
    Dir1->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    Dir1->header()->setStretchLastSection(false);

    File1 = new QListWidget(this);
    File1->setObjectName(QStringLiteral("File1"));
    File1->setGeometry(ui::twipsRect(2520, 120, 3555, 5850));
    File1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    File1->setUniformItemSizes(true);
    File1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    File1->setToolTip(QStringLiteral("ダブルクリックで再生"));
    QPalette filePalette = File1->palette();
    filePalette.setColor(QPalette::Base, QColor(0, 0, 192));
    filePalette.setColor(QPalette::Text, QColor(255, 128, 255));
    File1->setPalette(filePalette);

    cmdAddFiles = new QPushButton(QStringLiteral("追加"), this);
    cmdAddFiles->setObjectName(QStringLiteral("cmdAddFiles"));
    cmdAddFiles->setGeometry(ui::twipsRect(2520, 6060, 1695, 375));
    cmdAddFiles->setDefault(true);

    cmdCancel = new QPushButton(QStringLiteral("閉じる"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setGeometry(ui::twipsRect(4380, 6060, 1635, 375));

    cmbDirList = new fileselect::FolderListCombo(this);
    cmbDirList->setObjectName(QStringLiteral("cmbDirList"));
    cmbDirList->setGeometry(ui::twipsRect(120, 6180, 2355, 300));
    cmbDirList->setEditable(false);
    cmbDirList->setInsertPolicy(QComboBox::InsertAtBottom);
    cmbDirList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

    setTabOrder(Drive1, Dir1);
    setTabOrder(Dir1, File1);
    setTabOrder(File1, cmdAddFiles);
    setTabOrder(cmdAddFiles, cmdCancel);
    setTabOrder(cmdCancel, cmbDirList);
    ui::showKeyboardFocus(this);

    fillDriveList();

    connect(Drive1, &QComboBox::currentIndexChanged, this, [this] { Drive1_Change(); });
    connect(Dir1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { dirTreeCurrentChanged(); });
    // The tree fills itself in the background, moving the current folder's
    // item down as folders above it come in: keep it in view until the user
    // scrolls the tree.
    const auto keepInView = [this] {
        if (keepCurrentInView_)
            scrollToCurrentFolder();
    };
    connect(dirModel_, &QAbstractItemModel::rowsInserted, this, keepInView);
    connect(Dir1->verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this] { keepCurrentInView_ = false; });
    Dir1->viewport()->installEventFilter(this);
    connect(cmbDirList, &QComboBox::activated, this, [this] { cmbDirList_Click(); });
    connect(cmdAddFiles, &QPushButton::clicked, this, [this] { cmdAddFiles_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    connect(File1, &QListWidget::itemDoubleClicked, this, [this] { File1_DblClick(); });
    // A folder's menu (right button or the Menu key) adds it whole.
    Dir1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Dir1, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        QModelIndex index = Dir1->indexAt(pos);
        if (!index.isValid())
            index = Dir1->currentIndex();
        const QByteArray folder = dirModel_->folderPath(index);
        if (folder.isEmpty())
            return;
        QMenu menu(this);
        menu.addAction(QStringLiteral("サブフォルダーも含めて追加"), this,
                       [this, folder] { addFolderTree(folder); });
        menu.exec(Dir1->viewport()->mapToGlobal(index.isValid() && !Dir1->indexAt(pos).isValid()
                                                    ? Dir1->visualRect(index).center()
                                                    : pos));
    });
}

void frmFileSelect::fillDriveList()
{
    const QSignalBlocker block(Drive1);
    Drive1->clear();
    for (const collection::Volume &volume : collection::userVolumes())
        Drive1->addItem(volume.label, volume.root);
}

void frmFileSelect::Form_Load()
{
    setWindowIcon(mainIcon_);

    // Position: stored in twips; unreadable text falls back to the default
    // beside the main window, and a spot off every screen is brought back.
    const float top = ui::positionFromText(iniFile_.ReadStr(kPosition, kFileTop, QString()))
                          .value_or(mainTop_ + 100);
    const float left = ui::positionFromText(iniFile_.ReadStr(kPosition, kFileLeft, QString()))
                           .value_or(mainLeft_ + 100);
    move(ui::keepOnScreen(
        QPoint(ui::positionToPixels(left), ui::positionToPixels(top)), size()));

    QByteArray folder = paths::normalFolder(sMP3Folder_);
    if (!paths::isUsableFolder(folder))
        folder = paths::normalFolder(appFolder_);
    sMP3Folder_ = folder;

    const QByteArray drive = collection::driveOf(folder);
    showDrive(drive);
    sLastDrive = drive;
    setDirPath(folder);
    driveFolder_.insert(drive, folder);

    cmbDirList->clear();
    history_.load(iniFile_);
    for (const QByteArray &entryFolder : history_.folders())
        addHistoryEntry(entryFolder);
    const int matching = history_.indexOf(sMP3Folder_);
    cmbDirList->setCurrentIndex(matching);
    if (matching >= 0)
        cmbDirList_Click();
}

void frmFileSelect::done(int result)
{
    if (!unloaded_)
        Form_Unload();
    QDialog::done(result);
}

void frmFileSelect::Form_Unload()
{
    unloaded_ = true;
    iniFile_.WriteStr(kPosition, kFileTop,
                      ui::positionToText(float(ui::pixelsToTwips(pos().y()))));
    iniFile_.WriteStr(kPosition, kFileLeft,
                      ui::positionToText(float(ui::pixelsToTwips(pos().x()))));
    history_.save(iniFile_);
}

void frmFileSelect::showDrive(const QByteArray &root)
{
    int index = Drive1->findData(root);
    const QSignalBlocker block(Drive1);
    if (index < 0) {
        Drive1->addItem(paths::display(root), root);
        index = Drive1->count() - 1;
    }
    Drive1->setCurrentIndex(index);
    if (dirModel_->driveRoot() != root) {
        const bool wasSyncing = std::exchange(syncingTree_, true);
        dirModel_->setDriveRoot(root);
        syncingTree_ = wasSyncing;
    }
}

void frmFileSelect::Drive1_Change()
{
    const QByteArray drive = Drive1->currentData().toByteArray();
    QByteArray folder = driveFolder_.value(drive);
    if (!paths::isUsableFolder(folder))
        folder = drive;
    if (!paths::isUsableFolder(folder)) {
        // No medium, or the volume is gone: back to the drive shown before,
        // silently; the folder list stays where it was.
        const QSignalBlocker block(Drive1);
        Drive1->setCurrentIndex(Drive1->findData(sLastDrive));
        return;
    }
    sLastDrive = drive;
    showDrive(drive);
    setDirPath(folder);
}

void frmFileSelect::setDirPath(const QByteArray &folder)
{
    const QByteArray path = paths::normalFolder(folder);
    if (path == dirPath_) {
        showDirInTree();
        return;
    }
    dirPath_ = path;
    showDirInTree();
    Dir1_Change();
}

void frmFileSelect::showDirInTree()
{
    const QModelIndex index = dirModel_->reveal(dirPath_);
    if (!index.isValid())
        return;
    const bool wasSyncing = std::exchange(syncingTree_, true);
    for (QModelIndex up = index; up.isValid() && up != Dir1->rootIndex(); up = up.parent())
        Dir1->expand(up);
    Dir1->setCurrentIndex(index);
    scrollToCurrentFolder();
    keepCurrentInView_ = true;
    syncingTree_ = wasSyncing;
}

void frmFileSelect::scrollToCurrentFolder()
{
    // Centred vertically; horizontally the tree stays at its left edge, where
    // the way down from the root is seen.
    Dir1->scrollTo(Dir1->currentIndex(), QAbstractItemView::PositionAtCenter);
    Dir1->horizontalScrollBar()->setValue(0);
}

bool frmFileSelect::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Dir1->viewport()) {
        // The right button opens the folder's menu and nothing else: were it
        // to make the folder current, the tree would scroll to it and the
        // menu would then act on whatever folder came under the pointer.
        const auto type = event->type();
        if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease
             || type == QEvent::MouseButtonDblClick)
            && static_cast<QMouseEvent *>(event)->button() == Qt::RightButton)
            return true;
    }
    if (watched == Dir1->viewport()
        && (event->type() == QEvent::Wheel || event->type() == QEvent::MouseButtonPress))
        keepCurrentInView_ = false;
    return QDialog::eventFilter(watched, event);
}

void frmFileSelect::dirTreeCurrentChanged()
{
    if (syncingTree_)
        return;
    const QModelIndex current = Dir1->currentIndex();
    if (!current.isValid())
        return;
    const QByteArray path = paths::normalFolder(dirModel_->folderPath(current));
    if (path.isEmpty() || path == dirPath_)
        return;
    // Chosen in the tree itself, which is already on it: the tree must not
    // scroll now, or a click's release would land on whatever row came
    // under the pointer, and highlight that one instead.
    dirPath_ = path;
    Dir1_Change();
}

void frmFileSelect::Dir1_Change()
{
    // The file list fills at once; a folder of very many entries, or one on
    // a slow share, takes a moment.
    const ui::WaitCursor wait;
    // Listing a folder also clears away what killed tag writes left in it.
    mp3lib::removeLeftoverCopies(dirPath_.constData());
    File1->clear();
    const QList<collection::Entry> files = collection::mp3FilesIn(dirPath_);
    QStringList shown;
    shown.reserve(files.size());
    for (const collection::Entry &file : files)
        shown.append(file.shown);
    File1->addItems(shown);
    for (int row = 0; row < files.size(); ++row)
        File1->item(row)->setData(paths::kPathRole, files[row].name);
}

void frmFileSelect::addHistoryEntry(const QByteArray &folder)
{
    cmbDirList->addItem(paths::display(folder));
}

void frmFileSelect::cmbDirList_Click()
{
    const int index = cmbDirList->currentIndex();
    if (index < 0)
        return;
    const QByteArray folder = history_.folders().at(index);
    const QByteArray drive = collection::driveOf(folder);
    if (!paths::isUsableFolder(folder)) {
        // The folder vanished (or its volume went away) since the window
        // opened: nothing changes, and the history shows again the entry of
        // the folder on view, if it has one.
        cmbDirList->setCurrentIndex(history_.indexOf(dirPath_));
        return;
    }
    sMP3Folder_ = folder;
    showDrive(drive);
    sLastDrive = drive;
    setDirPath(folder);
    driveFolder_.insert(drive, folder);
}

void frmFileSelect::cmdAddFiles_Click()
{
    const ui::WaitCursor wait;
    sMP3Folder_ = dirPath_;

    // Selected rows in list order, from the selection's ranges.
    QList<int> rows;
    const QItemSelection selection = File1->selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QList<QByteArray> files;
    files.reserve(rows.size());
    for (int row : rows) {
        const QListWidgetItem *item = File1->item(row);
        files.append(paths::join(dirPath_, paths::entryPath(item->data(paths::kPathRole), item->text())));
    }
    emit filesChosen(files);
    rememberFolder();
}

void frmFileSelect::rememberFolder()
{
    if (history_.add(sMP3Folder_)) {
        addHistoryEntry(sMP3Folder_);
        cmbDirList->setCurrentIndex(cmbDirList->count() - 1);
        cmbDirList_Click();
    }
    if (history_.dropOldestIfOverfull())
        cmbDirList->removeItem(0);
}

void frmFileSelect::addFolderTree(const QByteArray &folder)
{
    collection::WalkProgress walk;
    QList<QByteArray> files;
    ui::runWithProgress(
        this, QStringLiteral("フォルダーから MP3 ファイルを探しています…"),
        [&] { files = collection::mp3FilesUnder({folder}, &walk); },
        [&] { return ui::ProgressState{walk.found.load(), 0, paths::display(walk.current.get())}; },
        &walk.cancel);
    if (walk.cancel.load())
        return;   // cancelled: nothing is added
    emit filesChosen(files);
    // The folder goes into the history as Add puts it there.
    sMP3Folder_ = folder;
    rememberFolder();
}

void frmFileSelect::cmdCancel_Click()
{
    reject();
}

void frmFileSelect::File1_DblClick()
{
    const QListWidgetItem *item = File1->currentItem();
    if (!item)
        return;
    frmPLay player(this);
    player.sPlayFile = paths::join(dirPath_, paths::entryPath(item->data(paths::kPathRole), item->text()));
    if (!player.MP3_Play())
        return;
    const QPoint centre = frameGeometry().center();
    player.move(centre - QPoint(player.width() / 2, player.height() / 2));
    player.exec();
}
