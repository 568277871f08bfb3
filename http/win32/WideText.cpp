#include "http/win32/WideText.h"

#include <winsock2.h>
// After winsock2.h, which must come first.
#include <windows.h>

namespace quelvar {

std::wstring toWide(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string fromWide(std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

std::string systemMessage(unsigned long code, void* module) {
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;
    flags |= module != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(flags, module, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        return {};
    }
    std::wstring text(buffer, length);
    LocalFree(buffer);
    // The tables end their texts with a full stop and a line break, which the messages that
    // quote them do not want.
    const auto end = text.find_last_not_of(L" \t\r\n.");
    text.erase(end == std::wstring::npos ? 0 : end + 1);
    return fromWide(text);
}

std::string socketErrorMessage(int code) {
    std::string text = systemMessage(static_cast<unsigned long>(code));
    if (!text.empty()) {
        return text;
    }
    struct KnownText {
        int code;
        const char* text;
    };
    static constexpr KnownText kWindowsTexts[] = {
        {WSAETIMEDOUT,
         "A connection attempt failed because the connected party did not properly respond "
         "after a period of time, or established connection failed because connected host has "
         "failed to respond"},
        {WSAECONNREFUSED,
         "No connection could be made because the target machine actively refused it"},
        {WSAECONNRESET, "An existing connection was forcibly closed by the remote host"},
        {WSAECONNABORTED,
         "An established connection was aborted by the software in your host machine"},
        {WSAEHOSTUNREACH, "A socket operation was attempted to an unreachable host"},
        {WSAENETUNREACH, "A socket operation was attempted to an unreachable network"},
        {WSAHOST_NOT_FOUND, "No such host is known"},
        {WSATRY_AGAIN,
         "This is usually a temporary error during hostname resolution and means that the "
         "local server did not receive a response from an authoritative server"},
        {WSANO_DATA, "The requested name is valid, but no data of the requested type was found"},
    };
    for (const KnownText& known : kWindowsTexts) {
        if (known.code == code) {
            return known.text;
        }
    }
    return {};
}

}  // namespace quelvar
