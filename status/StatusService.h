#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

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
};

// The running service: the engine, the front and the optional health listener, started and
// stopped in the order that keeps every check's connection valid until it is answered.
class StatusService {
public:
    // Starts everything; throws ServiceError when a listener cannot start or the CA file is bad.
    StatusService(ServiceSettings settings, LogSink log);
    // Stops at once (no grace).
    ~StatusService();
    StatusService(const StatusService&) = delete;
    StatusService& operator=(const StatusService&) = delete;

    // Builds the settings from the command line, reading the TLS files and, for --demo, the
    // demo certificate; throws ServiceError when a file cannot be read.
    static ServiceSettings settingsFrom(const ServiceOptions& options, const LogSink& log);
    // Returns a sink writing each line of this level or above to stderr.
    static LogSink stderrLog(LogLevel minimum = LogLevel::Info);

    std::uint16_t port() const { return m_server->port(); }
    std::optional<std::uint16_t> healthPort() const;

    // Stops accepting connections, gives running checks the grace time to be answered, then
    // stops; returns whether every request was answered in time. Idempotent.
    bool shutdown(std::chrono::milliseconds grace);

    Metrics& metrics() { return m_metrics; }
    CheckEngine& engine() { return *m_engine; }

private:
    Metrics m_metrics;
    std::unique_ptr<CheckEngine> m_engine;
    std::unique_ptr<StatusServer> m_server;
    std::unique_ptr<StatusServer> m_health;
    bool m_stopped = false;
};

}  // namespace quelvar::status
