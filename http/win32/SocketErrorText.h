#pragma once

#include <string>

namespace quelvar {

// Returns the system's text for a Windows Sockets error as systemMessage() does; for a system
// without texts for them (Wine has few), the text Windows gives.
std::string socketErrorMessage(int code);

}  // namespace quelvar
