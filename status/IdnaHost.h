#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quelvar::status {

// Returns the host name in its ASCII (IDNA 2008, UTS #46 non-transitional) form, as libcurl
// converts it: an ASCII name unchanged, "bücher.example" as "xn--bcher-kva.example". Returns
// nothing when the name cannot be converted (not UTF-8, disallowed code points).
std::optional<std::string> toIdnaHost(std::string_view host);

}  // namespace quelvar::status
