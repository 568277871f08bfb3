#pragma once

#include <string>

namespace quelvar {

// Returns the system's text for an error without trailing blanks, line breaks and full stops.
std::string trimmedSystemText(std::string text);

// Returns the message of a failed open of the settings file: Cannot open file "path". text,
// with the system's text trimmed.
std::string cannotOpenMessage(const std::string& pathText, std::string systemText);

}  // namespace quelvar
