#include "settings/windows/SystemMessage.h"

#include <windows.h>

#include "http/Error.h"
#include "settings/SystemText.h"
#include "settings/Utf16.h"

namespace quelvar {

std::string systemMessage(unsigned long code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        return std::to_string(code);
    }
    std::string text =
        utf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), length));
    LocalFree(buffer);
    return trimmedSystemText(std::move(text));
}

std::wstring executablePath() {
    // A path may be longer than MAX_PATH; the buffer grows until the whole path fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            throw Error("Cannot find the running executable: " + systemMessage(GetLastError()));
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace quelvar
