#pragma once

#include <string>
#include <string_view>

namespace quelvar {

// Returns whether the texts are equal, ASCII letters compared without regard to case (the rule
// for HTTP header names, schemes and tokens, RFC 9110 section 5.1).
bool equalsIgnoringCase(std::string_view a, std::string_view b);
// Returns whether the text begins with the prefix, ASCII letters compared without regard to
// case.
bool startsWithIgnoringCase(std::string_view text, std::string_view prefix);

// Returns the text with its ASCII letters in lower case; other bytes are kept.
std::string toLower(std::string_view text);
// Returns the text with its ASCII letters in upper case; other bytes are kept.
std::string toUpper(std::string_view text);

// Returns the text without the blanks (space and horizontal tab, HTTP's optional white space)
// at its ends.
std::string_view trimBlanks(std::string_view text);
// Returns the text without the blanks and line breaks (CR, LF) at its ends.
std::string_view trimBlanksAndLineBreaks(std::string_view text);

// Returns the text with every "%" and two hexadecimal digits replaced by the byte they name
// (RFC 3986 section 2.1); a "%" without two digits after it is kept as it is.
std::string decodePercentEscapes(std::string_view text);

}  // namespace quelvar
