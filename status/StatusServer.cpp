#include "status/StatusServer.h"

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <linux/tcp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <optional>

#include "status/CheckEngine.h"
#include "status/ClientAddress.h"
#include "status/LoggedUrl.h"
#include "status/Metrics.h"
#include "status/ReplyWriter.h"
#include "status/ServiceError.h"
#include "status/StatusRequest.h"
#include "status/TlsKeyPair.h"
#include "text/Ascii.h"
#include "text/MediaType.h"

namespace quelvar::status {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kStatusPath = "/v1/status";
constexpr std::string_view kHealthPath = "/healthcheck";
constexpr std::string_view kMetricsPath = "/metrics";
// A refused request's body is still read (and dropped) up to this size, so that closing the
// connection never meets unread data, which would make TCP reset it and destroy the reply.
constexpr std::size_t kDiscardLimit = 1024 * 1024;

enum class Route { Status, Health, Metrics, Unknown };

// Returns whether a Content-Type header names application/json, parameters allowed.
bool isJsonMediaType(const char* header) {
    return header != nullptr && MediaType(header).type() == "application/json";
}

socklen_t addressLength(const sockaddr* address) {
    return address->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

// What libmicrohttpd says, at the level it matters to an operator. Whatever one client's
// connection causes (a refused or cut request, a reset, an aborted handshake, a reply it did not
// stay for) is routine on a public service: it goes to debug and is counted in /metrics by
// kind. What is left (a socket, thread or certificate the service cannot set up, accept
// failing at the descriptor limit) is for the operator.
struct DaemonMessage {
    LogLevel level;
    std::string text;
    std::string_view kind;  // the client error's kind, empty for an operator's message
};

DaemonMessage classifyDaemonMessage(const std::string& text) {
    // GnuTLS's message for any failed handshake, which a client that gives up (or retries with
    // another certificate store) causes every time.
    if (text.starts_with("Error: received handshake message out of context")) {
        return {LogLevel::Debug, "TLS handshake aborted by client", "tls_handshake"};
    }
    struct ClientCaused {
        std::string_view prefix;
        std::string_view kind;
    };
    static constexpr ClientCaused kClientCaused[] = {
        {"Error processing request", "bad_request"},
        {"Too late to send an error response", "bad_request"},
        {"Received HTTP/1.1 request without", "bad_request"},
        {"Too large value of 'Content-Length'", "bad_request"},
        {"Failed to parse `Content-Length'", "bad_request"},
        {"Not enough memory in pool", "too_large"},
        {"Closing connection (out of memory)", "too_large"},
        {"Socket has been disconnected", "closed_early"},
        {"Connection socket is closed when reading request", "closed_early"},
        {"Connection was closed by remote side", "closed_early"},
        {"Connection reset", "closed_early"},
        {"Failed to send data", "send_failed"},
        {"Failed to send the ", "send_failed"},
        {"Failed to push the data", "send_failed"},
        {"Server reached connection limit", "connection_limit"},
        {"Closing connection", "bad_request"},
    };
    for (const ClientCaused& entry : kClientCaused) {
        if (text.starts_with(entry.prefix)) {
            return {LogLevel::Debug, text, entry.kind};
        }
    }
    // GnuTLS's other handshake failures, which libmicrohttpd writes as "Error: <reason>"; the
    // two messages of that form about the daemon itself stay warnings.
    if (text.starts_with("Error: ") && !text.starts_with("Error: invalid credentials") &&
        !text.starts_with("Error: connection scheduled")) {
        return {LogLevel::Debug, "TLS handshake failed: " + text.substr(7), "tls_handshake"};
    }
    return {LogLevel::Warning, text, {}};
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

MHD_Result queue(MHD_Connection* connection, int httpStatus, const std::string& body,
                 const char* contentType,
                 const std::vector<std::pair<const char*, std::string>>& headers = {}) {
    MHD_Response* response = MHD_create_response_from_buffer(
        body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    for (const auto& [name, value] : headers) {
        MHD_add_response_header(response, name, value.c_str());
    }
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(httpStatus), response);
    MHD_destroy_response(response);
    return queued;
}

// Returns how many bytes the kernel has received on the TCP socket (0 when it cannot say).
// libmicrohttpd reads a kept-alive connection's next request into its own buffer and reports
// nothing until the request line is whole, so the first byte of a request trickled byte by
// byte shows only here.
std::uint64_t bytesReceived(int fd) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (fd < 0 || getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received) {
        return 0;
    }
    return info.tcpi_bytes_received;
}

}  // namespace

// One request on a connection, shared with the engine's completion while its check runs.
struct StatusServer::Request {
    enum class Phase { Receiving, Pending, Answered };

    Connection* connection = nullptr;
    bool begun = false;  // the access handler has seen the request's head
    Route route = Route::Unknown;
    Phase phase = Phase::Receiving;
    std::string client;
    std::size_t bodyBytes = 0;
    std::string body;
    std::optional<RequestRejection> rejection;
    std::string allow;  // the Allow header of a 405

