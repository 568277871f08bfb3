#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quelvar {

// Returns the places "quelvar.ini" is looked for on Linux, in order: the executable's
// directory, $XDG_CONFIG_HOME/quelvar (~/.config/quelvar when the variable is unset, empty or
// relative, as the XDG Base Directory Specification says; left out without a home either) and
// /etc/quelvar.
std::vector<std::filesystem::path> xdgSearchPath(const std::filesystem::path& executableDirectory,
                                                 const std::optional<std::string>& configHome,
                                                 const std::optional<std::string>& home);

}  // namespace quelvar
