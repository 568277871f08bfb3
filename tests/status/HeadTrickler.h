#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace quelvar::test {

// Clients that each open connections to a loopback port from their own loopback address
// (127.0.1.x and the like), send the start of a request head and then one byte of it per
// round, and open a new connection at once when the service closes one: the service's slots
// stay taken as long as it lets them. Runs on a thread of its own until destroyed.
class HeadTrickler {
public:
    HeadTrickler(std::uint16_t port, std::vector<std::string> addresses, int perAddress,
                 std::chrono::milliseconds round = std::chrono::milliseconds(100));
    ~HeadTrickler();
    HeadTrickler(const HeadTrickler&) = delete;
    HeadTrickler& operator=(const HeadTrickler&) = delete;

    // Returns how many connections the service has closed so far.
    int closedByService() const { return m_closed.load(); }
    // Returns how many connections are open now.
    int open() const { return m_open.load(); }

private:
    struct Slot {
        std::string from;
        int fd = -1;
    };

    int connectFrom(const std::string& from) const;
    void run();

    std::uint16_t m_port;
    std::vector<std::string> m_addresses;
    int m_perAddress;
    std::chrono::milliseconds m_round;
    std::vector<Slot> m_slots;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_closed{0};
    std::atomic<int> m_open{0};
    std::thread m_thread;
};

}  // namespace quelvar::test
