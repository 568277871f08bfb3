#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace quelvar::status {

// The counters behind GET /metrics, rendered in the Prometheus text format.
class Metrics {
public:
    // Upper bounds of the latency histogram's buckets, in seconds.
    static constexpr std::array<double, 10> kLatencyBuckets{0.01, 0.025, 0.05, 0.1, 0.25,
                                                            0.5,  1.0,   2.5,  5.0, 10.0};

    // Counts a finished check under its code ("none" for a check without failure).
    void recordCheck(const std::string& code, std::chrono::milliseconds duration);
    // Counts a request refused with this HTTP status.
    void recordRejection(int httpStatus);
    void checkStarted() { ++m_inFlight; }
    void checkFinished() { --m_inFlight; }
    std::int64_t inFlight() const { return m_inFlight.load(); }

    // Returns the Prometheus text exposition of every metric.
    std::string render() const;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::uint64_t> m_checksByCode;
    std::map<int, std::uint64_t> m_rejections;
    std::array<std::uint64_t, kLatencyBuckets.size()> m_bucketCounts{};
    std::uint64_t m_latencyCount = 0;
    double m_latencySum = 0;
    std::atomic<std::int64_t> m_inFlight{0};
};

}  // namespace quelvar::status
