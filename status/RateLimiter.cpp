#include "status/RateLimiter.h"

#include <algorithm>

namespace quelvar::status {

RateLimiter::RateLimiter(unsigned perMinute, std::size_t maxClients)
    : m_capacity(perMinute), m_perSecond(perMinute / 60.0), m_maxClients(maxClients) {}

bool RateLimiter::tryAcquire(const std::string& client, Clock::time_point now) {
    if (m_capacity <= 0) {
        return true;
    }
    std::lock_guard lock(m_mutex);
    auto it = m_buckets.find(client);
    if (it == m_buckets.end()) {
        if (m_buckets.size() >= m_maxClients) {
            prune(now);
            if (m_buckets.size() >= m_maxClients) {
                // Still full of active clients: refuse newcomers rather than grow without
                // bound or forget someone's spent allowance.
                return false;
            }
        }
        it = m_buckets.emplace(client, Bucket{m_capacity, now}).first;
    }
    Bucket& bucket = it->second;
    const double elapsed = std::chrono::duration<double>(now - bucket.updated).count();
    bucket.tokens = std::min(m_capacity, bucket.tokens + std::max(0.0, elapsed) * m_perSecond);
    bucket.updated = std::max(bucket.updated, now);
    if (bucket.tokens < 1.0) {
        return false;
    }
    bucket.tokens -= 1.0;
    return true;
}

std::size_t RateLimiter::clientCount() const {
    std::lock_guard lock(m_mutex);
    return m_buckets.size();
}

void RateLimiter::prune(Clock::time_point now) {
    // A bucket that has refilled completely carries no information and can go.
    std::erase_if(m_buckets, [&](const auto& item) {
        const double elapsed = std::chrono::duration<double>(now - item.second.updated).count();
        return item.second.tokens + elapsed * m_perSecond >= m_capacity;
    });
}

}  // namespace quelvar::status
