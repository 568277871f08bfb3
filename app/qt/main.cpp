#include <QApplication>

#include "app/qt/Startup.h"
#include "app/qt/TfmPrincipal.h"
#include "settings/ClientIni.h"

int main(int argc, char* argv[]) {
    // The program reads no command line: the toolkit is handed the program name only, so no
    // argument changes anything (the platform is chosen through QT_QPA_PLATFORM alone).
    int toolkitArgc = argc > 0 ? 1 : 0;
    QApplication application(toolkitArgc, argv);
    quelvar::prepareApplication();

    // The status service's host comes from quelvar.ini, read once before the window.
    quelvar::TfmPrincipal fmPrincipal(quelvar::startupRunSettings(quelvar::ClientIni::searchPath));
    fmPrincipal.show();
    return QApplication::exec();
}
