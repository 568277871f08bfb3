#pragma once

#include <string>
#include <string_view>

namespace quelvar {

// Returns the UTF-16 text as UTF-8; a surrogate without its partner becomes U+FFFD.
std::string utf8FromUtf16(std::u16string_view text);

}  // namespace quelvar
