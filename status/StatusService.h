#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "status/CertificateSource.h"
#include "status/CheckEngine.h"
#include "status/Metrics.h"
#include "status/ServiceOptions.h"
#include "status/StatusServer.h"

namespace quelvar::status {

// Everything one service runs with.
struct ServiceSettings {
    EngineSettings engine;
    ServerSettings server;
    std::optional<ServerSettings> health;
    // Where the main listener's certificate comes from, read at start (taking the place of
    // server.tlsCertPem and tlsKeyPem) and by reloadCertificate().
    CertificateSource certificates;
};

// The running service: the engine, the front and the optional health listener, started and
// stopped in the order that keeps every check's connection valid until it is answered.
class StatusService {
public:
    // Reads the certificate and starts everything; throws ServiceError when a listener cannot
    // start, or the certificate or the CA file is bad.
    StatusService(ServiceSettings settings, LogSink log);
    // Stops at once (no grace).
    ~StatusService();
    StatusService(const StatusService&) = delete;
    StatusService& operator=(const StatusService&) = delete;

    // Builds the settings from the command line (the certificate is read when the service
    // starts); throws ServiceError as CertificateSource::fromOptions does.
    static ServiceSettings settingsFrom(const ServiceOptions& options);
    // Returns a sink writing each line of this level or above to stderr.
    static LogSink stderrLog(LogLevel minimum = LogLevel::Info);

    std::uint16_t port() const { return m_server->port(); }
    std::optional<std::uint16_t> healthPort() const;

    // Stops accepting connections, gives running checks the grace time to be answered, then
    // stops; returns whether every request was answered in time. Idempotent.
    bool shutdown(std::chrono::milliseconds grace);

    // Reads the certificate and key again (or makes the self-signed one) and serves them to
    // new handshakes, keeping every connection and check in flight; keeps the pair in use and
    // logs why when the new one is bad. Returns whether the new pair is served.
    bool reloadCertificate();

    Metrics& metrics() { return m_metrics; }
    CheckEngine& engine() { return *m_engine; }

private:
    void log(LogLevel level, const std::string& line) const;
    // Logs which certificate is served, with its fingerprint.
    void logServed(const LoadedCertificate& loaded, const TlsKeyPair& pair) const;

    LogSink m_log;
    CertificateSource m_certificates;
    Metrics m_metrics;
    std::unique_ptr<CheckEngine> m_engine;
    std::unique_ptr<StatusServer> m_server;
    std::unique_ptr<StatusServer> m_health;
    bool m_stopped = false;
};

}  // namespace quelvar::status
