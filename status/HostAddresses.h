#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace quelvar::status {

// The addresses that belong to this host, read from its interfaces and read again once the
// last reading is older than the refresh interval, so that an address added later is known
// within that time. Safe to use from any thread.
class HostAddresses {
public:
    // Returns numeric addresses (IPv4 or IPv6 text); texts that are none are ignored.
    using Source = std::function<std::vector<std::string>()>;
    using Clock = std::chrono::steady_clock;
    // 16-byte IPv6 form, IPv4 as IPv4-mapped.
    using Bytes16 = std::array<std::uint8_t, 16>;

    explicit HostAddresses(Source source = &HostAddresses::interfaceAddresses,
                           std::chrono::milliseconds refresh = std::chrono::seconds(2));

    // Returns whether the address is one of the host's, reading them again when due.
    bool contains(const Bytes16& address, Clock::time_point now = Clock::now());

    // Returns the addresses of every interface (getifaddrs), or none when they cannot be read.
    static std::vector<std::string> interfaceAddresses();

private:
    Source m_source;
    std::chrono::milliseconds m_refresh;
    std::mutex m_mutex;
    std::vector<Bytes16> m_addresses;
    Clock::time_point m_readAt{};
    bool m_read = false;
};

}  // namespace quelvar::status
