#include "gui/app/frmmain.h"

#include "gui/ui/collectionlistview.h"
#include "gui/ui/japanesefont.h"
#include "gui/ui/keyboardfocus.h"

#include <QApplication>
#include <QKeySequence>
#include <QMouseEvent>
#include <QShortcut>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QTimer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <algorithm>
#include <exception>

#include "core/collection/entrylist.h"
#include "core/history/history.h"
#include "gui/ui/messagebox.h"
#include "core/paths/paths.h"
#include "core/rename/namereader.h"
#include "core/rename/renamejournal.h"
#include "core/tags/tagfields.h"
#include "gui/ui/windowposition.h"
#include "gui/ui/twips.h"
#include "core/tags/vbmp3.h"

// Resources live in the static app library; the linker keeps them only when
// something refers to them.
static void initAppResources() { Q_INIT_RESOURCE(appicons); }

namespace {

QString &appFolderOverride()
{
    static QString folder;
    return folder;
}

// Rows the lists lay out per turn of the event loop.
constexpr int kLayoutBatch = 5000;

const QColor kTeal(0, 128, 128);
const QColor kLightYellow(255, 255, 192);
const QColor kPaleYellow(255, 255, 128);

enum class DisabledText { Keep, Grey };

// Background and text colour of a control. The background stays in every
// state; the text either keeps its colour when disabled (the lists, which
// must stay readable: the proposed-name list is display-only and disabled
// from the start) or greys like any disabled control's (the edit fields).
void setColours(QWidget *w, QPalette palette, QPalette::ColorRole backRole,
                const QColor &back, QPalette::ColorRole textRole, const QColor &text,
                DisabledText disabledText)
{
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, backRole, back);
        if (group != QPalette::Disabled || disabledText == DisabledText::Keep)
            palette.setColor(group, textRole, text);
    }
    w->setPalette(palette);
}

QIcon appIcon()
{
    initAppResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/dorvasu-64.png"));
    icon.addFile(QStringLiteral(":/icons/dorvasu-256.png"));
    return icon;
}

} // namespace

frmMain::frmMain(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    ui::useRegularJapaneseFallback();
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(ui::kAppTitle);
    const QIcon icon = appIcon();
    setWindowIcon(icon);
    QApplication::setWindowIcon(icon); // the other windows take the same icon
    setFixedSize(ui::twipsSize(6135, 6645));
    buildControls();
}

frmMain::~frmMain()
{
    // A window destroyed without being closed still releases the library
    // and keeps its settings.
    if (loaded_ && !unloaded_)
        Form_Unload();
}

void frmMain::setAppFolderForTesting(const QString &folder) { appFolderOverride() = folder; }

inifile_IO &frmMain::IniFile()
{
    if (!iniFile_)
        iniFile_ = std::make_unique<inifile_IO>();
    return *iniFile_;
}

