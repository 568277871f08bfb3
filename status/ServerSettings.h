#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "status/Limits.h"

namespace quelvar::status {

// Which paths a listener answers.
enum class Routes {
    All,         // POST /v1/status, GET /healthcheck, GET /metrics
    HealthOnly,  // GET /healthcheck
};

// How a listener binds and what it allows each client.
struct ServerSettings {
    std::string address = "127.0.0.1";
    std::uint16_t port = 8080;
    // HTTPS when both are given; replaceKeyPair swaps the pair while the server runs.
    std::string tlsCertPem;
    std::string tlsKeyPem;
    Routes routes = Routes::All;
    unsigned maxChecks = Limits::kMaxChecks;
    unsigned ratePerMinute = Limits::kRatePerMinute;
    unsigned maxConnections = Limits::kMaxConnections;
    unsigned maxConnectionsPerClient = Limits::kMaxConnectionsPerClient;
    // How many leading bits of an IPv6 address name one client for the per-client limits.
    int ipv6PrefixLength = Limits::kIpv6PrefixLength;
    unsigned idleTimeoutSeconds = Limits::kIdleTimeoutSeconds;
    // The longest a client may take to send a request head (TLS handshake, request line and
    // header lines), however steadily the bytes come: counted from the connection's start, or
    // from the first byte of a later request on a kept-alive connection.
    std::chrono::milliseconds headerTimeout = Limits::kHeaderTimeout;
    // The longest a client may take to send its request body, counted from the end of its head.
    std::chrono::milliseconds bodyTimeout = Limits::kBodyTimeout;
    std::size_t maxBodyBytes = Limits::kMaxBodyBytes;
};

}  // namespace quelvar::status
