#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "status/Limits.h"
#include "status/Log.h"

namespace quelvar::status {

// An address and port to listen on, as "ADDR:PORT" or "[ADDR6]:PORT" on the command line.
struct ListenAddress {
    std::string address;
    std::uint16_t port = 0;

    // Parses "ADDR:PORT"; throws ServiceError when it is not a numeric address and a port.
    static ListenAddress parse(const std::string& text);
    // Returns "ADDR:PORT", brackets around IPv6.
    std::string toString() const;
};

// The service's command line.
struct ServiceOptions {
    ListenAddress listen{"127.0.0.1", 8080};
    // A plain-HTTP listener answering only /healthcheck.
    std::optional<ListenAddress> healthListen;
    std::string tlsCertFile;
    std::string tlsKeyFile;
    std::string caFile;
    bool allowPrivate = false;
    unsigned maxChecks = Limits::kMaxChecks;
    unsigned ratePerMinute = Limits::kRatePerMinute;
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds checkTimeout{20000};
    unsigned maxConnections = Limits::kMaxConnections;
    unsigned maxConnectionsPerClient = Limits::kMaxConnectionsPerClient;
    unsigned idleTimeoutSeconds = Limits::kIdleTimeoutSeconds;
    std::chrono::milliseconds headerTimeout = Limits::kHeaderTimeout;
    int ipv6PrefixLength = Limits::kIpv6PrefixLength;
    LogLevel logLevel = LogLevel::Info;
    std::chrono::milliseconds graceTime{25000};
    bool demo = false;
    // Serves a self-signed certificate for the public name while --tls-cert and --tls-key are
    // both missing.
    bool selfSignedIfMissing = false;
    std::string stateDirectory;  // empty: SelfSignedCertificate::defaultDirectory()
    // The host name (or IP address) clients reach the service by; empty: the certificate's,
    // or for the self-signed certificate the host's own name.
    std::string publicName;
    bool printClientConfig = false;
    bool help = false;

    // Parses the arguments after the program name; throws ServiceError naming the first bad
    // option. --demo fills in what its mode needs unless given explicitly.
    static ServiceOptions parse(const std::vector<std::string>& arguments);
    // Returns whether the text is a DNS host name (letters, digits and hyphens in dot-separated
    // labels) or a numeric IPv4 or IPv6 address.
    static bool isPublicName(const std::string& text);
    // Returns the --help text.
    static std::string usage();
};

}  // namespace quelvar::status
