#pragma once

#include <string>
#include <string_view>

namespace quelvar {

// Returns whether the bytes are UTF-8 as RFC 3629 defines it: no overlong forms, no
// surrogates, nothing above U+10FFFF, no sequence cut off at the end.
bool isValidUtf8(std::string_view bytes);
// Returns the bytes with every byte that does not begin a valid UTF-8 sequence replaced by
// U+FFFD; valid sequences are kept as they are.
std::string toValidUtf8(std::string_view bytes);

}  // namespace quelvar
