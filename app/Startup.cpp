#include "app/Startup.h"

#include <QApplication>
#include <QIcon>

#include "app/Resources.h"
#include "app/ThemeRegistry.h"
#include "app/WindowFont.h"

namespace quelvar {

void prepareApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quelvar"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUELVAR_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("quelvar"));

    Resources::ensureLoaded();
    QApplication::setWindowIcon(Resources::applicationIcon());
    WindowFont::loadTahoma();

    const ThemeRegistry themes;
    themes.select(QStringLiteral("Ruby Graphite"));
}

}  // namespace quelvar
