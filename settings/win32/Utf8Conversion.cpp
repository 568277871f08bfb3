#include "settings/Utf8Conversion.h"

#include <windows.h>

namespace quelvar {

bool platformUtf16FromUtf8(std::string_view bytes, Utf8Faults faults, std::u16string& text) {
    // MB_ERR_INVALID_CHARS makes the conversion fail on the first invalid sequence instead of
    // putting U+FFFD in its place; without it the system substitutes.
    const DWORD flags = faults == Utf8Faults::Fail ? MB_ERR_INVALID_CHARS : 0;
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(CP_UTF8, flags, bytes.data(), size, nullptr, 0);
    if (length == 0) {
        return false;
    }
    std::u16string decoded(static_cast<std::size_t>(length), u'\0');
    MultiByteToWideChar(CP_UTF8, flags, bytes.data(), size,
                        reinterpret_cast<wchar_t*>(decoded.data()), length);
    text.append(decoded);
    return true;
}

}  // namespace quelvar