void frmMain::buildControls()
{
    auto button = [this](QPushButton *&b, const char *name, const QString &caption,
                         const QString &tip, QWidget *parent, QRect rect) {
        b = new QPushButton(caption, parent);
        b->setObjectName(QLatin1String(name));
        b->setToolTip(tip);
        b->setAutoDefault(true); // Enter and the keypad's Enter press it, as Space does
        b->setGeometry(rect);
    };

    button(cmdOpen, "cmdOpen", QStringLiteral("Add"), QStringLiteral("ファイルを追加"), this,
           ui::twipsRect(60, 120, 915, 375));
    button(cmdRename, "cmdRename", QStringLiteral("Rename"),
           QStringLiteral("選択ファイル名の変更"), this, ui::twipsRect(1080, 120, 915, 375));
    button(cmdAllSel, "cmdAllSel", QStringLiteral("Select All"), QStringLiteral("全てを選択"),
           this, ui::twipsRect(2100, 120, 915, 375));
    button(cmdClear, "cmdClear", QStringLiteral("Clear"), QStringLiteral("全て消去"), this,
           ui::twipsRect(3120, 120, 915, 375));
    button(cmdRemove, "cmdRemove", QStringLiteral("Remove"),
           QStringLiteral("選択ファイルを消去"), this, ui::twipsRect(4140, 120, 915, 375));
    button(cmdClose, "cmdClose", QStringLiteral("Close"), QStringLiteral("終了します(^o^)/~~"),
           this, ui::twipsRect(5160, 120, 915, 375));

    // Both lists show one model of entries: the paths, and row for row
    // their proposed names.
    entries_ = new collection::EntryList(this);
    nameReader_ = new renaming::NameReader(this);
    // Names are taken in batches, not each time a reader hands some over:
    // each take repaints both lists.
    nameTake_ = new QTimer(this);
    nameTake_->setSingleShot(true);
    nameTake_->setInterval(50);
    connect(nameTake_, &QTimer::timeout, this, &frmMain::takeNames);
    connect(nameReader_, &renaming::NameReader::namesRead, nameTake_, [this] {
        if (!nameTake_->isActive())
            nameTake_->start();
    });

    lstMP3Files = new ui::CollectionListView(this);
    lstMP3Files->setObjectName(QStringLiteral("lstMP3Files"));
    lstMP3Files->setModel(entries_);
    lstMP3Files->setGeometry(ui::twipsRect(60, 600, 6015, 1680));
    lstMP3Files->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstMP3Files->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstMP3Files->setUniformItemSizes(true); // fast at hundreds of thousands of entries
    // Laid out a batch of rows per turn of the event loop, not all at once
    // after each chunk of a large Add, so that the window keeps answering.
    lstMP3Files->setLayoutMode(QListView::Batched);
    lstMP3Files->setBatchSize(kLayoutBatch);
    setColours(lstMP3Files, lstMP3Files->palette(), QPalette::Base, kTeal, QPalette::Text,
               Qt::white, DisabledText::Keep);

    lstRename = new ui::CollectionListView(this);
    lstRename->setObjectName(QStringLiteral("lstRename"));
    lstRename->setModel(entries_->names());
    lstRename->setGeometry(ui::twipsRect(60, 2340, 6015, 1680));
    lstRename->setSelectionMode(QAbstractItemView::SingleSelection);
    lstRename->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstRename->setUniformItemSizes(true);
    lstRename->setLayoutMode(QListView::Batched);
    lstRename->setBatchSize(kLayoutBatch);
    lstRename->setToolTip(QStringLiteral("ここのリストは表示のみです。"));
    setColours(lstRename, lstRename->palette(), QPalette::Base, Qt::black, QPalette::Text,
               kPaleYellow, DisabledText::Keep);
    lstRename->setEnabled(false);

    // The frame's caption is bold blue; its controls keep the window's own
    // font and colours, so both are given to them explicitly rather than
    // inherited from the frame.
    QFont plainFont = font();
    plainFont.setFamilies(plainFont.families().isEmpty() ? QStringList{plainFont.family()}
                                                         : plainFont.families());
    plainFont.setPointSizeF(plainFont.pointSizeF());
    plainFont.setWeight(plainFont.weight());
    plainFont.setItalic(plainFont.italic());
    QPalette plainPalette = palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        plainPalette.setColor(group, QPalette::WindowText,
                              plainPalette.color(group, QPalette::WindowText));

    Frame1 = new QGroupBox(QStringLiteral("タグ編集"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(ui::twipsRect(60, 4140, 6015, 2415));
    QFont captionFont(QStringLiteral("ＭＳ Ｐゴシック"), 9, QFont::Bold);
    Frame1->setFont(captionFont);
    {
        QPalette p = Frame1->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            p.setColor(group, QPalette::WindowText, Qt::blue);
        Frame1->setPalette(p);
    }

    auto textBox = [&](QLineEdit *&t, const char *name, int maxLength, QRect rect) {
        t = new QLineEdit(Frame1);
        t->setObjectName(QLatin1String(name));
        t->setFont(plainFont);
        setColours(t, plainPalette, QPalette::Base, kLightYellow, QPalette::Text, Qt::black,
                   DisabledText::Grey);
        t->setMaxLength(maxLength);
        t->setGeometry(rect);
    };
    auto label = [&](QLabel *&l, const char *name, const QString &caption, QRect rect) {
        l = new QLabel(caption, Frame1);
        l->setObjectName(QLatin1String(name));
        l->setFont(plainFont);
        l->setPalette(plainPalette);
        l->setAlignment(Qt::AlignCenter);
        l->setGeometry(rect);
    };

    textBox(txtTrackName, "txtTrackName", 30, ui::twipsRect(1020, 300, 4935, 270));
    textBox(txtArtistName, "txtArtistName", 30, ui::twipsRect(1020, 690, 4935, 270));
    textBox(txtAlbumName, "txtAlbumName", 30, ui::twipsRect(1020, 1080, 4935, 270));
    textBox(txtComment, "txtComment", 30, ui::twipsRect(1020, 1500, 4935, 315));
    textBox(txtYear, "txtYear", 4, ui::twipsRect(1020, 1920, 675, 270));

    cmbGenre = new QComboBox(Frame1);
    cmbGenre->setObjectName(QStringLiteral("cmbGenre"));
    cmbGenre->setEditable(false); // pick from the list only
    cmbGenre->setFont(plainFont);
    {
        // A list-only combo box is painted as a button (the style shades it
        // into a gradient), its drop-down list as a list: a style sheet gives
        // both the edit fields' flat light yellow. The palette says the same
        // for code that asks it.
        QPalette p = plainPalette;
        for (auto group : {QPalette::Active, QPalette::Inactive}) {
            p.setColor(group, QPalette::ButtonText, Qt::black);
            p.setColor(group, QPalette::Text, Qt::black);
        }
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            p.setColor(group, QPalette::Button, kLightYellow);
            p.setColor(group, QPalette::Base, kLightYellow);
        }
        cmbGenre->setPalette(p);
        const QString yellow = kLightYellow.name();
        cmbGenre->setStyleSheet(QStringLiteral(
            "QComboBox { background-color: %1; color: black; border: 1px solid #7a7a7a;"
            " border-radius: 2px; padding: 0px 0px 0px 3px; }"
            // A narrow arrow, so that the names have room beside it.
            "QComboBox::drop-down { width: 13px; }"
            "QComboBox:disabled { color: #808080; }"
            "QComboBox QAbstractItemView { background-color: %1; color: black;"
            " selection-background-color: palette(highlight); selection-color: palette(highlighted-text); }")
                                    .arg(yellow));
    }
    cmbGenre->setGeometry(ui::twipsRect(2580, 1920, 1335, 300));

    button(cmdCopy, "cmdCopy", QStringLiteral("複写"), QString(), Frame1,
           ui::twipsRect(3960, 1920, 675, 375));
    button(cmdPaste, "cmdPaste", QStringLiteral("貼付"), QString(), Frame1,
           ui::twipsRect(4680, 1920, 615, 375));
    button(cmdRewrite, "cmdRewrite", QStringLiteral("更新"), QString(), Frame1,
           ui::twipsRect(5340, 1920, 615, 375));
    for (QPushButton *b : {cmdCopy, cmdPaste, cmdRewrite}) {
        b->setFont(plainFont);
        b->setPalette(plainPalette);
    }

    label(Label1, "Label1", QStringLiteral("曲名"), ui::twipsRect(60, 360, 975, 195));
    label(Label2, "Label2", QStringLiteral("歌手名"), ui::twipsRect(60, 720, 975, 195));
    label(Label3, "Label3", QStringLiteral("アルバム名"), ui::twipsRect(60, 1140, 975, 195));
    label(Label6, "Label6", QStringLiteral("コメント"), ui::twipsRect(60, 1560, 915, 195));
    label(Label4, "Label4", QStringLiteral("年代"), ui::twipsRect(60, 1980, 975, 195));
    label(Label5, "Label5", QStringLiteral("ジャンル"), ui::twipsRect(1740, 1980, 795, 195));

    Frame1->setEnabled(false);

    QWidget *const tabOrder[] = {cmdOpen,      cmdRename,     cmdAllSel,    cmdClear,
                                 cmdRemove,    cmdClose,      lstMP3Files,  lstRename,
                                 Frame1,       txtTrackName,  txtArtistName, txtAlbumName,
                                 txtComment,   txtYear,       cmbGenre,     cmdCopy,
                                 cmdPaste,     cmdRewrite};
    for (size_t i = 1; i < std::size(tabOrder); ++i)
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(cmdOpen, &QPushButton::clicked, this, &frmMain::cmdOpen_Click);
    connect(cmdRename, &QPushButton::clicked, this, &frmMain::cmdRename_Click);
    connect(cmdAllSel, &QPushButton::clicked, this, &frmMain::cmdAllSel_Click);
    connect(cmdClear, &QPushButton::clicked, this, &frmMain::cmdClear_Click);
    connect(cmdRemove, &QPushButton::clicked, this, &frmMain::cmdRemove_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmMain::cmdClose_Click);
    connect(cmdRewrite, &QPushButton::clicked, this, &frmMain::cmdRewrite_Click);
    connect(cmdCopy, &QPushButton::clicked, this, &frmMain::cmdCopy_Click);
    connect(cmdPaste, &QPushButton::clicked, this, &frmMain::cmdPaste_Click);
    // The list's click notification: any change of its current entry or of
    // its selection, by mouse or keyboard, reported once per action.
    connect(lstMP3Files->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &frmMain::lstMP3Files_Changed);
    connect(lstMP3Files->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &frmMain::lstMP3Files_Changed);
    // Mouse presses and releases over the list arrive at its viewport.
    lstMP3Files->viewport()->installEventFilter(this);

    // Files and folders dropped from a file manager are added; the file
    // list's menu and Ctrl+Z undo the last Rename.
    setAcceptDrops(true);
    lstMP3Files->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lstMP3Files, &QWidget::customContextMenuRequested, this, &frmMain::showListMenu);
    auto *undo = new QShortcut(QKeySequence::Undo, this);
    connect(undo, &QShortcut::activated, this, &frmMain::Undo);
    auto *batchEdit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_E), this);
    connect(batchEdit, &QShortcut::activated, this, &frmMain::BatchEdit);
    ui::showKeyboardFocus(this);
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lstMP3Files->viewport()) {
        // The right button opens the list's menu and nothing else: a stray
        // right click must never drop a selection of hundreds of files.
        const auto type = event->type();
        if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease
             || type == QEvent::MouseButtonDblClick || type == QEvent::MouseMove)
            && (static_cast<QMouseEvent *>(event)->button() == Qt::RightButton
                || (type == QEvent::MouseMove
                    && static_cast<QMouseEvent *>(event)->buttons() == Qt::RightButton)))
            return true;
        listViewportEvent(event);
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::keyPressEvent(QKeyEvent *event)
{
    // cmdClose is the window's cancel button.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        cmdClose->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    if (loaded_ && !unloaded_)
        Form_Unload();
    event->accept();
}

