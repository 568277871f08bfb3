#include "status/ClientWatch.h"

#include <poll.h>

namespace quelvar::status {

std::vector<int> ClientWatch::departed(const std::vector<int>& sockets) {
    std::vector<pollfd> polled;
    polled.reserve(sockets.size());
    for (const int socket : sockets) {
        polled.push_back({socket, POLLRDHUP, 0});
    }
    std::vector<int> gone;
    if (polled.empty() || poll(polled.data(), polled.size(), 0) <= 0) {
        return gone;
    }
    for (const pollfd& entry : polled) {
        if ((entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
            gone.push_back(entry.fd);
        }
    }
    return gone;
}

}  // namespace quelvar::status
