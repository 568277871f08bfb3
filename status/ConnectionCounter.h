#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace quelvar::status {

// Counts open client connections in total and per client (by ClientAddress::limitKey), and
// says whether one more may be accepted.
class ConnectionCounter {
public:
    enum class Verdict { Admitted, TotalLimit, ClientLimit };

    // A perClient of 0 turns the per-client limit off.
    ConnectionCounter(std::size_t total, std::size_t perClient)
        : m_total(total), m_perClient(perClient) {}

    // Returns whether a new connection of the client may be accepted now; the per-client limit
    // is judged before the total.
    Verdict admits(const std::string& key) const;
    // Counts an accepted connection, and its end.
    void opened(const std::string& key);
    void closed(const std::string& key);
    // Returns the number of open connections.
    std::size_t open() const;

private:
    std::size_t m_total;
    std::size_t m_perClient;
    mutable std::mutex m_mutex;
    std::size_t m_open = 0;
    std::unordered_map<std::string, std::size_t> m_byClient;
};

}  // namespace quelvar::status
