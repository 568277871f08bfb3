#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar::status {

// Durations of the phases of one hop, as precise as libcurl measures them. A reused
// connection has no name lookup, connect or TLS phase.
struct HopTimings {
    std::chrono::microseconds dns{0};
    std::chrono::microseconds connect{0};
    std::chrono::microseconds tls{0};
    std::chrono::microseconds firstByte{0};
    std::chrono::microseconds total{0};
};

// One HTTP reply of a check.
struct ChainEntry {
    std::string url;
    int statusCode = 0;
    std::string statusMessage;
    // The absolute target of the reply's Location header, when it has one.
    std::optional<std::string> redirectUrl;
    HopTimings timings;
    // Whole days until the server certificate expires, for https hops.
    std::optional<long> certificateExpiresInDays;

    // Returns the standard reason phrase of a status code, or the empty text for an unknown one.
    static std::string_view standardReasonPhrase(int statusCode);
};

// The code of a check the service stopped before it ended: at shutdown, or because its client
// went away.
inline constexpr std::string_view kCancelledCode = "ECANCELED";

// The outcome of one check: the replies in order and, when a hop got no reply or the chain was
// cut short, the failure's name.
struct CheckResult {
    std::string requestUrl;
    std::vector<ChainEntry> chain;
    std::optional<std::string> code;
    std::chrono::microseconds duration{0};

    // Returns the last reply's status code, or 0 without any reply.
    int status() const { return chain.empty() ? 0 : chain.back().statusCode; }
};

}  // namespace quelvar::status