    // Guarded by the server's watch mutex: the running check, and whether it has ended.
    CheckEngine::Ticket ticket = 0;
    bool checkEnded = false;
    // Set by the watch thread when the client closed or reset its connection.
    std::atomic<bool> abandoned{false};

    std::mutex mutex;
    std::optional<CheckResult> result;
};

// One client connection, from accept to close.
struct StatusServer::Connection {
    // Head: receiving a request head (or the TLS handshake); Body: receiving its body; Busy:
    // the request is complete and being answered; Idle: between requests of a kept-alive
    // connection, until the next request line.
    enum class Phase { Head, Body, Busy, Idle };

    StatusServer* server = nullptr;
    MHD_Connection* handle = nullptr;
    int fd = -1;
    // The certificate and key of this connection's handshake, kept for as long as the
    // connection lasts: GnuTLS keeps pointers to them in the session.
    std::shared_ptr<const TlsKeyPair> keyPair;
    std::string client;
    std::string limitKey;
    // Guarded by the server's watch mutex.
    Phase phase = Phase::Head;
    Clock::time_point phaseStarted;  // when the current phase began
    Clock::time_point deadline;
    // In Idle: the bytes the kernel had received from the client when the last request was
    // answered; more mean that the next request has begun.
    std::uint64_t receivedWhenIdle = 0;
    Request* current = nullptr;        // the request being received or answered
    std::shared_ptr<Request> pending;  // the request whose check runs, while suspended
    bool dropped = false;
};

namespace {

// What the request's header fields say about its framing, read in one pass.
struct HeaderScan {
    int contentLengths = 0;
    int transferEncodings = 0;
    int hosts = 0;
    bool badName = false;
    std::string_view transferEncoding;
};

// Returns whether the name is an RFC 9110 section 5.6.2 token. libmicrohttpd keeps a blank
// before the colon in the name ("Transfer-Encoding "), where RFC 9112 section 5.1 requires a
// 400, since a proxy in front may read the field as Transfer-Encoding and frame the message
// otherwise.
bool isToken(std::string_view name) {
    static constexpr std::string_view kMarks = "!#$%&'*+-.^_`|~";
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
               kMarks.find(c) != std::string_view::npos;
    });
}

MHD_Result scanHeader(void* scan, MHD_ValueKind, const char* key, std::size_t keySize,
                      const char* value, std::size_t valueSize) {
    auto& fields = *static_cast<HeaderScan*>(scan);
    const std::string_view name(key != nullptr ? key : "", key != nullptr ? keySize : 0);
    if (!isToken(name)) {
        fields.badName = true;
    } else if (equalsIgnoringCase(name, MHD_HTTP_HEADER_CONTENT_LENGTH)) {
        ++fields.contentLengths;
    } else if (equalsIgnoringCase(name, MHD_HTTP_HEADER_HOST)) {
        ++fields.hosts;
    } else if (equalsIgnoringCase(name, MHD_HTTP_HEADER_TRANSFER_ENCODING)) {
        ++fields.transferEncodings;
        fields.transferEncoding =
            trimBlanks(std::string_view(value != nullptr ? value : "", value ? valueSize : 0));
    }
    return MHD_YES;
}

// Returns the value of a hexadecimal digit, or -1.
int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Decodes %XX in a request's path and query in place, except %00: libmicrohttpd hands the
// path on as a C string, where a decoded NUL would end it early and "/healthcheck%00xyz"
// would be taken for "/healthcheck".
std::size_t unescapeUri(void*, MHD_Connection*, char* text) {
    char* out = text;
    for (const char* in = text; *in != '\0'; ++in) {
        if (in[0] == '%' && in[1] != '\0' && in[2] != '\0') {
            const int high = hexValue(in[1]);
            const int low = hexValue(in[2]);
            if (high >= 0 && low >= 0 && (high | low) != 0) {
                *out++ = static_cast<char>(high * 16 + low);
                in += 2;
                continue;
            }
        }
        *out++ = *in;
    }
    *out = '\0';
    return static_cast<std::size_t>(out - text);
}

// Returns the path of a request target: the origin form as it is, the absolute form
// ("http://host/v1/status", RFC 9112 section 3.2.2, which a server must accept) without its
// scheme and authority.
std::string_view targetPath(std::string_view target) {
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (startsWithIgnoringCase(target, scheme)) {
            const auto slash = target.find('/', scheme.size());
            return slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
        }
    }
    return target;
}

}  // namespace

