#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "terminal/TerminalTab.h"

namespace quelvar {

// One half of a check run as quelvar-check --json reports it.
struct HalfReport {
    TerminalTab::PairState verdict = TerminalTab::PairState::None;
    TerminalTab::HalfRecord record;
};

// A whole check run as quelvar-check --json reports it.
struct RunReport {
    std::string_view tab;
    std::string statusEndpoint;
    // Where the endpoint came from: "--status-url", the path of the quelvar.ini read, or
    // "built-in".
    std::string statusEndpointSource;
    HalfReport external;
    HalfReport internal;
    std::chrono::milliseconds duration{0};
};

// Returns the report as one JSON object on one line, followed by a line feed:
//   {"tab":"web","statusEndpoint":"...","statusEndpointSource":"...",
//    "external":{"verdict":"green","line":"...","cause":"...","durationMs":12},
//    "internal":{"verdict":"none","line":null,"cause":"...","durationMs":3},"durationMs":1017}
// Texts are written as UTF-8; a byte that is not part of valid UTF-8 becomes U+FFFD.
std::string jsonReport(const RunReport& report);

}  // namespace quelvar
