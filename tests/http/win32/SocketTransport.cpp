#include <winsock2.h>

#include "http/win32/SocketErrorText.h"
#include "tests/http/SocketTransport.h"

namespace quelvar::test {

namespace {

std::string socketError(int number) {
    return "Socket Error # " + std::to_string(number) + "\r\n" + socketErrorMessage(number);
}

}  // namespace

std::string socketFailure(SocketFailure failure) {
    switch (failure) {
        case SocketFailure::TimedOut:
            return socketError(WSAETIMEDOUT);
        case SocketFailure::Reset:
            return socketError(WSAECONNRESET);
        case SocketFailure::Refused:
            return socketError(WSAECONNREFUSED);
        case SocketFailure::NameNotResolved:
            return socketError(WSAHOST_NOT_FOUND);
        case SocketFailure::NoAddressOfFamily:
            return socketError(WSAHOST_NOT_FOUND);
    }
    return {};
}

}  // namespace quelvar::test