StatusServer::StatusServer(ServerSettings settings, CheckEngine* engine, Metrics& metrics,
                           LogSink log)
    : m_settings(std::move(settings)),
      m_engine(engine),
      m_metrics(metrics),
      m_log(std::move(log)),
      m_rateLimiter(m_settings.ratePerMinute),
      m_connectionCounter(m_settings.maxConnections, m_settings.maxConnectionsPerClient) {
    sockaddr_storage storage{};
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME |
                     MHD_USE_ERROR_LOG;
    if (inet_pton(AF_INET, m_settings.address.c_str(),
                  &reinterpret_cast<sockaddr_in*>(&storage)->sin_addr) == 1) {
        auto* in = reinterpret_cast<sockaddr_in*>(&storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(m_settings.port);
    } else if (inet_pton(AF_INET6, m_settings.address.c_str(),
                         &reinterpret_cast<sockaddr_in6*>(&storage)->sin6_addr) == 1) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(m_settings.port);
        flags |= MHD_USE_DUAL_STACK;
    } else {
        throw ServiceError("not a numeric listen address: " + m_settings.address);
    }
    m_tls = !m_settings.tlsCertPem.empty() && !m_settings.tlsKeyPem.empty();
    if (m_tls) {
        flags |= MHD_USE_TLS;
        m_keyPair = std::make_shared<const TlsKeyPair>(m_settings.tlsCertPem, m_settings.tlsKeyPem);
    }
    std::vector<MHD_OptionItem> options{
        // First, so that the daemon's own start-up messages take this route too.
        {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&StatusServer::onDaemonLog), this},
        {MHD_OPTION_SOCK_ADDR, 0, &storage},
        // The limits are kept by onAccept, which can count IPv6 clients by prefix and count
        // the refusals; the daemon's own limit only backs it up.
        // Evicted connections still count there until the daemon has closed them, which
        // takes one round of its loop, while it may accept several in that round.
        {MHD_OPTION_CONNECTION_LIMIT, m_settings.maxConnections + 64, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, m_settings.idleTimeoutSeconds, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, 32 * 1024, nullptr},
        {MHD_OPTION_LISTEN_BACKLOG_SIZE, 1024, nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&StatusServer::onConnection),
         this},
        {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&StatusServer::onRequestLine),
         this},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&StatusServer::onCompleted), this},
        {MHD_OPTION_UNESCAPE_CALLBACK, reinterpret_cast<intptr_t>(&unescapeUri), nullptr},
    };
    if (m_tls) {
        // The pair is chosen per handshake, so that SIGHUP can swap it while connections run.
        options.push_back(
            {MHD_OPTION_HTTPS_CERT_CALLBACK, 0,
             reinterpret_cast<void*>(
                 static_cast<gnutls_certificate_retrieve_function2*>(&onCertificateRequest))});
        options.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0,
                           const_cast<char*>("NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2")});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    m_daemon = MHD_start_daemon(flags, 0, &StatusServer::onAccept, this, &StatusServer::onAccess,
                                this, MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
    if (m_daemon == nullptr) {
        throw ServiceError("cannot listen on " + m_settings.address + ":" +
                           std::to_string(m_settings.port));
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = info != nullptr ? info->port : m_settings.port;
    m_watchThread = std::thread([this] { watch(); });
}

StatusServer::~StatusServer() {
    {
        std::lock_guard lock(m_watchMutex);
        m_watchStop = true;
    }
    m_watchWake.notify_all();
    m_watchThread.join();
    MHD_stop_daemon(m_daemon);
}

StatusServer::Connection* StatusServer::connectionOf(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info != nullptr ? static_cast<Connection*>(info->socket_context) : nullptr;
}

std::shared_ptr<const TlsKeyPair> StatusServer::keyPair() const {
    std::lock_guard lock(m_keyPairMutex);
    return m_keyPair;
}

void StatusServer::replaceKeyPair(std::shared_ptr<const TlsKeyPair> pair) {
    std::lock_guard lock(m_keyPairMutex);
    m_keyPair = std::move(pair);
}

int StatusServer::onCertificateRequest(gnutls_session_t session, const gnutls_datum_t*, int,
                                       const gnutls_pk_algorithm_t*, int,
                                       gnutls_pcert_st** certificates, unsigned* count,
                                       gnutls_privkey_t* key) {
    // libmicrohttpd keeps its connection as the session's pointer.
    auto* handle = static_cast<MHD_Connection*>(gnutls_session_get_ptr(session));
    Connection* state = handle != nullptr ? connectionOf(handle) : nullptr;
    if (state == nullptr || state->server == nullptr) {
        return -1;
    }
    std::shared_ptr<const TlsKeyPair> pair = state->server->keyPair();
    if (!pair) {
        return -1;
    }
    pair->select(certificates, count, key);
    state->keyPair = std::move(pair);
    return 0;
}

void StatusServer::stopAccepting() {
    if (!m_accepting) {
        return;
    }
    m_accepting = false;
    const MHD_socket listener = MHD_quiesce_daemon(m_daemon);
    if (listener != MHD_INVALID_SOCKET) {
        close(listener);
    }
}

bool StatusServer::waitUntilIdle(std::chrono::milliseconds grace) {
    std::unique_lock lock(m_openMutex);
    return m_openChanged.wait_for(lock, grace, [this] { return m_openRequests == 0; });
}

void StatusServer::log(LogLevel level, const std::string& line) const {
    if (!m_log) {
        return;
    }
    try {
        m_log(level, line);
    } catch (...) {
        // A log that cannot be written never costs a request its answer.
    }
}

MHD_Result StatusServer::onAccept(void* self, const sockaddr* address, socklen_t length) {
    auto& server = *static_cast<StatusServer*>(self);
    try {
        const ClientAddress client(address, length, server.m_settings.ipv6PrefixLength);
        switch (server.m_connectionCounter.admits(client.limitKey())) {
            case ConnectionCounter::Verdict::Admitted:
                return MHD_YES;
            case ConnectionCounter::Verdict::TotalLimit:
                if (server.evictWaitingConnection()) {
                    return MHD_YES;
                }
                server.m_metrics.recordConnectionRefused("total");
                break;
            case ConnectionCounter::Verdict::ClientLimit:
                server.m_metrics.recordConnectionRefused("per_client");
                break;
        }
        server.log(LogLevel::Debug, "connection from " + client.text() + " refused at the limit");
    } catch (...) {
    }
    return MHD_NO;
}

void StatusServer::onConnection(void* self, MHD_Connection* connection, void** socketContext,
                                MHD_ConnectionNotificationCode code) {
    auto& server = *static_cast<StatusServer*>(self);
    try {
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto state = std::make_unique<Connection>();
            const MHD_ConnectionInfo* address =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            const sockaddr* peer = address != nullptr ? address->client_addr : nullptr;
            const ClientAddress client(peer, peer != nullptr ? addressLength(peer) : 0,
                                       server.m_settings.ipv6PrefixLength);
            state->server = &server;
            state->handle = connection;
            state->client = client.text();
            state->limitKey = client.limitKey();
            const MHD_ConnectionInfo* fd =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            state->fd = fd != nullptr ? fd->connect_fd : -1;
            state->phaseStarted = Clock::now();
            state->deadline = state->phaseStarted + server.m_settings.headerTimeout;
            server.m_connectionCounter.opened(state->limitKey);
            server.m_metrics.connectionOpened();
            std::lock_guard lock(server.m_watchMutex);
            server.m_connections.insert(state.get());
            *socketContext = state.release();
        } else if (code == MHD_CONNECTION_NOTIFY_CLOSED && *socketContext != nullptr) {
            // Called before the daemon closes the socket, so the watch thread never touches a
            // descriptor that another connection may own by then.
            std::unique_ptr<Connection> state(static_cast<Connection*>(*socketContext));
            *socketContext = nullptr;
            {
                std::lock_guard lock(server.m_watchMutex);
                server.m_connections.erase(state.get());
            }
            server.m_connectionCounter.closed(state->limitKey);
            server.m_metrics.connectionClosed();
        }
    } catch (...) {
    }
}

