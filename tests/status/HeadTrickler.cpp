#include "tests/status/HeadTrickler.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quelvar::test {

HeadTrickler::HeadTrickler(std::uint16_t port, std::vector<std::string> addresses, int perAddress,
                           std::chrono::milliseconds round)
    : m_port(port), m_addresses(std::move(addresses)), m_perAddress(perAddress), m_round(round) {
    m_thread = std::thread([this] { run(); });
}

HeadTrickler::~HeadTrickler() {
    m_stop = true;
    m_thread.join();
    for (const Slot& slot : m_slots) {
        if (slot.fd >= 0) {
            ::close(slot.fd);
        }
    }
}

int HeadTrickler::connectFrom(const std::string& from) const {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    remote.sin_port = htons(m_port);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    static const std::string kStart = "GET /healthcheck HTTP/1.1\r\nHost: x\r\nX-Slow: ";
    (void)::send(fd, kStart.data(), kStart.size(), MSG_NOSIGNAL);
    return fd;
}

void HeadTrickler::run() {
    for (const std::string& from : m_addresses) {
        for (int i = 0; i < m_perAddress; ++i) {
            m_slots.push_back({from, -1});
        }
    }
    std::vector<pollfd> polled;
    while (!m_stop) {
        polled.clear();
        int open = 0;
        for (Slot& slot : m_slots) {
            if (slot.fd < 0 && !m_stop) {
                slot.fd = connectFrom(slot.from);
            }
            open += slot.fd >= 0;
            polled.push_back({slot.fd, POLLIN, 0});
        }
        m_open = open;
        poll(polled.data(), polled.size(), 0);
        for (std::size_t i = 0; i < m_slots.size(); ++i) {
            Slot& slot = m_slots[i];
            if (slot.fd < 0) {
                continue;
            }
            char buffer[4096];
            const bool ended = (polled[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0 &&
                               ::recv(slot.fd, buffer, sizeof buffer, MSG_DONTWAIT) <= 0;
            if (ended || ::send(slot.fd, "a", 1, MSG_NOSIGNAL) != 1) {
                ::close(slot.fd);
                slot.fd = -1;
                ++m_closed;
            }
        }
        std::this_thread::sleep_for(m_round);
    }
}

}  // namespace quelvar::test
