#pragma once

#include <string_view>

namespace quelvar {

class SettingsTarget;

// Tests the line for the markers "const USA_HTTPS = ", "const IP_EXTERNO = " and
// "const IP_INTERNO = ", in this order and each on its own, and applies the value that each
// found marker cuts out of the line to the target at once. Positions count UTF-16 code units.
void applyMarkers(std::u16string_view line, SettingsTarget& target);

}  // namespace quelvar
