#pragma once

#include <filesystem>
#include <functional>
#include <vector>

#include "checks/CheckRun.h"

namespace quelvar {

// Prepares the running QApplication as the program starts: application identity, carried
// resources, window icon, the Tahoma font and the "Ruby Graphite" theme (with its not-found
// box when absent). Call it after the QApplication is made and before the window.
void prepareApplication();

// Returns the run settings of the window: the status endpoint of the first quelvar.ini among
// the places, or the built-in one when there is none. A file that cannot be had or is wrong
// is shown in the event error box, before the window, and every external check then fails
// with its message. Call it after prepareApplication().
CheckRunSettings startupRunSettings(
    const std::function<std::vector<std::filesystem::path>()>& places);

}  // namespace quelvar
