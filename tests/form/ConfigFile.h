#pragma once

#include <filesystem>
#include <string_view>

namespace quelvar::test {

// The config.js beside the test's own executable, which a window's API tab is filled from.
std::filesystem::path configPath();
// Removes config.js, or an empty directory of that name that a test made instead.
void removeConfig();
// Writes config.js with exactly these bytes, in place of what was there; throws
// std::runtime_error when it cannot.
void writeConfig(std::string_view bytes);

}  // namespace quelvar::test