void* StatusServer::onRequestLine(void* self, const char*, MHD_Connection* connection) {
    auto& server = *static_cast<StatusServer*>(self);
    try {
        auto holder = std::make_unique<std::shared_ptr<Request>>(std::make_shared<Request>());
        Connection* state = connectionOf(connection);
        (*holder)->connection = state;
        if (state != nullptr) {
            std::lock_guard lock(server.m_watchMutex);
            state->current = holder->get();
            if (state->phase == Connection::Phase::Idle) {
                // A request line that came whole between two rounds of the watch thread: its
                // head has the header time-out from now.
                state->phase = Connection::Phase::Head;
                state->phaseStarted = Clock::now();
                state->deadline = state->phaseStarted + server.m_settings.headerTimeout;
            }
        }
        {
            std::lock_guard lock(server.m_openMutex);
            ++server.m_openRequests;
        }
        return holder.release();
    } catch (...) {
        // The access handler answers a request without context with 500.
        return nullptr;
    }
}

MHD_Result StatusServer::onAccess(void* self, MHD_Connection* connection, const char* url,
                                  const char* method, const char* version, const char* uploadData,
                                  std::size_t* uploadDataSize, void** context) {
    auto& server = *static_cast<StatusServer*>(self);
    try {
        if (*context == nullptr) {
            return server.reject(connection, 500, "internal error");
        }
        const std::shared_ptr<Request> request = *static_cast<std::shared_ptr<Request>*>(*context);
        return server.access(connection, request, url, method, version, uploadData, uploadDataSize);
    } catch (...) {
        // No exception may cross libmicrohttpd's C frames. A response may be queued already,
        // in which case the connection is closed instead.
        try {
            *uploadDataSize = 0;
            return server.reject(connection, 500, "internal error");
        } catch (...) {
            return MHD_NO;
        }
    }
}

