#include <QApplication>
#include <QIcon>

#include "Resources.h"
#include "TfmPrincipal.h"
#include "ThemeRegistry.h"
#include "WindowFont.h"

int main(int argc, char* argv[]) {
    // The program reads no command line: the toolkit is handed the program name only, so no
    // argument changes anything (the platform is chosen through QT_QPA_PLATFORM alone).
    int toolkitArgc = argc > 0 ? 1 : 0;
    QApplication application(toolkitArgc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quelvar"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUELVAR_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("quelvar"));

    quelvar::Resources::ensureLoaded();
    QApplication::setWindowIcon(QIcon(quelvar::Resources::kIcon));
    quelvar::WindowFont::loadTahoma();

    quelvar::ThemeRegistry themes;
    themes.select(QStringLiteral("Ruby Graphite"));

    quelvar::TfmPrincipal fmPrincipal;
    fmPrincipal.show();
    return QApplication::exec();
}
