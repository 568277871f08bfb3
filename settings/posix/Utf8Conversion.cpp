#include "settings/Utf8Conversion.h"

namespace quelvar {

// No system conversion to match here: text/'s own decides what is UTF-8.
bool platformUtf16FromUtf8(std::string_view bytes, Utf8Faults faults, std::u16string& text) {
    return utf16FromUtf8(bytes, faults, text);
}

}  // namespace quelvar