MHD_Result StatusServer::access(MHD_Connection* connection, const std::shared_ptr<Request>& request,
                                const char* url, const char* method, const char* version,
                                const char* uploadData, std::size_t* uploadDataSize) {
    if (!request->begun) {
        request->begun = true;
        if (request->connection != nullptr) {
            std::lock_guard lock(m_watchMutex);
            request->connection->phase = Connection::Phase::Body;
            request->connection->deadline = Clock::now() + m_settings.bodyTimeout;
        }
        return begin(connection, *request, url, method, version);
    }
    if (*uploadDataSize != 0) {
        return receive(connection, *request, uploadData, uploadDataSize);
    }
    if (request->phase == Request::Phase::Receiving && request->connection != nullptr) {
        std::lock_guard lock(m_watchMutex);
        request->connection->phase = Connection::Phase::Busy;
    }
    return dispatch(connection, request);
}

void StatusServer::onCompleted(void* self, MHD_Connection* connection, void** context,
                               MHD_RequestTerminationCode) {
    auto& server = *static_cast<StatusServer*>(self);
    auto* holder = static_cast<std::shared_ptr<Request>*>(*context);
    if (holder == nullptr) {
        return;
    }
    try {
        if (Connection* state = connectionOf(connection)) {
            std::lock_guard lock(server.m_watchMutex);
            state->current = nullptr;
            state->phase = Connection::Phase::Idle;
            // A kept-alive connection waits for its next request under the idle time-out;
            // the watch thread starts the head's time at the next request's first byte.
            state->phaseStarted = Clock::now();
            state->deadline =
                state->phaseStarted + std::chrono::seconds(server.m_settings.idleTimeoutSeconds);
            state->receivedWhenIdle = bytesReceived(state->fd);
        }
    } catch (...) {
    }
    delete holder;
    *context = nullptr;
    {
        std::lock_guard lock(server.m_openMutex);
        --server.m_openRequests;
    }
    server.m_openChanged.notify_all();
}

void StatusServer::onDaemonLog(void* self, const char* format, va_list arguments) {
    auto& server = *static_cast<StatusServer*>(self);
    try {
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        std::string line(text);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        server.daemonMessage(std::move(line));
    } catch (...) {
    }
}

void StatusServer::daemonMessage(std::string text) {
    // The daemon answers some malformed requests itself, without calling the access handler;
    // they are counted with the service's own refusals.
    static constexpr std::string_view kRefused = "Error processing request (HTTP response code is ";
    if (text.starts_with(kRefused)) {
        const int status = std::atoi(text.c_str() + kRefused.size());
        if (status >= 400 && status <= 599) {
            m_metrics.recordRejection(status);
        }
    }
    if (text.starts_with("Failed to parse `Content-Length'")) {
        answerBadFraming(400, "Content-Length is not a number");
    } else if (text.starts_with("Too large value of 'Content-Length'")) {
        answerBadFraming(
            413, "request body exceeds " + std::to_string(m_settings.maxBodyBytes) + " bytes");
    }
    const DaemonMessage message = classifyDaemonMessage(text);
    if (!message.kind.empty()) {
        m_metrics.recordClientError(std::string(message.kind));
    }
    log(message.level, "http: " + message.text);
}

