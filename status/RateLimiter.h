#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace quelvar::status {

// Limits checks per client (named by ClientAddress::limitKey) with a token bucket: a client may
// burst up to the rate and then gets one check every 60 s / rate. The table of clients is
// bounded.
class RateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    // A rate of 0 turns the limit off.
    explicit RateLimiter(unsigned perMinute, std::size_t maxClients = 100000);

    // Takes one check from the client's allowance; returns false when none is left.
    bool tryAcquire(const std::string& client, Clock::time_point now = Clock::now());

    // Returns the number of clients in the table.
    std::size_t clientCount() const;

private:
    struct Bucket {
        double tokens;
        Clock::time_point updated;
    };

    void prune(Clock::time_point now);

    double m_capacity;
    double m_perSecond;
    std::size_t m_maxClients;
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, Bucket> m_buckets;
};

}  // namespace quelvar::status
