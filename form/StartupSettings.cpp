#include "form/StartupSettings.h"

#include <exception>

#include "settings/ClientIni.h"

namespace quelvar {

StartupSettings startupSettings(const std::function<std::vector<std::filesystem::path>()>& places) {
    StartupSettings settings;
    try {
        if (const std::optional<ClientIni> ini = ClientIni::load(places())) {
            settings.run.statusEndpoint = ini->statusEndpoint();
        }
    } catch (const std::exception& error) {
        settings.run.statusEndpointFault = error.what();
        settings.error = error.what();
    }
    return settings;
}

}  // namespace quelvar
