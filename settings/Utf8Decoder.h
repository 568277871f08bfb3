#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quelvar {

// The message of text that is not valid UTF-8 where no byte-order mark allows substitutes.
inline constexpr const char kNoMappingMessage[] =
    "No mapping for the Unicode character exists in the target multi-byte code page";

// What becomes of a byte sequence that is not valid UTF-8.
enum class Utf8Faults {
    Fail,     // the decoding fails with kNoMappingMessage
    Replace,  // the sequence becomes U+FFFD
};

// Decodes the UTF-8 sequences at the front of bytes and appends them to text as UTF-16; returns
// how many bytes it consumed. A sequence cut off by the end of bytes is left for the next call
// unless atEnd, when it is a fault. With Utf8Faults::Fail, throws quelvar::Error with
// kNoMappingMessage on a fault and appends nothing. Defined per platform
// (settings/posix/Utf8Decoder.cpp, settings/win32/Utf8Decoder.cpp).
std::size_t decodeUtf8(std::string_view bytes, bool atEnd, Utf8Faults faults, std::u16string& text);

}  // namespace quelvar
