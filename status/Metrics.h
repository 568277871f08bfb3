#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace quelvar::status {

// The counters behind GET /metrics, rendered in the Prometheus text format.
class Metrics {
public:
    // The histogram's buckets reach the check time-out and one bucket past it, where the
    // checks that timed out land (they end a little after it).
    explicit Metrics(std::chrono::milliseconds checkTimeout = std::chrono::seconds(20));

    // Returns the upper bounds of the duration histogram's buckets, in seconds.
    const std::vector<double>& durationBuckets() const { return m_buckets; }

    // Counts a finished check under its code ("none" for a check without failure).
    void recordCheck(const std::string& code, std::chrono::microseconds duration);
    // Counts a check cancelled because its client closed or reset the connection.
    void recordAbandoned();
    // Counts a request refused with this HTTP status, by the service or by the HTTP layer.
    void recordRejection(int httpStatus);
    // Counts a connection refused at accept; reason is "total" or "per_client".
    void recordConnectionRefused(const std::string& reason);
    // Counts a connection closed by the service; reason is "header_timeout", "body_timeout" or
    // "evicted" (its slot given to a new connection at the total limit).
    void recordConnectionDropped(const std::string& reason);
    // Counts a message of the HTTP layer about one client's connection (kept out of the log at
    // the default level), by kind.
    void recordClientError(const std::string& kind);
    void connectionOpened() { ++m_openConnections; }
    void connectionClosed() { --m_openConnections; }
    void checkStarted() { ++m_inFlight; }
    void checkFinished() { --m_inFlight; }
    std::int64_t inFlight() const { return m_inFlight.load(); }

    // Returns the Prometheus text exposition of every metric.
    std::string render() const;

private:
    std::vector<double> m_buckets;
    mutable std::mutex m_mutex;
    std::map<std::string, std::uint64_t> m_checksByCode;
    std::map<int, std::uint64_t> m_rejections;
    std::map<std::string, std::uint64_t> m_connectionsRefused;
    std::map<std::string, std::uint64_t> m_connectionsDropped;
    std::map<std::string, std::uint64_t> m_clientErrors;
    std::uint64_t m_abandoned = 0;
    std::vector<std::uint64_t> m_bucketCounts;
    std::uint64_t m_latencyCount = 0;
    double m_latencySum = 0;
    std::atomic<std::int64_t> m_inFlight{0};
    std::atomic<std::int64_t> m_openConnections{0};
};

}  // namespace quelvar::status
