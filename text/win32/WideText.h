#pragma once

#include <string>
#include <string_view>

namespace quelvar {

// Returns the UTF-16 form of UTF-8 text, for the wide Windows calls; invalid bytes become
// U+FFFD.
std::wstring toWide(std::string_view utf8);
// Returns the UTF-8 form of UTF-16 text from a wide Windows call.
std::string fromWide(std::wstring_view wide);

// Returns the system's message text for an error code, trailing blanks, line breaks and full
// stops removed: from the module's message table when module is given, else from the system's;
// empty when neither has a text for it.
std::string systemMessage(unsigned long code, void* module = nullptr);

}  // namespace quelvar
