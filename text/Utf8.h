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
// Appends the UTF-8 form of the code point (at most U+10FFFF) to the text.
void appendUtf8(std::string& text, char32_t codePoint);
// Returns the UTF-16 text as UTF-8; a surrogate without its partner becomes U+FFFD.
std::string utf8FromUtf16(std::u16string_view text);

}  // namespace quelvar
