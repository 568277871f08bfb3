#pragma once

#include <string>

namespace quelvar::test {

// What the platform's sockets (POSIX, Winsock) contribute to the direct profile's wire tests.
// Defined in tests/http/posix/ and tests/http/win32/.

enum class SocketFailure {
    TimedOut,          // no answer within the time-out
    Reset,             // the peer reset the connection
    Refused,           // nothing listens on the port
    NameNotResolved,   // a host name the resolver rejects
    NoAddressOfFamily  // an IPv4 address asked for as IPv6
};

// Returns the error the direct profile reports: "Socket Error # <number>" CR LF and the
// system's text for the error.
std::string socketFailure(SocketFailure failure);

}  // namespace quelvar::test
