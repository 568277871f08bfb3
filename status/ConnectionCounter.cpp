#include "status/ConnectionCounter.h"

namespace quelvar::status {

ConnectionCounter::Verdict ConnectionCounter::admits(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    // The client's own allowance first: a client at its limit is refused whatever the total,
    // and TotalLimit names a client within its allowance, which may take a waiting slot.
    if (m_perClient != 0) {
        const auto it = m_byClient.find(key);
        if (it != m_byClient.end() && it->second >= m_perClient) {
            return Verdict::ClientLimit;
        }
    }
    if (m_open >= m_total) {
        return Verdict::TotalLimit;
    }
    return Verdict::Admitted;
}

void ConnectionCounter::opened(const std::string& key) {
    std::lock_guard lock(m_mutex);
    ++m_open;
    ++m_byClient[key];
}

void ConnectionCounter::closed(const std::string& key) {
    std::lock_guard lock(m_mutex);
    if (m_open > 0) {
        --m_open;
    }
    const auto it = m_byClient.find(key);
    if (it != m_byClient.end() && --it->second == 0) {
        m_byClient.erase(it);
    }
}

std::size_t ConnectionCounter::open() const {
    std::lock_guard lock(m_mutex);
    return m_open;
}

}  // namespace quelvar::status
