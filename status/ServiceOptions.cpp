#include "status/ServiceOptions.h"

#include <arpa/inet.h>

#include <charconv>
#include <limits>

#include "status/ServiceError.h"

namespace quelvar::status {

namespace {

unsigned long long parseNumber(const std::string& option, const std::string& text,
                               unsigned long long minimum, unsigned long long maximum) {
    unsigned long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < minimum ||
        value > maximum) {
        throw ServiceError(option + " needs a number from " + std::to_string(minimum) + " to " +
                           std::to_string(maximum) + ", not \"" + text + "\"");
    }
    return value;
}

}  // namespace

ListenAddress ListenAddress::parse(const std::string& text) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size()) {
        throw ServiceError("not ADDR:PORT: \"" + text + "\"");
    }
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    unsigned char buffer[16];
    if (inet_pton(AF_INET, host.c_str(), buffer) != 1 &&
        inet_pton(AF_INET6, host.c_str(), buffer) != 1) {
        throw ServiceError("not a numeric address: \"" + host + "\"");
    }
    ListenAddress result;
    result.address = host;
    result.port =
        static_cast<std::uint16_t>(parseNumber("the port", text.substr(colon + 1), 0, 65535));
    return result;
}

std::string ListenAddress::toString() const {
    const bool v6 = address.find(':') != std::string::npos;
    return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

ServiceOptions ServiceOptions::parse(const std::vector<std::string>& arguments) {
    ServiceOptions options;
    bool listenGiven = false;
    bool healthGiven = false;
    constexpr auto kMax = std::numeric_limits<unsigned>::max();
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= arguments.size()) {
                throw ServiceError(option + " needs a value");
            }
            return arguments[++i];
        };
        auto number = [&](unsigned long long minimum, unsigned long long maximum) {
            return parseNumber(option, value(), minimum, maximum);
        };
        if (option == "--help" || option == "-h") {
            options.help = true;
        } else if (option == "--listen") {
            options.listen = ListenAddress::parse(value());
            listenGiven = true;
        } else if (option == "--health-listen") {
            options.healthListen = ListenAddress::parse(value());
            healthGiven = true;
        } else if (option == "--tls-cert") {
            options.tlsCertFile = value();
        } else if (option == "--tls-key") {
            options.tlsKeyFile = value();
        } else if (option == "--ca-file") {
            options.caFile = value();
        } else if (option == "--allow-private") {
            options.allowPrivate = true;
        } else if (option == "--max-checks") {
            options.maxChecks = static_cast<unsigned>(number(1, 1000000));
        } else if (option == "--rate-per-minute") {
            options.ratePerMinute = static_cast<unsigned>(number(0, kMax));
        } else if (option == "--connect-timeout-ms") {
            options.connectTimeout = std::chrono::milliseconds(number(1, 600000));
        } else if (option == "--check-timeout-ms") {
            options.checkTimeout = std::chrono::milliseconds(number(1, 600000));
        } else if (option == "--max-connections") {
            options.maxConnections = static_cast<unsigned>(number(1, 1000000));
        } else if (option == "--max-connections-per-client") {
            options.maxConnectionsPerClient = static_cast<unsigned>(number(0, 1000000));
        } else if (option == "--idle-timeout-s") {
            options.idleTimeoutSeconds = static_cast<unsigned>(number(1, 3600));
        } else if (option == "--header-timeout-s") {
            options.headerTimeout = std::chrono::seconds(number(1, 3600));
        } else if (option == "--ipv6-prefix-length") {
            options.ipv6PrefixLength = static_cast<int>(number(1, 128));
        } else if (option == "--log-level") {
            const std::string& name = value();
            const std::optional<LogLevel> level = parseLogLevel(name);
            if (!level) {
                throw ServiceError("--log-level needs debug, info, warning or error, not \"" +
                                   name + "\"");
            }
            options.logLevel = *level;
        } else if (option == "--grace-ms") {
            options.graceTime = std::chrono::milliseconds(number(0, 600000));
        } else if (option == "--state-dir") {
            options.stateDirectory = value();
        } else if (option == "--demo") {
            options.demo = true;
        } else if (option == "--self-signed-if-missing") {
            options.selfSignedIfMissing = true;
        } else if (option == "--public-name") {
            std::string name = value();
            if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
                name = name.substr(1, name.size() - 2);
            }
            if (!isPublicName(name)) {
                throw ServiceError("--public-name needs a host name or an IP address, not \"" +
                                   arguments[i] + "\"");
            }
            options.publicName = name;
        } else if (option == "--print-client-config") {
            options.printClientConfig = true;
        } else {
            throw ServiceError("unknown option " + option + " (see --help)");
        }
    }
    if (options.tlsCertFile.empty() != options.tlsKeyFile.empty()) {
        throw ServiceError("--tls-cert and --tls-key go together");
    }
    if (options.selfSignedIfMissing && options.tlsCertFile.empty()) {
        throw ServiceError("--self-signed-if-missing needs --tls-cert and --tls-key");
    }
    if (options.demo) {
        options.allowPrivate = true;
        if (!listenGiven) {
            options.listen = {"127.0.0.1", 8443};
        }
        if (!healthGiven) {
            options.healthListen = ListenAddress{"127.0.0.1", 8080};
        }
    }
    return options;
}

