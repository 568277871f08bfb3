#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/http/SocketTransport.h"

namespace quelvar::test {

std::string socketFailure(SocketFailure failure) {
    switch (failure) {
        case SocketFailure::TimedOut:
            return "Socket Error # 110\r\nConnection timed out";
        case SocketFailure::Reset:
            return "Socket Error # 104\r\nConnection reset by peer";
        case SocketFailure::Refused:
            return "Socket Error # 111\r\nConnection refused";
        // The resolver's own codes (negative on glibc) with its texts.
        case SocketFailure::NameNotResolved:
            return "Socket Error # -2\r\nName or service not known";
        case SocketFailure::NoAddressOfFamily:
            return "Socket Error # -9\r\nAddress family for hostname not supported";
    }
    return {};
}

FullListener::FullListener() {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    m_listener = listener;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), length);
    listen(listener, 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    for (int i = 0; i < 16 && !m_full; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        connect(fd, reinterpret_cast<sockaddr*>(&address), length);
        m_fillers.push_back(fd);
        pollfd entry{fd, POLLOUT, 0};
        m_full = poll(&entry, 1, 300) == 0;
    }
}

FullListener::~FullListener() {
    for (const long long fd : m_fillers) {
        close(static_cast<int>(fd));
    }
    close(static_cast<int>(m_listener));
}

}  // namespace quelvar::test
