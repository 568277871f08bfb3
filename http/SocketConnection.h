#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/Error.h"
#include "http/ByteSource.h"

namespace quelvar {

enum class AddressFamily { IPv4, IPv6 };

// A connected TCP socket whose connect and every wait for the peer are bounded in time. The
// reading and writing loops are shared; the socket calls beneath them are the platform's
// (http/posix/SocketConnection.cpp for POSIX sockets, http/win32/SocketConnection.cpp for
// Winsock).
class SocketConnection : public ByteSource {
public:
    // The platform's socket handle, widened so that a POSIX descriptor and a Winsock SOCKET fit.
    using Handle = std::intptr_t;
    static constexpr Handle kNoHandle = -1;

    // The outcome of one non-blocking send or receive.
    struct Attempt {
        // Bytes moved; 0 with no error and no wait means the peer has closed (receive only).
        std::size_t bytes = 0;
        // The call would have blocked: wait and try again.
        bool wouldBlock = false;
        // The system's error number of a failed call, 0 when it did not fail.
        int error = 0;
    };

    using Clock = std::chrono::steady_clock;

    // Resolves the host in the given family and connects to the first address that answers;
    // throws the socket error of the last failure. Each connect waits up to connectTimeout and
    // each later wait up to ioTimeout, none beyond the deadline of the whole exchange; a wait
    // cut short by it fails as a time-out does.
    SocketConnection(const std::string& host, const std::string& port, AddressFamily family,
                     std::chrono::milliseconds connectTimeout, std::chrono::milliseconds ioTimeout,
                     Clock::time_point deadline);
    ~SocketConnection() override;
    SocketConnection(const SocketConnection&) = delete;
    SocketConnection& operator=(const SocketConnection&) = delete;

    // Reads what has arrived, waiting for it within the time bound; throws the socket error.
    std::size_t read(char* buffer, std::size_t size) override;
    // Sends every byte of data; throws the socket error when sending fails or times out.
    void writeAll(std::string_view data);

    // Sends what the socket takes now, without waiting.
    Attempt trySend(const char* data, std::size_t size);
    // Receives what has arrived, without waiting.
    Attempt tryReceive(char* buffer, std::size_t size);

    // Waits until the socket can be read; throws the time-out socket error.
    void waitReadable();
    // Waits until the socket can be written; throws the time-out socket error.
    void waitWritable();

    // Returns the error "Socket Error # <number>" CR LF "<system text>" for a system error
    // number.
    static Error socketError(int errorNumber);

private:
    // Returns the wait shortened to what is left before the deadline (never negative).
    std::chrono::milliseconds boundedByDeadline(std::chrono::milliseconds wait) const;

    Handle m_handle = kNoHandle;
    std::chrono::milliseconds m_ioTimeout;
    Clock::time_point m_deadline;
};

}  // namespace quelvar
