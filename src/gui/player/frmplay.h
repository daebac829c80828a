// The player window: plays one MP3 file through the player engine it owns
// and offers a volume bar and a Stop button while it plays.
//
// The caller builds the window, sets sPlayFile, calls MP3_Play and, only
// when that returns true, shows the window modally with exec(); the window
// is deleted afterwards and built anew for the next file:
//
//     frmPLay player(this);
//     player.sPlayFile = path;
//     if (player.MP3_Play())
//         player.exec();
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

#include "core/player/player.h"

class QPushButton;
class QScrollBar;

class frmPLay : public QDialog {
    Q_OBJECT

public:
    explicit frmPLay(QWidget *parent = nullptr);
    ~frmPLay() override;

    // Full path of the file to play, its exact bytes; set by the caller
    // before MP3_Play.
    QByteArray sPlayFile;

    // Tests, opens and starts playing sPlayFile. False when nothing plays:
    // a missing file (silently), a file the library cannot open (the user
    // has been shown "Open Error") or no sound output ("Sound output error").
    bool MP3_Play();

    // The volume the bar shows, 0 (thumb at the bottom) to 100 (at the top).
    int volume() const;

    // Closing by any way (Stop, close box, Esc) stops the playback once.
    void done(int result) override;

    // Controls, named as everywhere in the program.
    QPushButton *cmdStop = nullptr;
    QScrollBar *vsbVol = nullptr;

    // The bar's value for two channel volumes: their mean with the fraction
    // dropped, kept to 0..100 (the library's range).
    static int volumeFromChannels(long long left, long long right);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void Form_Load();
    void Form_Unload();
    void cmdStop_Click();
    void vsbVol_Change();
    void vsbVol_Scroll();

    player::Engine engine_;
    bool opened_ = false;   // the engine has the file open
    bool loaded_ = false;   // Form_Load has run
    bool unloaded_ = false; // Form_Unload has run
};
