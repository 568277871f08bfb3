#include "http/SocketConnection.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>
#include <mutex>

#include "http/win32/SocketErrorText.h"
#include "text/win32/WideText.h"

namespace quelvar {

namespace {

using Clock = SocketConnection::Clock;

// Winsock is started once per process and stays started: the direct profile may connect at any
// time until the program ends.
void startWinsock() {
    static std::once_flag once;
    static int startError = 0;
    std::call_once(once, [] {
        WSADATA data{};
        startError = WSAStartup(MAKEWORD(2, 2), &data);
    });
    if (startError != 0) {
        throw SocketConnection::socketError(startError);
    }
}

SOCKET socketOf(SocketConnection::Handle handle) {
    return static_cast<SOCKET>(handle);
}

// Waits until the socket is readable (or, for writing, writable or failed) or the deadline
// passes; returns false when the time ran out. Throws the socket error when select fails.
bool waitUntil(SOCKET socket, bool forWriting, Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const long milliseconds = left < 0 ? 0 : static_cast<long>(left);
    timeval timeout{};
    timeout.tv_sec = milliseconds / 1000;
    timeout.tv_usec = (milliseconds % 1000) * 1000;
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(socket, &ready);
    // A failed non-blocking connect shows in the exception set, not as writable.
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(socket, &failed);
    const int count = select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr,
                             forWriting ? &failed : nullptr, &timeout);
    if (count == SOCKET_ERROR) {
        throw SocketConnection::socketError(WSAGetLastError());
    }
    return count > 0;
}

void waitFor(SOCKET socket, bool forWriting, std::chrono::milliseconds timeout) {
    if (!waitUntil(socket, forWriting, Clock::now() + timeout)) {
        throw SocketConnection::socketError(WSAETIMEDOUT);
    }
}

struct AddressListDeleter {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

// Connects a new non-blocking socket to one address; returns the socket, or INVALID_SOCKET with
// the error in error.
SOCKET connectTo(const addrinfo& address, std::chrono::milliseconds timeout, int& error) {
    // Not inherited by processes the program might start.
    const SOCKET socket = WSASocketW(address.ai_family, address.ai_socktype, address.ai_protocol,
                                     nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) {
        error = WSAGetLastError();
        return INVALID_SOCKET;
    }
    u_long nonBlocking = 1;
    error = 0;
    if (ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) {
        error = WSAGetLastError();
    } else if (connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            // Windows would retry an unanswered SYN for about 21 s; the bound keeps a probe of
            // an unreachable address as short as the reads.
            error = 0;
            if (!waitUntil(socket, true, Clock::now() + timeout)) {
                error = WSAETIMEDOUT;
            } else {
                int length = sizeof error;
                if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                               &length) != 0) {
                    error = WSAGetLastError();
                }
            }
        }
    }
    if (error != 0) {
        closesocket(socket);
        return INVALID_SOCKET;
    }
    return socket;
}

}  // namespace

SocketConnection::SocketConnection(const std::string& host, const std::string& port,
                                   AddressFamily family, std::chrono::milliseconds connectTimeout,
                                   std::chrono::milliseconds ioTimeout, Clock::time_point deadline)
    : m_ioTimeout(ioTimeout), m_deadline(deadline) {
    startWinsock();
    ADDRINFOW hints{};
    hints.ai_family = family == AddressFamily::IPv6 ? AF_INET6 : AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    ADDRINFOW* found = nullptr;
    // GetAddrInfoW takes the host as UTF-16, so names outside the ANSI code page resolve too.
    const int resolved = GetAddrInfoW(toWide(host).c_str(), toWide(port).c_str(), &hints, &found);
    if (resolved != 0) {
        // Wine passes some codes of its host's resolver on as they are (negative numbers);
        // Windows reports every name it cannot resolve as no such host.
        throw socketError(resolved > 0 ? resolved : WSAHOST_NOT_FOUND);
    }
    const std::unique_ptr<ADDRINFOW, void (*)(ADDRINFOW*)> addresses(found, FreeAddrInfoW);

    int lastError = WSAEHOSTUNREACH;
    for (const ADDRINFOW* address = addresses.get(); address != nullptr;
         address = address->ai_next) {
        addrinfo plain{};
        plain.ai_family = address->ai_family;
        plain.ai_socktype = address->ai_socktype;
        plain.ai_protocol = address->ai_protocol;
        plain.ai_addrlen = address->ai_addrlen;
        plain.ai_addr = address->ai_addr;
        int error = 0;
        const SOCKET socket = connectTo(plain, boundedByDeadline(connectTimeout), error);
        if (socket != INVALID_SOCKET) {
            m_handle = static_cast<Handle>(socket);
            return;
        }
        lastError = error;
    }
    throw socketError(lastError);
}

SocketConnection::~SocketConnection() {
    if (m_handle != kNoHandle) {
        closesocket(socketOf(m_handle));
    }
}

namespace {

// Winsock takes an int count: a larger request is cut to a piece the caller sends on after.
int pieceOf(std::size_t size) {
    return size > 65536 ? 65536 : static_cast<int>(size);
}

// Returns the outcome of a send or recv that returned n.
SocketConnection::Attempt attemptOf(int n) {
    if (n != SOCKET_ERROR) {
        return {static_cast<std::size_t>(n), false, 0};
    }
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        return {0, true, 0};
    }
    return {0, false, error};
}

}  // namespace

SocketConnection::Attempt SocketConnection::trySend(const char* data, std::size_t size) {
    return attemptOf(send(socketOf(m_handle), data, pieceOf(size), 0));
}

SocketConnection::Attempt SocketConnection::tryReceive(char* buffer, std::size_t size) {
    return attemptOf(recv(socketOf(m_handle), buffer, pieceOf(size), 0));
}

void SocketConnection::waitReadable() {
    waitFor(socketOf(m_handle), false, boundedByDeadline(m_ioTimeout));
}

void SocketConnection::waitWritable() {
    waitFor(socketOf(m_handle), true, boundedByDeadline(m_ioTimeout));
}

Error SocketConnection::socketError(int errorNumber) {
    return Error("Socket Error # " + std::to_string(errorNumber) + "\r\n" +
                 socketErrorMessage(errorNumber));
}

}  // namespace quelvar
