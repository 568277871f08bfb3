#pragma once

#include <chrono>
#include <cstddef>

namespace quelvar::status {

// The defaults of the limits a listener keeps, shared by the command line and the server.
struct Limits {
    static constexpr unsigned kMaxChecks = 512;
    static constexpr unsigned kRatePerMinute = 60;
    static constexpr unsigned kMaxConnections = 1024;
    static constexpr unsigned kMaxConnectionsPerClient = 32;
    static constexpr int kIpv6PrefixLength = 64;
    static constexpr unsigned kIdleTimeoutSeconds = 15;
    static constexpr std::chrono::milliseconds kHeaderTimeout{10000};
    static constexpr std::chrono::milliseconds kBodyTimeout{10000};
    static constexpr std::size_t kMaxBodyBytes = 16 * 1024;
};

}  // namespace quelvar::status
