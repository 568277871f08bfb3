#include "status/ConnectionCounter.h"

namespace quelvar::status {

ConnectionCounter::Verdict ConnectionCounter::admits(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    if (m_open >= m_total) {
        return Verdict::TotalLimit;
    }
    if (m_perClient != 0) {
        const auto it = m_byClient.find(key);
        if (it != m_byClient.end() && it->second >= m_perClient) {
            return Verdict::ClientLimit;
        }
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
