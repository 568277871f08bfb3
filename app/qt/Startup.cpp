#include "app/qt/Startup.h"

#include <QApplication>
#include <QIcon>

#include "app/qt/EventErrorBox.h"
#include "app/qt/Resources.h"
#include "app/qt/ThemeRegistry.h"
#include "app/qt/WindowFont.h"
#include "form/StartupSettings.h"

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

CheckRunSettings startupRunSettings(
    const std::function<std::vector<std::filesystem::path>()>& places) {
    const StartupSettings settings = startupSettings(places);
    if (settings.error) {
        EventErrorBox::show(QString::fromUtf8(*settings.error));
    }
    return settings.run;
}

}  // namespace quelvar
