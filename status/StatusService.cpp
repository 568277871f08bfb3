#include "status/StatusService.h"

#include <cstdio>

#include "status/ServiceError.h"
#include "status/TlsKeyPair.h"

namespace quelvar::status {

namespace {

// Parses a loaded pair; throws ServiceError naming the certificate file.
std::shared_ptr<const TlsKeyPair> parsePair(const LoadedCertificate& loaded) {
    try {
        return std::make_shared<const TlsKeyPair>(loaded.certPem, loaded.keyPem);
    } catch (const ServiceError& error) {
        throw ServiceError(loaded.certPath + ": " + error.what());
    }
}

}  // namespace

StatusService::StatusService(ServiceSettings settings, LogSink log)
    : m_log(std::move(log)),
      m_certificates(std::move(settings.certificates)),
      m_metrics(settings.engine.checkTimeout) {
    std::optional<LoadedCertificate> loaded;
    std::shared_ptr<const TlsKeyPair> pair;
    if (m_certificates.enabled()) {
        loaded = m_certificates.load();
        pair = parsePair(*loaded);
        settings.server.tlsCertPem = loaded->certPem;
        settings.server.tlsKeyPem = loaded->keyPem;
    }
    m_engine = std::make_unique<CheckEngine>(std::move(settings.engine));
    try {
        m_server = std::make_unique<StatusServer>(std::move(settings.server), m_engine.get(),
                                                  m_metrics, m_log);
        if (settings.health) {
            m_health = std::make_unique<StatusServer>(std::move(*settings.health), nullptr,
                                                      m_metrics, m_log);
        }
    } catch (...) {
        m_engine->stop();
        throw;
    }
    if (loaded) {
        logServed(*loaded, *pair);
    }
}

bool StatusService::reloadCertificate() {
    if (!m_certificates.enabled() || !m_server->keyPair()) {
        log(LogLevel::Warning, "no certificate to read again: the service runs plain HTTP");
        return false;
    }
    try {
        const LoadedCertificate loaded = m_certificates.load();
        std::shared_ptr<const TlsKeyPair> pair = parsePair(loaded);
        m_server->replaceKeyPair(pair);
        logServed(loaded, *pair);
        return true;
    } catch (const ServiceError& error) {
        log(LogLevel::Error, std::string("keeping the certificate in use (SHA-256 fingerprint ") +
                                 m_server->keyPair()->fingerprint() + "): " + error.what());
        return false;
    }
}

void StatusService::log(LogLevel level, const std::string& line) const {
    if (m_log) {
        m_log(level, line);
    }
}

void StatusService::logServed(const LoadedCertificate& loaded, const TlsKeyPair& pair) const {
    switch (loaded.origin) {
        case CertificateOrigin::Demo:
            log(LogLevel::Info, std::string(loaded.created ? "made" : "using") +
                                    " the demo certificate " + loaded.certPath);
            break;
        case CertificateOrigin::SelfSigned:
            log(LogLevel::Info, "the configured TLS certificate and key are missing: " +
                                    std::string(loaded.created ? "made" : "using") +
                                    " a self-signed certificate for " + pair.hostName() +
                                    ", kept in " + loaded.certPath);
            break;
        case CertificateOrigin::Files:
            break;
    }
    std::string line = "serving the certificate " + loaded.certPath + " for " +
                       (pair.hostName().empty() ? "(no name)" : pair.hostName()) +
                       ", SHA-256 fingerprint " + pair.fingerprint();
    if (pair.selfSigned()) {
        // What the operator must know: Quelvar repeats a request whose certificate fails
        // verification and accepts it, other clients do not.
        line +=
            "; it is self-signed: Quelvar accepts it, clients that verify certificates "
            "refuse it";
    }
    log(LogLevel::Info, line);
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

ServiceSettings StatusService::settingsFrom(const ServiceOptions& options) {
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
    settings.certificates = CertificateSource::fromOptions(options);
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
