#pragma once

#include <string>

namespace quelvar {

// Returns the system's message for a Windows error code (FormatMessageW, system message
// table, default language) as UTF-8, without trailing blanks, line breaks and full stops; the
// code in decimal when the system has no text for it.
std::string systemMessage(unsigned long code);

// Returns the full path of the running executable as GetModuleFileNameW reports it; throws
// quelvar::Error with the system's text when it cannot be had.
std::wstring executablePath();

}  // namespace quelvar
