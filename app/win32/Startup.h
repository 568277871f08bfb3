#pragma once

#include <filesystem>
#include <functional>
#include <vector>

#include "checks/CheckRun.h"

namespace quelvar {

// Returns the run settings of the window: the status endpoint of the first quelvar.ini among
// the places, or the built-in one when there is none. A file that cannot be had or is wrong
// is shown in the event error box, before the window, and every external check then fails
// with its message.
CheckRunSettings startupRunSettings(
    const std::function<std::vector<std::filesystem::path>()>& places);

}  // namespace quelvar
