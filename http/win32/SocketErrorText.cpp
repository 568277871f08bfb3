#include "http/win32/SocketErrorText.h"

#include <winsock2.h>

#include "text/win32/WideText.h"

namespace quelvar {

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
