#pragma once

#include <chrono>
#include <string>
#include <unordered_set>
#include <vector>

namespace quelvar::status {

// One client connection as the watch sees it, apart from its transport.
class WatchedConnection {
public:
    using Clock = std::chrono::steady_clock;

    // Head: receiving a request head (or the TLS handshake); Body: receiving its body; Check:
    // waiting for the engine; Reply: sending a reply; Idle: between requests of a kept-alive
    // connection; Closing: draining the client's last bytes after the last reply.
    enum class Phase { Head, Body, Check, Reply, Idle, Closing };

    virtual ~WatchedConnection() = default;
    // Closes the transport at once.
    virtual void drop() = 0;
    // Cancels the check whose client has gone, and closes.
    virtual void abandon() = 0;
    // Returns the connection's socket, or -1 once it is closed.
    virtual int socket() = 0;

    // Enters a phase that may last at most the time limit.
    void enter(Phase next, Clock::duration timeLimit, Clock::time_point now = Clock::now());

    Phase phase = Phase::Head;
    Clock::time_point phaseStarted = Clock::now();
    Clock::time_point deadline = Clock::time_point::max();
    // When the client last sent something.
    Clock::time_point heardFrom = Clock::now();
    std::string client;
    std::string limitKey;
    bool dropped = false;
};

// Watches the open connections: which have run out of time, which one gives its slot to a new
// connection at the total limit, and which have lost the client their check runs for.
class ConnectionWatch {
public:
    using Clock = WatchedConnection::Clock;

    // A connection quiet for the quiet limit is closed in every phase but a running check and
    // the drain after the last reply.
    explicit ConnectionWatch(Clock::duration quietLimit) : m_quietLimit(quietLimit) {}

    void add(WatchedConnection* connection) { m_connections.insert(connection); }
    void remove(WatchedConnection* connection);
    void checkStarted(WatchedConnection* connection) { m_checking.insert(connection); }
    void checkEnded(WatchedConnection* connection) { m_checking.erase(connection); }
    std::vector<WatchedConnection*> connections() const;

    struct Expiry {
        WatchedConnection* connection;
        // "header_timeout", "body_timeout" or "idle_timeout"; empty for a drain that ended.
        const char* reason;
    };
    // Returns the connections whose time is up, with the reason.
    std::vector<Expiry> expired(Clock::time_point now) const;
    // Returns the connection that has waited longest for a request head (or between two
    // requests), or null: a connection whose request is complete keeps its slot.
    WatchedConnection* oldestWaiting() const;
    // Returns the connections whose check runs and whose client has closed or reset its side;
    // such a connection is not read, so that shows only as the socket's state. Does not wait.
    std::vector<WatchedConnection*> departed() const;

private:
    Clock::duration m_quietLimit;
    std::unordered_set<WatchedConnection*> m_connections;
    std::unordered_set<WatchedConnection*> m_checking;
};

}  // namespace quelvar::status
