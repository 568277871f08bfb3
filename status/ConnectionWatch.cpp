#include "status/ConnectionWatch.h"

#include <poll.h>

namespace quelvar::status {

void WatchedConnection::enter(Phase next, Clock::duration timeLimit, Clock::time_point now) {
    phase = next;
    phaseStarted = now;
    heardFrom = now;
    deadline = timeLimit == Clock::duration::max() ? Clock::time_point::max() : now + timeLimit;
}

void ConnectionWatch::remove(WatchedConnection* connection) {
    m_connections.erase(connection);
    m_checking.erase(connection);
}

std::vector<WatchedConnection*> ConnectionWatch::connections() const {
    return {m_connections.begin(), m_connections.end()};
}

std::vector<ConnectionWatch::Expiry> ConnectionWatch::expired(Clock::time_point now) const {
    using Phase = WatchedConnection::Phase;
    std::vector<Expiry> expired;
    for (WatchedConnection* connection : m_connections) {
        const Phase phase = connection->phase;
        if (connection->dropped) {
            continue;
        }
        if (now >= connection->deadline) {
            expired.push_back({connection, phase == Phase::Body      ? "body_timeout"
                                           : phase == Phase::Head    ? "header_timeout"
                                           : phase == Phase::Closing ? ""
                                                                     : "idle_timeout"});
        } else if (phase != Phase::Check && phase != Phase::Closing &&
                   now - connection->heardFrom >= m_quietLimit) {
            expired.push_back({connection, "idle_timeout"});
        }
    }
    return expired;
}

WatchedConnection* ConnectionWatch::oldestWaiting() const {
    // The oldest waiter goes first: a client that sends its head at once is the newest waiter
    // until it has sent it.
    WatchedConnection* oldest = nullptr;
    for (WatchedConnection* connection : m_connections) {
        const bool waiting = connection->phase == WatchedConnection::Phase::Head ||
                             connection->phase == WatchedConnection::Phase::Idle;
        if (waiting && !connection->dropped &&
            (oldest == nullptr || connection->phaseStarted < oldest->phaseStarted)) {
            oldest = connection;
        }
    }
    return oldest;
}

std::vector<WatchedConnection*> ConnectionWatch::departed() const {
    std::vector<pollfd> polled;
    std::vector<WatchedConnection*> owners;
    for (WatchedConnection* connection : m_checking) {
        const int socket = connection->socket();
        if (socket >= 0 && !connection->dropped) {
            polled.push_back({socket, POLLRDHUP, 0});
            owners.push_back(connection);
        }
    }
    std::vector<WatchedConnection*> gone;
    if (polled.empty() || poll(polled.data(), polled.size(), 0) <= 0) {
        return gone;
    }
    for (std::size_t i = 0; i < polled.size(); ++i) {
        if ((polled[i].revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
            gone.push_back(owners[i]);
        }
    }
    return gone;
}

}  // namespace quelvar::status
