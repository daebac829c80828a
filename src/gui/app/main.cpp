#include <QApplication>

#include "gui/app/frmmain.h"
#include "gui/ui/quitsignals.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dorvasu"));
    // Wayland desktops find the window's icon through the desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("dorvasu"));

    frmMain window;
    ui::closeOnQuitSignals(&window); // SIGTERM and the like close the window
    if (!window.Form_Load())
        return 1; // the user has been told; the settings are saved
    window.show();
    return app.exec();
}