bool frmMain::Form_Load()
{
    if (loaded_)
        return !unloaded_;
    loaded_ = true;

    appFolder_ = appFolderOverride().isEmpty() ? QCoreApplication::applicationDirPath()
                                               : appFolderOverride();
    if (!appFolder_.endsWith(u'/'))
        appFolder_ += u'/';
    IniFile().setFileName(settingsFilePath(
        appFolder_, QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName()));

    const float top = ui::positionFromText(IniFile().ReadStr(
        QStringLiteral("Position"), QStringLiteral("Top"), QStringLiteral("0"))).value_or(0);
    const float left = ui::positionFromText(IniFile().ReadStr(
        QStringLiteral("Position"), QStringLiteral("Left"), QStringLiteral("0"))).value_or(0);
    setStartPosition(top, left);

    sMP3Folder_ = paths::fromSetting(
        IniFile().ReadStr(QStringLiteral("Folder"), QStringLiteral("MP3"), QString()));

    QDir::setCurrent(appFolder_); // a failure here is no reason to stop

    // What a crash left half done in the last action is put right.
    history::settle();

    QString failure;
    bool ok = false;
    try {
        if (vbmp3_init() != 0) {
            LoadGenreList();
            if (cmbGenre->count() == 0) {
                failure = QStringLiteral("ジャンル一覧が空です。");
            } else {
                CopyTag.TrackName = tags::fitField(QString(), tags::kTextWidth);
                CopyTag.ArtistName = tags::fitField(QString(), tags::kTextWidth);
                CopyTag.AlbumName = tags::fitField(QString(), tags::kTextWidth);
                CopyTag.Year = tags::fitField(
                    QStringLiteral("%1").arg(QDate::currentDate().year(), 4, 10, QChar(u'0')),
                    tags::kYearWidth);
                CopyTag.Comment = tags::fitField(QString(), tags::kTextWidth);
                CopyTag.GenreNo = 0;
                CopyTag.GenreName = tags::fitField(cmbGenre->itemText(0), tags::kTextWidth);
                ok = true;
            }
        }
    } catch (const std::exception &e) {
        failure = QString::fromLocal8Bit(e.what());
        ok = false;
    }
    if (ok)
        return true;

    ui::showMessage(QStringLiteral("初期化に失敗しました。") + failure, QMessageBox::Critical);
    Form_Unload();
    return false;
}

