#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "http/ByteSource.h"
#include "http/Error.h"

namespace quelvar {

enum class AddressFamily { IPv4, IPv6 };

// A connected TCP socket whose connect and every wait for the peer are bounded in time.
class SocketConnection : public ByteSource {
public:
    // Resolves the host in the given family and connects to the first address that answers;
    // throws the socket error of the last failure.
    SocketConnection(const std::string& host, const std::string& port, AddressFamily family,
                     std::chrono::milliseconds connectTimeout, std::chrono::milliseconds ioTimeout);
    ~SocketConnection() override;
    SocketConnection(const SocketConnection&) = delete;
    SocketConnection& operator=(const SocketConnection&) = delete;

    std::size_t read(char* buffer, std::size_t size) override;
    // Sends every byte of data; throws the socket error when sending fails or times out.
    void writeAll(std::string_view data);

    // Waits until the socket can be read; throws the time-out socket error.
    void waitReadable();
    // Waits until the socket can be written; throws the time-out socket error.
    void waitWritable();

    // Returns the descriptor of the connected socket (non-blocking).
    int descriptor() const { return m_fd; }

    // Returns the error "Socket Error # <number>" CR LF "<system text>" for an errno value.
    static Error socketError(int errorNumber);

private:
    void waitFor(short events);

    int m_fd = -1;
    std::chrono::milliseconds m_ioTimeout;
};

}  // namespace quelvar
