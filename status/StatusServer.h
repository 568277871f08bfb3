#pragma once

#include <microhttpd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "status/CheckResult.h"

#include "status/RateLimiter.h"

namespace quelvar::status {

class CheckEngine;
class Metrics;

// Which paths a listener answers.
enum class Routes {
    All,         // POST /v1/status, GET /healthcheck, GET /metrics
    HealthOnly,  // GET /healthcheck
};

// How a listener binds and what it allows each client.
struct ServerSettings {
    std::string address = "127.0.0.1";
    std::uint16_t port = 8080;
    // HTTPS when both are given.
    std::string tlsCertPem;
    std::string tlsKeyPem;
    Routes routes = Routes::All;
    unsigned maxChecks = 512;
    unsigned ratePerMinute = 60;
    unsigned maxConnections = 1024;
    unsigned maxConnectionsPerClient = 32;
    unsigned idleTimeoutSeconds = 15;
    // The longest a client may take to send its request body.
    std::chrono::milliseconds bodyTimeout{10000};
    std::size_t maxBodyBytes = 16 * 1024;
};

using LogSink = std::function<void(const std::string& line)>;

// The HTTP front on libmicrohttpd: one polling thread, each check's connection suspended until
// the engine completes it.
class StatusServer {
public:
    // Starts listening; throws ServiceError when the daemon cannot start. The engine may be
    // null for a HealthOnly listener; it must be stopped before this server is destroyed.
    StatusServer(ServerSettings settings, CheckEngine* engine, Metrics& metrics, LogSink log);
    ~StatusServer();
    StatusServer(const StatusServer&) = delete;
    StatusServer& operator=(const StatusServer&) = delete;

    // Returns the port bound (useful with port 0).
    std::uint16_t port() const { return m_port; }
    // Closes the listening socket; connections already open are served to their end.
    void stopAccepting();
    // Waits until no request is open, for at most the grace time; returns whether none is.
    bool waitUntilIdle(std::chrono::milliseconds grace);
    // Returns the number of checks whose connection waits for the engine.
    std::size_t pendingChecks() const { return m_pending.load(); }

private:
    struct Request;

    static MHD_Result onAccess(void* self, MHD_Connection* connection, const char* url,
                               const char* method, const char* version, const char* uploadData,
                               std::size_t* uploadDataSize, void** context);
    static void onCompleted(void* self, MHD_Connection* connection, void** context,
                            MHD_RequestTerminationCode code);
    static void onDaemonLog(void* self, const char* format, va_list arguments);
    MHD_Result begin(MHD_Connection* connection, Request& request, const char* url,
                     const char* method);
    MHD_Result receive(MHD_Connection* connection, Request& request, const char* uploadData,
                       std::size_t* uploadDataSize);
    MHD_Result dispatch(MHD_Connection* connection, const std::shared_ptr<Request>& request);
    MHD_Result startCheck(MHD_Connection* connection, const std::shared_ptr<Request>& request,
                          std::string url);
    MHD_Result reject(MHD_Connection* connection, int httpStatus, const std::string& message,
                      const std::string& allow = {});

    ServerSettings m_settings;
    CheckEngine* m_engine;
    Metrics& m_metrics;
    LogSink m_log;
    RateLimiter m_rateLimiter;
    MHD_Daemon* m_daemon = nullptr;
    std::uint16_t m_port = 0;
    bool m_accepting = true;

    std::atomic<std::size_t> m_pending{0};
    std::mutex m_openMutex;
    std::condition_variable m_openChanged;
    std::size_t m_openRequests = 0;
};

}  // namespace quelvar::status
