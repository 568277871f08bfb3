#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quelvar {

// Converts bytes written in the named charset to UTF-8 through iconv; every byte that starts an
// invalid or truncated sequence becomes U+FFFD and conversion goes on after it. Returns nothing
// when iconv knows no charset of that name.
std::optional<std::string> convertToUtf8(std::string_view bytes, const std::string& charset);

}  // namespace quelvar
