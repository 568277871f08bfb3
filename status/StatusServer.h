#pragma once

#include <gnutls/abstract.h>
#include <microhttpd.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>

#include "status/CheckEngine.h"
#include "status/CheckResult.h"
#include "status/ConnectionCounter.h"
#include "status/Log.h"
#include "status/RateLimiter.h"

namespace quelvar::status {

class Metrics;
class TlsKeyPair;

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
    unsigned maxChecks = 512;
    unsigned ratePerMinute = 60;
    unsigned maxConnections = 1024;
    unsigned maxConnectionsPerClient = 32;
    // How many leading bits of an IPv6 address name one client for the per-client limits.
    int ipv6PrefixLength = 64;
    unsigned idleTimeoutSeconds = 15;
    // The longest a client may take to send a request head (TLS handshake, request line and
    // header lines), however steadily the bytes come: counted from the connection's start, or
    // from the first byte of a later request on a kept-alive connection.
    std::chrono::milliseconds headerTimeout{10000};
    // The longest a client may take to send its request body, counted from the end of its head.
    std::chrono::milliseconds bodyTimeout{10000};
    std::size_t maxBodyBytes = 16 * 1024;
};

// The HTTP front on libmicrohttpd: one polling thread, each check's connection suspended until
// the engine completes it, and a watch thread that closes connections whose request comes too
// slowly and cancels checks whose client has gone.
class StatusServer {
public:
    // Starts listening; throws ServiceError when the daemon cannot start or the TLS pair is
    // bad. The engine may be
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
    // Returns the certificate and key that new TLS handshakes get; null for plain HTTP.
    std::shared_ptr<const TlsKeyPair> keyPair() const;
    // Serves the pair to every TLS handshake from now on; connections already open keep the
    // pair they were given, and nothing in flight is dropped.
    void replaceKeyPair(std::shared_ptr<const TlsKeyPair> pair);

private:
    struct Request;
    struct Connection;

    // Returns the state of a connection the daemon has told onConnection of.
    static Connection* connectionOf(MHD_Connection* connection);

    // The libmicrohttpd callbacks; none lets an exception through.
    static MHD_Result onAccept(void* self, const sockaddr* address, socklen_t length);
    static void onConnection(void* self, MHD_Connection* connection, void** socketContext,
                             MHD_ConnectionNotificationCode code);
    static void* onRequestLine(void* self, const char* uri, MHD_Connection* connection);
    static MHD_Result onAccess(void* self, MHD_Connection* connection, const char* url,
                               const char* method, const char* version, const char* uploadData,
                               std::size_t* uploadDataSize, void** context);
    static void onCompleted(void* self, MHD_Connection* connection, void** context,
                            MHD_RequestTerminationCode code);
    static void onDaemonLog(void* self, const char* format, va_list arguments);
    // GnuTLS's certificate callback (gnutls_certificate_retrieve_function2), asked once per
    // handshake.
    static int onCertificateRequest(gnutls_session_t session, const gnutls_datum_t*, int,
                                    const gnutls_pk_algorithm_t*, int,
                                    gnutls_pcert_st** certificates, unsigned* count,
                                    gnutls_privkey_t* key);

    // Whether a refused request's connection stays open for the next request.
    enum class AfterReply { KeepOpen, Close };

    MHD_Result access(MHD_Connection* connection, const std::shared_ptr<Request>& request,
                      const char* url, const char* method, const char* version,
                      const char* uploadData, std::size_t* uploadDataSize);
    MHD_Result begin(MHD_Connection* connection, Request& request, const char* url,
                     const char* method, const char* version);
    MHD_Result receive(MHD_Connection* connection, Request& request, const char* uploadData,
                       std::size_t* uploadDataSize);
    MHD_Result dispatch(MHD_Connection* connection, const std::shared_ptr<Request>& request);
    MHD_Result startCheck(MHD_Connection* connection, const std::shared_ptr<Request>& request,
                          std::string url);
    void checkDone(const std::shared_ptr<Request>& request, MHD_Connection* connection,
                   CheckResult result);
    MHD_Result reject(MHD_Connection* connection, int httpStatus, const std::string& message,
                      const std::string& allow = {}, AfterReply after = AfterReply::KeepOpen);
    void daemonMessage(std::string text);
    void answerBadFraming(int httpStatus, const std::string& message);
    // Closes the connection that has waited longest without a complete request head (or
    // between two requests), so that a new one can take its slot; returns whether there was
    // one.
    bool evictWaitingConnection();
    void watch();
    void log(LogLevel level, const std::string& line) const;

    ServerSettings m_settings;
    CheckEngine* m_engine;
    Metrics& m_metrics;
    LogSink m_log;
    RateLimiter m_rateLimiter;
    ConnectionCounter m_connectionCounter;
    MHD_Daemon* m_daemon = nullptr;
    std::uint16_t m_port = 0;
    bool m_tls = false;
    mutable std::mutex m_keyPairMutex;
    std::shared_ptr<const TlsKeyPair> m_keyPair;
    bool m_accepting = true;

    std::atomic<std::size_t> m_pending{0};
    std::mutex m_openMutex;
    std::condition_variable m_openChanged;
    std::size_t m_openRequests = 0;

    // The open connections, watched by the watch thread.
    std::mutex m_watchMutex;
    std::condition_variable m_watchWake;
    std::unordered_set<Connection*> m_connections;
    bool m_watchStop = false;
    std::thread m_watchThread;
};

}  // namespace quelvar::status