void StatusServer::answerBadFraming(int httpStatus, const std::string& message) {
    // libmicrohttpd 0.9.75 refuses a bad Content-Length by queueing its own reply and then
    // builds that reply's header block a second time, so the client would read a broken
    // reply. It tells of the refusal through this log message, on its own thread, while the
    // connection concerned is the only one whose head is parsed but has neither had a handler
    // call nor a reply queued. That connection gets a well-formed reply here, and its sending
    // side is shut, so that the daemon's own bytes never leave.
    std::lock_guard lock(m_watchMutex);
    for (Connection* state : m_connections) {
        if (state->current == nullptr || state->current->begun || state->fd < 0 ||
            MHD_get_connection_info(state->handle, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE) ==
                nullptr ||
            MHD_get_connection_info(state->handle, MHD_CONNECTION_INFO_HTTP_STATUS) != nullptr) {
            continue;
        }
        // Counted from the daemon's next message, which every such refusal is followed by.
        const std::string body = ReplyWriter::errorReply(httpStatus, message);
        const std::string reply =
            "HTTP/1.1 " + std::to_string(httpStatus) + " " +
            std::string(ChainEntry::standardReasonPhrase(httpStatus)) +
            "\r\nConnection: close\r\nContent-Type: application/json\r\nCache-Control: "
            "no-store\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\n\r\n" + body;
        if (m_tls) {
            const MHD_ConnectionInfo* session =
                MHD_get_connection_info(state->handle, MHD_CONNECTION_INFO_GNUTLS_SESSION);
            if (session != nullptr && session->tls_session != nullptr) {
                gnutls_record_send(static_cast<gnutls_session_t>(session->tls_session),
                                   reply.data(), reply.size());
            }
        } else {
            // A fresh reply on an idle socket fits its send buffer whole.
            (void)send(state->fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        shutdown(state->fd, SHUT_WR);
        state->dropped = true;
        break;
    }
}

bool StatusServer::evictWaitingConnection() {
    // A slot held by a connection that has not sent its head yet, or sits between requests,
    // goes to the new connection: otherwise clients that trickle heads from many addresses,
    // each within the per-client limit, hold every slot against clients that send at once,
    // since each slot the head time-out frees is taken again at once. A connection whose
    // request is complete (its body coming, its check running, its reply being sent) keeps
    // its slot. The oldest waiter goes first: a client that sends its head at once is the
    // newest waiter until it has sent it.
    std::lock_guard lock(m_watchMutex);
    Connection* oldest = nullptr;
    for (Connection* state : m_connections) {
        const bool waiting =
            (state->phase == Connection::Phase::Head || state->phase == Connection::Phase::Idle) &&
            !state->pending;
        if (waiting && !state->dropped && state->fd >= 0 &&
            (oldest == nullptr || state->phaseStarted < oldest->phaseStarted)) {
            oldest = state;
        }
    }
    if (oldest == nullptr) {
        return false;
    }
    // As in the watch thread: the daemon sees the end at once and closes the connection, and
    // the descriptor is still its own until onConnection, which waits for this lock.
    oldest->dropped = true;
    shutdown(oldest->fd, SHUT_RDWR);
    m_metrics.recordConnectionDropped("evicted");
    log(LogLevel::Debug, "connection from " + oldest->client +
                             " closed: its slot went to a new connection at the limit");
    return true;
}

void StatusServer::watch() {
    // Often enough that a slow request is closed, and a gone client's check cancelled, within
    // a small part of a second of its time.
    constexpr auto kInterval = std::chrono::milliseconds(100);
    std::unique_lock lock(m_watchMutex);
    std::vector<pollfd> polled;
    std::vector<Connection*> pollOwners;
    while (!m_watchWake.wait_for(lock, kInterval, [this] { return m_watchStop; })) {
        const auto now = Clock::now();
        polled.clear();
        pollOwners.clear();
        for (Connection* state : m_connections) {
            if (state->pending) {
                polled.push_back({state->fd, POLLRDHUP, 0});
                pollOwners.push_back(state);
                continue;
            }
            if (state->dropped || state->fd < 0 || state->phase == Connection::Phase::Busy) {
                continue;
            }
            if (state->phase == Connection::Phase::Idle &&
                bytesReceived(state->fd) > state->receivedWhenIdle) {
                // The next request has begun: its head has the header time-out from its
                // first byte, seen within one round of this loop.
                state->phase = Connection::Phase::Head;
                state->phaseStarted = now;
                state->deadline = now + m_settings.headerTimeout;
            }
            if (now < state->deadline) {
                continue;
            }
            // Shutting the socket makes the daemon see its end at once and close it; the
            // descriptor is still the daemon's, since it closes it only after telling
            // onConnection, which waits for this lock.
            state->dropped = true;
            shutdown(state->fd, SHUT_RDWR);
            const char* reason = state->phase == Connection::Phase::Body   ? "body_timeout"
                                 : state->phase == Connection::Phase::Head ? "header_timeout"
                                                                           : "idle_timeout";
            m_metrics.recordConnectionDropped(reason);
            log(LogLevel::Debug, "connection from " + state->client + " closed: " + reason);
        }
        if (polled.empty() || poll(polled.data(), polled.size(), 0) <= 0) {
            continue;
        }
        for (std::size_t i = 0; i < polled.size(); ++i) {
            // A suspended connection is not read by the daemon, so the end of the client's
            // side (FIN) or a reset shows here.
            if ((polled[i].revents & (POLLRDHUP | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            Connection* state = pollOwners[i];
            const std::shared_ptr<Request> request = std::move(state->pending);
            request->abandoned = true;
            if (m_engine != nullptr) {
                m_engine->cancel(request->ticket);
            }
        }
    }
}

MHD_Result StatusServer::begin(MHD_Connection* connection, Request& request, const char* url,
                               const char* method, const char* version) {
    const std::string_view path = targetPath(url);
    const std::string_view verb(method);
    // The connection's address, read once when it was accepted.
    static const std::string kUnknown = "-";
    const std::string& limitKey =
        request.connection != nullptr ? request.connection->limitKey : kUnknown;
    request.client = request.connection != nullptr ? request.connection->client : kUnknown;

    // Framing and header fields a proxy in front may read otherwise than this server, which
    // would let a second request hide in this one's body (RFC 9112 sections 3.2, 5.1, 6.1 and
    // 6.3). The connection cannot be read on safely, so the refusal comes at once and the
    // connection closes after it.
    HeaderScan fields;
    MHD_get_connection_values_n(connection, MHD_HEADER_KIND, &scanHeader, &fields);
    const bool http11 = std::string_view(version) == MHD_HTTP_VERSION_1_1;
    std::optional<RequestRejection> framing;
    if (fields.badName) {
        framing = RequestRejection{400, "malformed header field name"};
    } else if (fields.hosts > 1) {
        framing = RequestRejection{400, "more than one Host"};
    } else if (fields.hosts == 0 && http11) {
        framing = RequestRejection{400, "Host is missing"};
    } else if (fields.contentLengths > 1) {
        framing = RequestRejection{400, "more than one Content-Length"};
    } else if (fields.contentLengths == 1 && fields.transferEncodings > 0) {
        framing = RequestRejection{400, "Content-Length together with Transfer-Encoding"};
    } else if (fields.transferEncodings > 1) {
        framing = RequestRejection{400, "more than one Transfer-Encoding"};
    } else if (fields.transferEncodings == 1 && !http11) {
        framing = RequestRejection{400, "Transfer-Encoding in an HTTP/1.0 request"};
    } else if (fields.transferEncodings == 1 &&
               !equalsIgnoringCase(fields.transferEncoding, "chunked")) {
        // RFC 9112 section 6.1: a server that does not understand a transfer coding answers
        // 501 and closes, since it cannot tell where the body ends.
        framing = RequestRejection{501, "Transfer-Encoding other than chunked"};
    }
    if (framing) {
        request.phase = Request::Phase::Answered;
        return reject(connection, framing->httpStatus, framing->message, {}, AfterReply::Close);
    }

    const bool all = m_settings.routes == Routes::All;
    if (path == kHealthPath) {
        request.route = Route::Health;
    } else if (all && path == kMetricsPath) {
        request.route = Route::Metrics;
    } else if (all && path == kStatusPath) {
        request.route = Route::Status;
    }

    switch (request.route) {
        case Route::Unknown:
            request.rejection = RequestRejection{404, "not found"};
            break;
        case Route::Health:
        case Route::Metrics:
            if (verb != "GET" && verb != "HEAD") {
                request.rejection = RequestRejection{405, "method not allowed"};
                request.allow = "GET, HEAD";
            }
            break;
        case Route::Status:
            if (verb != "POST") {
                request.rejection = RequestRejection{405, "method not allowed"};
                request.allow = "POST";
            } else if (!isJsonMediaType(MHD_lookup_connection_value(
                           connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE))) {
                request.rejection = RequestRejection{415, "Content-Type must be application/json"};
            } else if (!m_rateLimiter.tryAcquire(limitKey)) {
                request.rejection = RequestRejection{429, "rate limit exceeded"};
            }
            break;
    }

    const char* lengthHeader =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    const unsigned long long announced =
        lengthHeader != nullptr ? std::strtoull(lengthHeader, nullptr, 10) : 0;
    if (request.route == Route::Status && !request.rejection &&
        announced > m_settings.maxBodyBytes) {
        request.rejection = RequestRejection{
            413, "request body exceeds " + std::to_string(m_settings.maxBodyBytes) + " bytes"};
    }
    // A refusal is answered at once, before any body, when the client waits for "100
    // Continue" or announces more than is worth reading; otherwise after the body.
    const bool expectsContinue =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_EXPECT) != nullptr;
    if (request.rejection && (expectsContinue || announced > kDiscardLimit)) {
        request.phase = Request::Phase::Answered;
        return reject(connection, request.rejection->httpStatus, request.rejection->message,
                      request.allow);
    }
    return MHD_YES;
}

MHD_Result StatusServer::receive(MHD_Connection* connection, Request& request,
                                 const char* uploadData, std::size_t* uploadDataSize) {
    const std::size_t size = *uploadDataSize;
    *uploadDataSize = 0;
    if (request.phase != Request::Phase::Receiving) {
        return MHD_YES;
    }
    request.bodyBytes += size;
    if (request.route == Route::Status && !request.rejection) {
        if (request.bodyBytes > m_settings.maxBodyBytes) {
            request.rejection = RequestRejection{
                413, "request body exceeds " + std::to_string(m_settings.maxBodyBytes) + " bytes"};
            request.body.clear();
            request.body.shrink_to_fit();
        } else {
            request.body.append(uploadData, size);
        }
    }
    if (request.bodyBytes > kDiscardLimit) {
        if (!request.rejection) {
            request.rejection = RequestRejection{413, "request body too large"};
        }
        request.phase = Request::Phase::Answered;
        return reject(connection, request.rejection->httpStatus, request.rejection->message);
    }
    return MHD_YES;
}

MHD_Result StatusServer::dispatch(MHD_Connection* connection,
                                  const std::shared_ptr<Request>& request) {
    switch (request->phase) {
        case Request::Phase::Answered:
            return MHD_YES;
        case Request::Phase::Pending: {
            std::optional<CheckResult> result;
            {
                std::lock_guard lock(request->mutex);
                result.swap(request->result);
            }
            if (!result) {
                return MHD_YES;
            }
            request->phase = Request::Phase::Answered;
            if (request->abandoned) {
                // The client has gone; closing frees its connection slot at once.
                return MHD_NO;
            }
            if (result->code == kCancelledCode) {
                // The service gave up on the check, not the target: the truth is that the
                // service is unavailable, whatever had arrived so far.
                m_metrics.recordRejection(503);
                return queue(connection, 503,
                             ReplyWriter::errorReply(503, "the service is shutting down"),
                             "application/json", {{MHD_HTTP_HEADER_RETRY_AFTER, "5"}});
            }
            return queue(connection, 200, ReplyWriter::checkReply(*result), "application/json");
        }
        case Request::Phase::Receiving:
            break;
    }
    if (request->rejection) {
        request->phase = Request::Phase::Answered;
        return reject(connection, request->rejection->httpStatus, request->rejection->message,
                      request->allow);
    }
    request->phase = Request::Phase::Answered;
    switch (request->route) {
        case Route::Health:
            return queue(connection, 200, R"({"status":"ok"})", "application/json");
        case Route::Metrics:
            return queue(connection, 200, m_metrics.render(), "text/plain; version=0.0.4");
        case Route::Status:
            break;
        case Route::Unknown:
            return reject(connection, 404, "not found");
    }
    std::string url;
    try {
        url = StatusRequest::parse(request->body).requestUrl();
    } catch (const RequestRejection& rejection) {
        return reject(connection, rejection.httpStatus, rejection.message);
    }
    request->body.clear();
    request->body.shrink_to_fit();
    if (m_engine == nullptr || m_pending.load() >= m_settings.maxChecks) {
        return reject(connection, 503, "too many checks in progress");
    }
    request->phase = Request::Phase::Pending;
    return startCheck(connection, request, std::move(url));
}

MHD_Result StatusServer::startCheck(MHD_Connection* connection,
                                    const std::shared_ptr<Request>& request, std::string url) {
    ++m_pending;
    m_metrics.checkStarted();
    // Suspended before the check is handed over, so that a completion arriving at once finds a
    // suspended connection to resume.
    MHD_suspend_connection(connection);
    const CheckEngine::Ticket ticket =
        m_engine->submit(std::move(url), [this, request, connection](CheckResult result) {
            checkDone(request, connection, std::move(result));
        });
    std::lock_guard lock(m_watchMutex);
    if (!request->checkEnded && request->connection != nullptr) {
        // From now on the watch thread sees the client go away.
        request->ticket = ticket;
        request->connection->pending = request;
    }
    return MHD_YES;
}

void StatusServer::checkDone(const std::shared_ptr<Request>& request, MHD_Connection* connection,
                             CheckResult result) {
    {
        std::lock_guard lock(m_watchMutex);
        request->checkEnded = true;
        if (request->connection != nullptr) {
            request->connection->pending.reset();
        }
    }
    m_metrics.checkFinished();
    try {
        if (request->abandoned) {
            m_metrics.recordAbandoned();
        } else {
            m_metrics.recordCheck(result.code.value_or("none"), result.duration);
        }
        std::string chain;
        for (const ChainEntry& entry : result.chain) {
            if (!chain.empty()) {
                chain += ',';
            }
            chain += std::to_string(entry.statusCode);
        }
        log(LogLevel::Info,
            utcNow() + " check client=" + request->client + " url=" + loggedUrl(result.requestUrl) +
                " code=" + result.code.value_or("-") + " chain=" + (chain.empty() ? "-" : chain) +
                " duration_ms=" + ReplyWriter::millisecondsText(result.duration) +
                (request->abandoned ? " client_gone" : ""));
    } catch (...) {
        // The connection is resumed and answered all the same.
    }
    {
        std::lock_guard lock(request->mutex);
        request->result = std::move(result);
    }
    --m_pending;
    MHD_resume_connection(connection);
}

MHD_Result StatusServer::reject(MHD_Connection* connection, int httpStatus,
                                const std::string& message, const std::string& allow,
                                AfterReply after) {
    m_metrics.recordRejection(httpStatus);
    const std::string body = ReplyWriter::errorReply(httpStatus, message);
    std::vector<std::pair<const char*, std::string>> headers;
    if (!allow.empty()) {
        headers.emplace_back(MHD_HTTP_HEADER_ALLOW, allow);
    }
    if (httpStatus == 429) {
        const unsigned rate = std::max(1u, m_settings.ratePerMinute);
        headers.emplace_back(MHD_HTTP_HEADER_RETRY_AFTER, std::to_string((60 + rate - 1) / rate));
    } else if (httpStatus == 503) {
        headers.emplace_back(MHD_HTTP_HEADER_RETRY_AFTER, "1");
    }
    if (after == AfterReply::Close) {
        // libmicrohttpd closes the connection after a reply that says so.
        headers.emplace_back(MHD_HTTP_HEADER_CONNECTION, "close");
    }
    return queue(connection, httpStatus, body, "application/json", headers);
}

}  // namespace quelvar::status
