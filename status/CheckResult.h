#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar::status {

// Durations of the phases of one hop, in milliseconds. A reused connection has no name
// lookup, connect or TLS phase.
struct HopTimings {
    long dnsMs = 0;
    long connectMs = 0;
    long tlsMs = 0;
    long firstByteMs = 0;
    long totalMs = 0;
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

// The outcome of one check: the replies in order and, when a hop got no reply or the chain was
// cut short, the failure's name.
struct CheckResult {
    std::string requestUrl;
    std::vector<ChainEntry> chain;
    std::optional<std::string> code;
    std::chrono::milliseconds duration{0};

    // Returns the last reply's status code, or 0 without any reply.
    int status() const { return chain.empty() ? 0 : chain.back().statusCode; }
};

}  // namespace quelvar::status
