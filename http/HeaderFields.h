#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quelvar {

// The rules for reply header lines that both client profiles and both transports share.

// One header field: its name and its value.
using HeaderField = std::pair<std::string, std::string>;

// Splits a header line (without its line break) at its first colon into the name and the value,
// each without surrounding blanks (RFC 9110 section 5.5); nothing for a line without a colon.
std::optional<HeaderField> splitHeaderLine(std::string_view line);

// Parses a run of decimal digits, such as a Content-Length value; nothing when the text is
// empty, holds anything else or is too long to be a length this client could hold.
std::optional<std::size_t> parseDecimal(std::string_view text);

}  // namespace quelvar
