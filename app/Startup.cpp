#include "app/Startup.h"

#include <QApplication>
#include <QIcon>

#include <exception>

#include "app/EventErrorBox.h"
#include "app/Resources.h"
#include "app/ThemeRegistry.h"
#include "app/WindowFont.h"
#include "settings/ClientIni.h"

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
    CheckRunSettings settings;
    try {
        if (const std::optional<ClientIni> ini = ClientIni::load(places())) {
            settings.statusEndpoint = ini->statusEndpoint();
        }
    } catch (const std::exception& error) {
        settings.statusEndpointFault = error.what();
        EventErrorBox::show(QString::fromUtf8(error.what()));
    }
    return settings;
}

}  // namespace quelvar
