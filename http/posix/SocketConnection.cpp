#include "http/SocketConnection.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace quelvar {

namespace {

using Clock = std::chrono::steady_clock;

// Waits for the events on fd until the deadline; returns false when the time ran out.
bool pollUntil(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, left < 0 ? 0 : static_cast<int>(left));
        if (ready > 0) {
            // Errors and hang-ups count as ready: the following call reports them.
            return true;
        }
        if (ready == 0) {
            return false;
        }
        if (errno != EINTR) {
            throw SocketConnection::socketError(errno);
        }
    }
}

void waitFor(int fd, short events, std::chrono::milliseconds timeout) {
    if (!pollUntil(fd, events, Clock::now() + timeout)) {
        throw SocketConnection::socketError(ETIMEDOUT);
    }
}

// Runs one non-blocking send or receive, again when a signal interrupted it.
template <typename Call>
SocketConnection::Attempt attemptOnce(Call call) {
    for (;;) {
        const ssize_t n = call();
        if (n >= 0) {
            return {static_cast<std::size_t>(n), false, 0};
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return {0, true, 0};
        }
        if (errno != EINTR) {
            return {0, false, errno};
        }
    }
}

struct AddressListDeleter {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

// Connects a new non-blocking socket to one address; returns the descriptor or -1 with errno.
int connectTo(const addrinfo& address, std::chrono::milliseconds timeout) {
    const int fd = socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                          address.ai_protocol);
    if (fd < 0) {
        return -1;
    }
    int error = 0;
    if (connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            // The operating system would wait minutes for an unanswered SYN; the bound keeps a
            // probe of an unreachable address as short as the reads.
            if (!pollUntil(fd, POLLOUT, Clock::now() + timeout)) {
                error = ETIMEDOUT;
            } else {
                socklen_t length = sizeof error;
                if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                    error = errno;
                }
            }
        }
    }
    if (error != 0) {
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

SocketConnection::SocketConnection(const std::string& host, const std::string& port,
                                   AddressFamily family, std::chrono::milliseconds connectTimeout,
                                   std::chrono::milliseconds ioTimeout, Clock::time_point deadline)
    : m_ioTimeout(ioTimeout), m_deadline(deadline) {
    addrinfo hints{};
    hints.ai_family = family == AddressFamily::IPv6 ? AF_INET6 : AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (resolved != 0) {
        if (resolved == EAI_SYSTEM) {
            throw socketError(errno);
        }
        // The resolver's codes are not errno values; they are reported as the resolver gives
        // them (negative on glibc), with its own text.
        throw Error("Socket Error # " + std::to_string(resolved) + "\r\n" + gai_strerror(resolved));
    }
    const std::unique_ptr<addrinfo, AddressListDeleter> addresses(found);

    int lastError = EHOSTUNREACH;
    for (const addrinfo* address = addresses.get(); address != nullptr;
         address = address->ai_next) {
        const int fd = connectTo(*address, boundedByDeadline(connectTimeout));
        if (fd >= 0) {
            m_handle = fd;
            return;
        }
        lastError = errno;
    }
    throw socketError(lastError);
}

SocketConnection::~SocketConnection() {
    if (m_handle != kNoHandle) {
        close(static_cast<int>(m_handle));
    }
}

SocketConnection::Attempt SocketConnection::trySend(const char* data, std::size_t size) {
    // MSG_NOSIGNAL: a peer that has gone must give EPIPE, not kill the process.
    return attemptOnce([&] { return send(static_cast<int>(m_handle), data, size, MSG_NOSIGNAL); });
}

SocketConnection::Attempt SocketConnection::tryReceive(char* buffer, std::size_t size) {
    return attemptOnce([&] { return recv(static_cast<int>(m_handle), buffer, size, 0); });
}

void SocketConnection::waitReadable() {
    waitFor(static_cast<int>(m_handle), POLLIN, boundedByDeadline(m_ioTimeout));
}

void SocketConnection::waitWritable() {
    waitFor(static_cast<int>(m_handle), POLLOUT, boundedByDeadline(m_ioTimeout));
}

Error SocketConnection::socketError(int errorNumber) {
    return Error("Socket Error # " + std::to_string(errorNumber) + "\r\n" +
                 std::strerror(errorNumber));
}

}  // namespace quelvar
