#include "gui/player/frmplay.h"

#include "core/tags/existence.h"
#include "gui/ui/messagebox.h"
#include "gui/ui/twips.h"

#include <QFont>
#include <QPushButton>
#include <QScrollBar>

#include <algorithm>
#include <cstdint>

// The bar runs from 100 at the top to 0 at the bottom. A vertical QScrollBar
// has its minimum at the top, and inverting its appearance would also turn
// its arrows and trough clicks the wrong way round, so the bar's position
// counts down from the top: volume = 100 - position.
namespace {
constexpr int kMaxVolume = 100;
}

frmPLay::frmPLay(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmPLay"));
    setWindowTitle(QStringLiteral(">> 再生中"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(ui::twipsSize(1560, 2205));
    setSizeGripEnabled(false);

    cmdStop = new QPushButton(QStringLiteral("Stop"), this);
    cmdStop->setObjectName(QStringLiteral("cmdStop"));
    cmdStop->setGeometry(ui::twipsRect(420, 60, 1035, 2055));
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPointSize(9);
    font.setBold(true);
    cmdStop->setFont(font);
    cmdStop->setDefault(true);

    vsbVol = new QScrollBar(Qt::Vertical, this);
    vsbVol->setObjectName(QStringLiteral("vsbVol"));
    vsbVol->setGeometry(ui::twipsRect(120, 60, 195, 2055));
    vsbVol->setRange(0, kMaxVolume);
    vsbVol->setSingleStep(1);
    vsbVol->setPageStep(10);
    vsbVol->setFocusPolicy(Qt::StrongFocus);
    // While the thumb is dragged vsbVol_Scroll follows it; the value itself
    // changes (vsbVol_Change) when it is let go, and at once for arrows,
    // trough clicks, keys and the wheel.
    vsbVol->setTracking(false);

    setTabOrder(cmdStop, vsbVol);

    connect(cmdStop, &QPushButton::clicked, this, [this] { cmdStop_Click(); });
    connect(vsbVol, &QScrollBar::valueChanged, this, [this] { vsbVol_Change(); });
    connect(vsbVol, &QScrollBar::sliderMoved, this, [this] { vsbVol_Scroll(); });
}

frmPLay::~frmPLay()
{
    if (!unloaded_ && (loaded_ || opened_))
        Form_Unload();
}

int frmPLay::volumeFromChannels(long long left, long long right)
{
    const long long mean = (left + right) / 2;
    return int(std::clamp<long long>(mean, 0, kMaxVolume));
}

int frmPLay::volume() const
{
    return kMaxVolume - vsbVol->value();
}

bool frmPLay::MP3_Play()
{
    if (opened_) {
        engine_.close();
        opened_ = false;
    }
    if (!tags::fileExists(sPlayFile))
        return false;
    if (const player::Engine::Opened opened = engine_.open(sPlayFile); opened != player::Engine::Opened::Yes) {
        // A good file is not blamed for a missing sound server or device.
        ui::showMessage(opened == player::Engine::Opened::NoOutput ? QStringLiteral("Sound output error")
                                                                  : QStringLiteral("Open Error"),
                        QMessageBox::Warning, parentWidget());
        return false;
    }
    opened_ = true;
    engine_.play();
    return true;
}

void frmPLay::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!loaded_)
        Form_Load();
    cmdStop->setFocus();
}

void frmPLay::Form_Load()
{
    loaded_ = true;
    std::int32_t left = 0;
    std::int32_t right = 0;
    player::Engine::volume(left, right);
    {
        const QSignalBlocker block(vsbVol);
        vsbVol->setValue(kMaxVolume - volumeFromChannels(left, right));
    }
    // Set both channels even when the bar already stood there, so that the
    // channels always match the one value the bar shows.
    vsbVol_Change();
}

void frmPLay::done(int result)
{
    if (!unloaded_)
        Form_Unload();
    QDialog::done(result);
}

void frmPLay::Form_Unload()
{
    unloaded_ = true;
    if (opened_) {
        engine_.close();
        opened_ = false;
    }
}

void frmPLay::cmdStop_Click()
{
    reject();
}

void frmPLay::vsbVol_Change()
{
    const int v = volume();
    player::Engine::setVolume(v, v);
}

void frmPLay::vsbVol_Scroll()
{
    const int v = kMaxVolume - vsbVol->sliderPosition();
    player::Engine::setVolume(v, v);
}
