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

FullListener::FullListener() {
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    m_listener = static_cast<long long>(listener);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), length);
    listen(listener, 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    for (int i = 0; i < 16 && !m_full; ++i) {
        const SOCKET filler = socket(AF_INET, SOCK_STREAM, 0);
        u_long nonBlocking = 1;
        ioctlsocket(filler, FIONBIO, &nonBlocking);
        connect(filler, reinterpret_cast<sockaddr*>(&address), length);
        m_fillers.push_back(static_cast<long long>(filler));
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(filler, &writable);
        timeval wait{0, 300000};
        m_full = select(0, nullptr, &writable, nullptr, &wait) == 0;
    }
}

FullListener::~FullListener() {
    for (const long long filler : m_fillers) {
        closesocket(static_cast<SOCKET>(filler));
    }
    closesocket(static_cast<SOCKET>(m_listener));
    WSACleanup();
}

}  // namespace quelvar::test
