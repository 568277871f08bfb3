#pragma once

#include <string>
#include <string_view>

#include "text/Utf8Decoder.h"

namespace quelvar {

// Converts UTF-8 bytes in which no sequence is cut off but by a fault to UTF-16, as the
// platform's reader does (a Utf8Conversion): on Windows MultiByteToWideChar, strict with
// MB_ERR_INVALID_CHARS, elsewhere text/'s own conversion. Defined per platform
// (settings/posix/Utf8Conversion.cpp, settings/win32/Utf8Conversion.cpp).
bool platformUtf16FromUtf8(std::string_view bytes, Utf8Faults faults, std::u16string& text);

}  // namespace quelvar