void frmMain::setStartPosition(float top, float left)
{
    startTop_ = top;
    startLeft_ = left;
    const QPoint asked(ui::positionToPixels(left), ui::positionToPixels(top));
    move(ui::keepOnScreen(asked, size()));
    startPixels_ = pos();
    if (startPixels_ != asked) {
        startTop_ = float(ui::pixelsToTwips(startPixels_.y()));
        startLeft_ = float(ui::pixelsToTwips(startPixels_.x()));
    }
}

float frmMain::topTwips() const
{
    return pos() == startPixels_ ? startTop_ : float(ui::pixelsToTwips(pos().y()));
}

float frmMain::leftTwips() const
{
    return pos() == startPixels_ ? startLeft_ : float(ui::pixelsToTwips(pos().x()));
}

void frmMain::LoadGenreList()
{
    cmbGenre->clear();
    for (const tags::GenreEntry &g : tags::genreList())
        cmbGenre->addItem(g.GenreName, g.GenreNo);
    if (cmbGenre->count() > 0)
        cmbGenre->setCurrentIndex(0);
    // The box has room beside its arrow for "Soundtrack" and every shorter
    // name; the list it drops is wide enough to show the longest whole.
    int widest = 0;
    for (int i = 0; i < cmbGenre->count(); ++i)
        widest = std::max(widest, cmbGenre->fontMetrics().horizontalAdvance(cmbGenre->itemText(i)));
    cmbGenre->view()->setMinimumWidth(widest + cmbGenre->view()->verticalScrollBar()->sizeHint().width() + 12);
}

void frmMain::Form_Unload()
{
    unloaded_ = true;
    vbmp3_free(); // the result does not matter: shutdown goes on

    inifile_IO &ini = IniFile();
    ini.WriteStr(QStringLiteral("Position"), QStringLiteral("Top"),
                 ui::positionToText(topTwips()));
    ini.WriteStr(QStringLiteral("Position"), QStringLiteral("Left"),
                 ui::positionToText(leftTwips()));
    ini.WriteStr(QStringLiteral("Folder"), QStringLiteral("MP3"), paths::toSetting(sMP3Folder_));

    iniFile_.reset();
}

void frmMain::cmdClose_Click() { close(); }

