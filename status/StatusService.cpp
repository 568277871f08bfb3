#include "status/StatusService.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "status/DemoCertificate.h"
#include "status/ServiceError.h"

namespace quelvar::status {

namespace {

std::string readFile(const std::string& path, const char* what) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in || text.str().empty()) {
        throw ServiceError(std::string("cannot read the ") + what + " " + path);
    }
    return text.str();
}

}  // namespace

StatusService::StatusService(ServiceSettings settings, LogSink log)
    : m_metrics(settings.engine.checkTimeout) {
    m_engine = std::make_unique<CheckEngine>(std::move(settings.engine));
    try {
        m_server = std::make_unique<StatusServer>(std::move(settings.server), m_engine.get(),
                                                  m_metrics, log);
        if (settings.health) {
            m_health = std::make_unique<StatusServer>(std::move(*settings.health), nullptr,
                                                      m_metrics, log);
        }
    } catch (...) {
        m_engine->stop();
        throw;
    }
}

StatusService::~StatusService() {
    shutdown(std::chrono::milliseconds(0));
}

std::optional<std::uint16_t> StatusService::healthPort() const {
    if (!m_health) {
        return std::nullopt;
    }
    return m_health->port();
}

bool StatusService::shutdown(std::chrono::milliseconds grace) {
    if (m_stopped) {
        return true;
    }
    m_stopped = true;
    m_server->stopAccepting();
    if (m_health) {
        m_health->stopAccepting();
    }
    const bool answered = m_server->waitUntilIdle(grace);
    // Checks still running are completed with ECANCELED, which resumes and answers their
    // connections before the front goes.
    m_engine->stop();
    m_server->waitUntilIdle(std::chrono::milliseconds(500));
    m_health.reset();
    m_server.reset();
    return answered;
}

ServiceSettings StatusService::settingsFrom(const ServiceOptions& options, const LogSink& log) {
    ServiceSettings settings;
    settings.engine.policy = options.allowPrivate ? AddressPolicy::allowAll() : AddressPolicy();
    settings.engine.connectTimeout = options.connectTimeout;
    settings.engine.checkTimeout = options.checkTimeout;
    settings.engine.caFile = options.caFile;

    ServerSettings& server = settings.server;
    server.address = options.listen.address;
    server.port = options.listen.port;
    server.maxChecks = options.maxChecks;
    server.ratePerMinute = options.ratePerMinute;
    server.maxConnections = options.maxConnections;
    server.maxConnectionsPerClient = options.maxConnectionsPerClient;
    server.idleTimeoutSeconds = options.idleTimeoutSeconds;
    server.headerTimeout = options.headerTimeout;
    server.ipv6PrefixLength = options.ipv6PrefixLength;
    if (!options.tlsCertFile.empty()) {
        server.tlsCertPem = readFile(options.tlsCertFile, "TLS certificate");
        server.tlsKeyPem = readFile(options.tlsKeyFile, "TLS key");
    } else if (options.demo) {
        const std::string directory = options.stateDirectory.empty()
                                          ? DemoCertificate::defaultDirectory()
                                          : options.stateDirectory;
        const DemoCertificate demo = DemoCertificate::loadOrCreate(directory);
        server.tlsCertPem = demo.certPem();
        server.tlsKeyPem = demo.keyPem();
        log(LogLevel::Info, std::string(demo.created() ? "made" : "using") +
                                " the demo certificate " + demo.certPath());
    }
    if (options.healthListen) {
        ServerSettings health = server;
        health.address = options.healthListen->address;
        health.port = options.healthListen->port;
        health.tlsCertPem.clear();
        health.tlsKeyPem.clear();
        health.routes = Routes::HealthOnly;
        settings.health = std::move(health);
    }
    return settings;
}

LogSink StatusService::stderrLog(LogLevel minimum) {
    return [minimum](LogLevel level, const std::string& line) {
        if (level < minimum) {
            return;
        }
        // One write per line, so that lines from the two threads never interleave.
        const std::string text = line + "\n";
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    };
}

}  // namespace quelvar::status
