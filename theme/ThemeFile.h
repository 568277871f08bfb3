#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quelvar {

// Reads a theme description: a "name NAME" line and one "role #rrggbb" line per colour; empty
// lines and lines starting with "#" are skipped; lines may end in LF or CR LF. Hands each colour
// to setColour as 0xRRGGBB, in file order; setColour returns false for a role it does not know.
// Returns the theme's name (UTF-8). Throws Error on a line it cannot read, on an unknown role and
// when the name is missing.
std::string readThemeFile(
    std::string_view description,
    const std::function<bool(std::string_view role, std::uint32_t rgb)>& setColour);

}  // namespace quelvar
