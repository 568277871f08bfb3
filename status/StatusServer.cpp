#include "status/StatusServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <optional>

#include "status/CheckEngine.h"
#include "status/Metrics.h"
#include "status/ReplyWriter.h"
#include "status/ServiceError.h"
#include "status/StatusRequest.h"

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

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// Returns whether a Content-Type header names application/json, parameters allowed.
bool isJsonMediaType(const char* header) {
    if (header == nullptr) {
        return false;
    }
    std::string_view value(header);
    value = trim(value.substr(0, value.find(';')));
    return lower(value) == "application/json";
}

std::string clientAddress(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info == nullptr || info->client_addr == nullptr) {
        return "-";
    }
    const sockaddr* address = info->client_addr;
    const socklen_t length =
        address->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    char host[NI_MAXHOST] = "-";
    getnameinfo(address, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST);
    std::string text(host);
    if (text.starts_with("::ffff:") && text.find('.') != std::string::npos) {
        text.erase(0, 7);
    }
    return text;
}

// Makes a text safe for one log line: control characters, blanks and bytes above ASCII are
// written as %XX.
std::string forLog(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text.substr(0, 2048)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f || byte == '%') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        } else {
            out += c;
        }
    }
    return out;
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
                 std::initializer_list<std::pair<const char*, std::string>> headers = {}) {
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

}  // namespace

// One request on a connection, shared with the engine's completion while its check runs.
struct StatusServer::Request {
    enum class Phase { Receiving, Pending, Answered };

    Route route = Route::Unknown;
    Phase phase = Phase::Receiving;
    std::string client;
    Clock::time_point started = Clock::now();
    std::string body;
    std::size_t bodyBytes = 0;
    std::optional<RequestRejection> rejection;
    std::string allow;  // the Allow header of a 405

    std::mutex mutex;
    std::optional<CheckResult> result;
};

StatusServer::StatusServer(ServerSettings settings, CheckEngine* engine, Metrics& metrics,
                           LogSink log)
    : m_settings(std::move(settings)),
      m_engine(engine),
      m_metrics(metrics),
      m_log(std::move(log)),
      m_rateLimiter(m_settings.ratePerMinute) {
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
    const bool tls = !m_settings.tlsCertPem.empty() && !m_settings.tlsKeyPem.empty();
    if (tls) {
        flags |= MHD_USE_TLS;
    }
    std::vector<MHD_OptionItem> options{
        // First, so that the daemon's own start-up messages take this route too.
        {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&StatusServer::onDaemonLog), this},
        {MHD_OPTION_SOCK_ADDR, 0, &storage},
        {MHD_OPTION_CONNECTION_LIMIT, m_settings.maxConnections, nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, m_settings.maxConnectionsPerClient, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, m_settings.idleTimeoutSeconds, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, 32 * 1024, nullptr},
        {MHD_OPTION_LISTEN_BACKLOG_SIZE, 1024, nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&StatusServer::onCompleted), this},
    };
    if (tls) {
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, m_settings.tlsCertPem.data()});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, m_settings.tlsKeyPem.data()});
        options.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0,
                           const_cast<char*>("NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2")});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    m_daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &StatusServer::onAccess, this,
                                MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
    if (m_daemon == nullptr) {
        throw ServiceError("cannot listen on " + m_settings.address + ":" +
                           std::to_string(m_settings.port));
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = info != nullptr ? info->port : m_settings.port;
}

StatusServer::~StatusServer() {
    MHD_stop_daemon(m_daemon);
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

MHD_Result StatusServer::onAccess(void* self, MHD_Connection* connection, const char* url,
                                  const char* method, const char*, const char* uploadData,
                                  std::size_t* uploadDataSize, void** context) {
    auto& server = *static_cast<StatusServer*>(self);
    if (*context == nullptr) {
        auto* holder = new std::shared_ptr<Request>(std::make_shared<Request>());
        *context = holder;
        {
            std::lock_guard lock(server.m_openMutex);
            ++server.m_openRequests;
        }
        return server.begin(connection, **holder, url, method);
    }
    const std::shared_ptr<Request>& request = *static_cast<std::shared_ptr<Request>*>(*context);
    if (*uploadDataSize != 0) {
        return server.receive(connection, *request, uploadData, uploadDataSize);
    }
    return server.dispatch(connection, request);
}

void StatusServer::onCompleted(void* self, MHD_Connection*, void** context,
                               MHD_RequestTerminationCode) {
    auto& server = *static_cast<StatusServer*>(self);
    auto* holder = static_cast<std::shared_ptr<Request>*>(*context);
    if (holder == nullptr) {
        return;
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
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    std::string line = "http: " + std::string(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    if (server.m_log) {
        server.m_log(line);
    }
}

MHD_Result StatusServer::begin(MHD_Connection* connection, Request& request, const char* url,
                               const char* method) {
    const std::string_view path(url);
    const std::string_view verb(method);
    request.client = clientAddress(connection);
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
            } else if (!m_rateLimiter.tryAcquire(request.client)) {
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
    if (Clock::now() - request.started > m_settings.bodyTimeout) {
        // A client trickling its body would hold the connection open forever.
        m_log("request from " + request.client + " dropped: body too slow");
        return MHD_NO;
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
    m_engine->submit(std::move(url), [this, request, connection](CheckResult result) {
        m_metrics.checkFinished();
        m_metrics.recordCheck(result.code.value_or("none"), result.duration);
        std::string chain;
        for (const ChainEntry& entry : result.chain) {
            if (!chain.empty()) {
                chain += ',';
            }
            chain += std::to_string(entry.statusCode);
        }
        if (m_log) {
            m_log(utcNow() + " check client=" + request->client +
                  " url=" + forLog(result.requestUrl) + " code=" + result.code.value_or("-") +
                  " chain=" + (chain.empty() ? "-" : chain) +
                  " duration_ms=" + std::to_string(result.duration.count()));
        }
        {
            std::lock_guard lock(request->mutex);
            request->result = std::move(result);
        }
        --m_pending;
        MHD_resume_connection(connection);
    });
    return MHD_YES;
}

MHD_Result StatusServer::reject(MHD_Connection* connection, int httpStatus,
                                const std::string& message, const std::string& allow) {
    m_metrics.recordRejection(httpStatus);
    const std::string body = ReplyWriter::errorReply(httpStatus, message);
    if (!allow.empty()) {
        return queue(connection, httpStatus, body, "application/json",
                     {{MHD_HTTP_HEADER_ALLOW, allow}});
    }
    if (httpStatus == 429) {
        const unsigned rate = std::max(1u, m_settings.ratePerMinute);
        return queue(connection, httpStatus, body, "application/json",
                     {{MHD_HTTP_HEADER_RETRY_AFTER, std::to_string((60 + rate - 1) / rate)}});
    }
    if (httpStatus == 503) {
        return queue(connection, httpStatus, body, "application/json",
                     {{MHD_HTTP_HEADER_RETRY_AFTER, "1"}});
    }
    return queue(connection, httpStatus, body, "application/json");
}

}  // namespace quelvar::status
