#include <QApplication>

#include "frmmain.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dorvasu"));

    frmMain window;
    if (!window.Form_Load())
        return 1; // the user has been told; the settings are saved
    window.show();
    return app.exec();
}