bool ServiceOptions::isPublicName(const std::string& text) {
    unsigned char address[16];
    if (inet_pton(AF_INET, text.c_str(), address) == 1 ||
        inet_pton(AF_INET6, text.c_str(), address) == 1) {
        return true;
    }
    // RFC 1123 section 2.1: labels of letters, digits and hyphens, neither starting nor
    // ending with a hyphen, of at most 63 characters, 253 in all.
    if (text.empty() || text.size() > 253) {
        return false;
    }
    std::size_t labelStart = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            const std::size_t length = i - labelStart;
            if (length == 0 || length > 63 || text[labelStart] == '-' || text[i - 1] == '-') {
                return false;
            }
            labelStart = i + 1;
            continue;
        }
        const char c = text[i];
        const bool allowed =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        if (!allowed) {
            return false;
        }
    }
    // A name of digits and dots only would be read as an IPv4 address.
    return text.find_first_not_of("0123456789.") != std::string::npos;
}

std::string ServiceOptions::usage() {
    return R"(Usage: quelvar-status [OPTION]...
Answers POST /v1/status {"requestUrl": "<url>"} by fetching the URL, following up to 10
redirects, and replying with the chain of statuses or the failure's code.

  --listen ADDR:PORT          address to serve on (default 127.0.0.1:8080; [::]:PORT for IPv6)
  --tls-cert FILE             PEM certificate (chain) to serve HTTPS with; needs --tls-key
  --tls-key FILE              PEM private key of --tls-cert
  --health-listen ADDR:PORT   extra plain-HTTP listener answering only GET /healthcheck
  --ca-file FILE              extra trust anchors (PEM) beside the system store
  --allow-private             also fetch loopback, private, link-local and other non-public
                              addresses (for demos and tests only; logged loudly)
  --max-checks N              concurrent checks before 503 (default 512)
  --rate-per-minute N         checks per client and minute before 429 (default 60; 0 turns
                              the limit off)
  --connect-timeout-ms N      connect time-out of each hop (default 10000)
  --check-timeout-ms N        time-out of a whole check, all hops (default 20000)
  --max-connections N         open client connections in total (default 1024)
  --max-connections-per-client N
                              open connections per client (default 32; 0: no limit)
  --ipv6-prefix-length N      IPv6 clients are counted by this prefix of their address for
                              the two per-client limits (default 64: one /64 is one client);
                              IPv4 clients by their address
  --idle-timeout-s N          closes a client connection idle this long (default 15)
  --header-timeout-s N        closes a connection whose request head (TLS handshake, request
                              line and headers) takes longer than this, however steadily it
                              comes: from the connection's start, or from the request line
                              of a later request on a kept-alive connection (default 10)
  --grace-ms N                on SIGTERM/SIGINT, time given to running checks (default 25000)
  --log-level LEVEL           debug, info (default), warning or error; debug adds what
                              single clients cause (refused and dropped connections, aborted
                              TLS handshakes, malformed requests)
  --demo                      HTTPS on 127.0.0.1:8443 with a self-signed certificate made on
                              first start, --allow-private, and /healthcheck on
                              127.0.0.1:8080
  --self-signed-if-missing    while the files of --tls-cert and --tls-key are both missing,
                              serves a self-signed certificate for the public name, made on
                              first start and kept in --state-dir; SIGHUP takes the files
                              once they are there
  --state-dir DIR             where --demo and --self-signed-if-missing keep their
                              certificate (default $XDG_STATE_HOME/quelvar-status or
                              ~/.local/state/quelvar-status)
  --public-name NAME          the host name (or IP address) clients reach this service by:
                              the name of the self-signed certificate (default: the host's
                              name) and of --print-client-config (default: the certificate's)
  --print-client-config       prints the quelvar.ini lines that point Quelvar at this service
                              ([status] and host = NAME, with :PORT unless the port is 443),
                              reading the same options as the service, and exits
  -h, --help                  shows this text

Also: GET /healthcheck (200) and GET /metrics (Prometheus text format). SIGHUP reads the
certificate and key again; connections and checks in flight are kept, and a bad new pair
leaves the old one in use. SIGTERM or SIGINT stops after the running checks.
)";
}

}  // namespace quelvar::status
