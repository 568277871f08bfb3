#pragma once

#include <string>

namespace quelvar {

// Returns the full path of the running executable as GetModuleFileNameW reports it; throws
// quelvar::Error with the system's text when it cannot be had.
std::wstring executablePath();

}  // namespace quelvar
