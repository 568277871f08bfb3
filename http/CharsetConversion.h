#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quelvar {

// Converts bytes written in the named charset to UTF-8 (iconv on POSIX systems, the code page
// of that name on Windows); every byte that starts an invalid or truncated sequence becomes
// U+FFFD and conversion goes on after it. Returns nothing when the platform knows no charset of
// that name.
std::optional<std::string> convertToUtf8(std::string_view bytes, const std::string& charset);

// Returns UTF-8 text in the system's ANSI code page, the form of a request body sent with the
// do-not-encode option: UTF-8 itself on POSIX systems, CP_ACP on Windows (characters it lacks
// become its default character).
std::string toAnsiCodePage(std::string_view utf8);

}  // namespace quelvar
