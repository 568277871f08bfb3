#include "app/win32/Startup.h"

#include <exception>
#include <optional>

#include "app/win32/EventErrorBox.h"
#include "settings/ClientIni.h"

namespace quelvar {

CheckRunSettings startupRunSettings(
    const std::function<std::vector<std::filesystem::path>()>& places) {
    CheckRunSettings settings;
    try {
        if (const std::optional<ClientIni> ini = ClientIni::load(places())) {
            settings.statusEndpoint = ini->statusEndpoint();
        }
    } catch (const std::exception& error) {
        settings.statusEndpointFault = error.what();
        // No window exists yet: the box has no owner, as a settings error at the first show
        // has none on screen.
        EventErrorBox::show(nullptr, error.what());
    }
    return settings;
}

}  // namespace quelvar
