#pragma once

#include <string>
#include <vector>

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

// A listening loopback socket whose accept queue is full, so that the next SYN goes unanswered
// and a connect to it waits like one to a host that does not answer.
class FullListener {
public:
    FullListener();
    ~FullListener();
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;

    // Returns whether the queue could be filled; some network stacks answer every SYN.
    bool full() const { return m_full; }
    int port() const { return m_port; }

private:
    long long m_listener = -1;
    int m_port = 0;
    bool m_full = false;
    std::vector<long long> m_fillers;
};

}  // namespace quelvar::test
