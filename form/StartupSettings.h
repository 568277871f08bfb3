#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "checks/CheckRun.h"

namespace quelvar {

// The run settings a window starts with, and the error its box shows before the window.
struct StartupSettings {
    CheckRunSettings run;
    std::optional<std::string> error;
};

// Returns the run settings of a window as the program starts: the status endpoint of the first
// quelvar.ini among the places, or the built-in one when there is none. A file that cannot be
// had or is wrong (or places that cannot be told) gives its message as the error, and every
// external check of the run settings then fails with it.
StartupSettings startupSettings(const std::function<std::vector<std::filesystem::path>()>& places);

}  // namespace quelvar
