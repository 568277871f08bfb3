#include "app/win32/Startup.h"

#include "app/win32/EventErrorBox.h"
#include "form/StartupSettings.h"

namespace quelvar {

CheckRunSettings startupRunSettings(
    const std::function<std::vector<std::filesystem::path>()>& places) {
    const StartupSettings settings = startupSettings(places);
    if (settings.error) {
        // No window exists yet: the box has no owner, as a settings error at the first show
        // has none on screen.
        EventErrorBox::show(nullptr, *settings.error);
    }
    return settings.run;
}

}  // namespace quelvar
