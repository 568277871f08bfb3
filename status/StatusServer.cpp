#include "status/StatusServer.h"

#include <openssl/ssl.h>

// Before Asio, whose coroutine support uses std::exchange without including it.
#include <utility>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <future>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "status/AccessLog.h"
#include "status/ClientAddress.h"
#include "status/ConnectionCounter.h"
#include "status/ConnectionWatch.h"
#include "status/Metrics.h"
#include "status/RateLimiter.h"
#include "status/ReplyWriter.h"
#include "status/RequestAdmission.h"
#include "status/RequestHead.h"
#include "status/ServiceError.h"
#include "status/TlsKeyPair.h"

namespace quelvar::status {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using ErrorCode = boost::system::error_code;

namespace {

// The most a request head may take (request line and header fields).
constexpr std::size_t kHeadLimit = 32 * 1024;
// How often deadlines and departed clients are looked at: a slow request is closed, and a
// gone client's check cancelled, within this of its time.
constexpr auto kWatchInterval = std::chrono::milliseconds(50);
// How long a connection closed after a refusal is still read (and the bytes dropped), so that
// unread data does not make TCP reset it and destroy the reply (RFC 9112 section 9.6).
constexpr auto kLingerTime = std::chrono::milliseconds(1000);

using Connection = WatchedConnection;

}  // namespace

class StatusServer::Front {
public:
    Front(ServerSettings settings, CheckEngine* engine, Metrics& metrics, LogSink log);
    ~Front();

    std::uint16_t port() const { return m_port; }
    void stopAccepting();
    bool waitUntilIdle(std::chrono::milliseconds grace);
    std::size_t pendingChecks() const { return m_pending.load(); }
    std::shared_ptr<const TlsKeyPair> keyPair() const {
        std::lock_guard lock(m_keyPairMutex);
        return m_keyPair;
    }
    void replaceKeyPair(std::shared_ptr<const TlsKeyPair> pair) {
        std::lock_guard lock(m_keyPairMutex);
        m_keyPair = std::move(pair);
    }

    // What the sessions share.
    const ServerSettings& settings() const { return m_settings; }
    CheckEngine* engine() const { return m_engine; }
    Metrics& metrics() { return m_metrics; }
    RateLimiter& rateLimiter() { return m_rateLimiter; }
    asio::io_context& io() { return m_io; }
    std::atomic<std::size_t>& pending() { return m_pending; }
    void log(LogLevel level, const std::string& line) const;
    void requestOpened();
    void requestClosed();
    void opened(Connection* connection) { m_watch.add(connection); }
    void forget(Connection* connection) { m_watch.remove(connection); }
    // Gives the connection's slot back; called once per connection.
    void released(const Connection& connection);
    void checkStarted(Connection* connection) { m_watch.checkStarted(connection); }
    void checkEnded(Connection* connection) { m_watch.checkEnded(connection); }

private:
    void accept();
    void accepted(tcp::socket socket);
    // Closes the connection that has waited longest without a complete request head (or
    // between two requests), so that a new one can take its slot; returns whether there was
    // one.
    bool evictWaitingConnection();
    void watch();
    static int onCertificate(SSL* connection, void* front);

    ServerSettings m_settings;
    CheckEngine* m_engine;
    Metrics& m_metrics;
    LogSink m_log;
    RateLimiter m_rateLimiter;
    ConnectionCounter m_connectionCounter;
    std::uint16_t m_port = 0;
    bool m_tls = false;
    mutable std::mutex m_keyPairMutex;
    std::shared_ptr<const TlsKeyPair> m_keyPair;
    std::atomic<std::size_t> m_pending{0};

    std::mutex m_openMutex;
    std::condition_variable m_openChanged;
    std::size_t m_openRequests = 0;

    // Touched by the front's thread only.
    ConnectionWatch m_watch;

    std::optional<asio::ssl::context> m_sslContext;
    // Destroyed before the members above, so that the handlers it still holds (and the
    // sessions they keep) end while the state they touch is there.
    asio::io_context m_io{1};
    tcp::acceptor m_acceptor{m_io};
    asio::steady_timer m_watchTimer{m_io};
    asio::steady_timer m_acceptRetry{m_io};
    std::thread m_thread;
};

namespace {

// Where a refused request's connection goes after the reply.
enum class AfterReply { KeepOpen, Close };

// One client connection on a transport: a TCP socket, or a TLS stream over one.
template <typename Stream>
class Session : public Connection, public std::enable_shared_from_this<Session<Stream>> {
public:
    static constexpr bool kTls = !std::is_same_v<Stream, tcp::socket>;

    template <typename... Args>
    Session(StatusServer::Front& front, std::string clientText, std::string key, Args&&... args)
        : m_front(front), m_stream(std::forward<Args>(args)...) {
        client = std::move(clientText);
        limitKey = std::move(key);
        m_front.opened(this);
        setPhase(Phase::Head, m_front.settings().headerTimeout);
    }

    ~Session() override {
        endCheckWatch();
        release();
        if (m_requestOpen) {
            m_front.requestClosed();
        }
        m_front.forget(this);
    }

    void start() {
        if constexpr (kTls) {
            m_stream.async_handshake(asio::ssl::stream_base::server,
                                     [self = this->shared_from_this()](const ErrorCode& error) {
                                         self->handshaken(error);
                                     });
        } else {
            readHead();
        }
    }

    void drop() override {
        dropped = true;
        release();
        ErrorCode ignored;
        lowest().close(ignored);
    }

    void abandon() override {
        m_abandoned = true;
        if (m_front.engine() != nullptr) {
            m_front.engine()->cancel(m_ticket);
        }
        drop();
    }

    int socket() override { return lowest().is_open() ? lowest().native_handle() : -1; }

private:
    tcp::socket& lowest() { return beast::get_lowest_layer(m_stream); }

    void setPhase(Phase next, Clock::duration timeLimit) { enter(next, timeLimit); }

    void release() {
        if (!m_released) {
            m_released = true;
            m_front.released(*this);
        }
    }

    void endCheckWatch() {
        if (m_checkWatched) {
            m_checkWatched = false;
            m_front.checkEnded(this);
        }
    }

    void clientError(const char* kind, const std::string& line) {
        m_front.metrics().recordClientError(kind);
        m_front.log(LogLevel::Debug, "http: " + line);
    }

    void handshaken(const ErrorCode& error) {
        if (dropped) {
            return;
        }
        if (error) {
            // Whatever made it fail (a client that gave up, plain text on the TLS port, a
            // client that does not trust the certificate), it is the client's.
            clientError("tls_handshake", "TLS handshake aborted by client");
            drop();
            return;
        }
        readHead();
    }

    // Reads until the request head is whole, starting its time at its first byte.
    void readHead() {
        if (!m_in.empty()) {
            if (phase == Phase::Idle) {
                setPhase(Phase::Head, m_front.settings().headerTimeout);
            }
            if (!m_requestOpen) {
                m_requestOpen = true;
                m_front.requestOpened();
            }
        }
        const auto end = m_in.find("\r\n\r\n");
        if (end != std::string::npos && end <= kHeadLimit) {
            headRead(end);
            return;
        }
        if (end != std::string::npos || m_in.size() > kHeadLimit) {
            // A request line that does not end within the limit is a target too long (RFC 9112
            // section 3); otherwise the header fields are too large (RFC 6585 section 5).
            const auto lineEnd = m_in.find("\r\n");
            refuseHead(lineEnd == std::string::npos || lineEnd > kHeadLimit
                           ? Refusal::requestLineTooLong()
                           : Refusal::headTooLarge());
            return;
        }
        readMore([](Session& self) { self.readHead(); });
    }

    template <typename Next>
    void readMore(Next next) {
        m_stream.async_read_some(
            asio::buffer(m_chunk),
            [self = this->shared_from_this(), next](const ErrorCode& error, std::size_t size) {
                if (self->dropped) {
                    return;
                }
                if (error) {
                    self->readFailed(error);
                    return;
                }
                self->heardFrom = Clock::now();
                self->m_in.append(self->m_chunk.data(), size);
                next(*self);
            });
    }

    void readFailed(const ErrorCode& error) {
        const bool midRequest = phase == Phase::Body || (phase == Phase::Head && !m_in.empty());
        if (midRequest) {
            clientError("closed_early",
                        "connection closed by the client before its request "
                        "was complete (" +
                            error.message() + ")");
        }
        drop();
    }

    void refuseHead(const RequestRejection& rejection) {
        const int status = rejection.httpStatus;
        m_front.metrics().recordClientError(status == 414 || status == 431 ? "too_large"
                                                                           : "bad_request");
        m_front.log(LogLevel::Debug, "http: request from " + client +
                                         " refused: " + std::to_string(rejection.httpStatus) + " " +
                                         rejection.message);
        refuse(rejection, {}, AfterReply::Close);
    }

    void headRead(std::size_t end) {
        RequestHead head;
        try {
            head = RequestHead::parse(std::string_view(m_in).substr(0, end));
        } catch (const RequestRejection& rejection) {
            refuseHead(rejection);
            return;
        }
        const std::string key = limitKey;
        RateLimiter& limiter = m_front.rateLimiter();
        m_admission = admitRequest(head, m_front.settings().routes, m_front.settings().maxBodyBytes,
                                   [&limiter, &key] { return limiter.tryAcquire(key); });
        m_isHead = head.method == "HEAD";
        if (m_admission.rejection && m_admission.timing == Admission::Timing::AtOnce) {
            if (m_admission.rejection->httpStatus >= 500 ||
                m_admission.rejection->httpStatus == 400) {
                m_front.metrics().recordClientError("bad_request");
            }
            refuse(*m_admission.rejection, m_admission.allow, AfterReply::Close);
            return;
        }
        // Beast reads the same head again for the framing of the body and keep-alive.
        m_parser.emplace();
        m_parser->header_limit(static_cast<std::uint32_t>(kHeadLimit + 4));
        // The body's size is kept here, for chunked bodies too.
        m_parser->body_limit(std::numeric_limits<std::uint64_t>::max());
        m_parser->eager(true);
        ErrorCode error;
        m_parser->put(asio::buffer(m_in.data(), end + 4), error);
        if (error || !m_parser->is_header_done()) {
            refuseHead(Refusal::malformedHead());
            return;
        }
        m_keepAlive = m_parser->get().keep_alive();
        m_in.erase(0, end + 4);
        m_body.clear();
        m_bodyBytes = 0;
        if (m_parser->is_done()) {
            requestRead();
            return;
        }
        setPhase(Phase::Body, m_front.settings().bodyTimeout);
        if (m_admission.expectsContinue && !m_admission.rejection) {
            static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
            asio::async_write(
                m_stream, asio::buffer(kContinue),
                [self = this->shared_from_this()](const ErrorCode& failed, std::size_t) {
                    if (self->dropped) {
                        return;
                    }
                    if (failed) {
                        self->readFailed(failed);
                        return;
                    }
                    self->readBody();
                });
            return;
        }
        readBody();
    }

    void readBody() {
        // The decoded body passes through here on its way into m_body; the parser fills it
        // synchronously, so one buffer serves every connection of the thread.
        thread_local std::array<char, 8192> decoded;
        while (!m_in.empty() && !m_parser->is_done()) {
            auto& body = m_parser->get().body();
            body.data = decoded.data();
            body.size = decoded.size();
            ErrorCode error;
            const std::size_t used = m_parser->put(asio::buffer(m_in), error);
            m_in.erase(0, used);
            if (error == http::error::need_buffer) {
                error = {};
            }
            const std::size_t got = decoded.size() - body.size;
            bodyReceived(decoded.data(), got);
            if (error == http::error::need_more) {
                break;
            }
            if (m_bodyBytes > kDiscardLimit) {
                if (!m_admission.rejection) {
                    m_admission.rejection = Refusal::bodyTooLarge(kDiscardLimit);
                }
                refuse(*m_admission.rejection, {}, AfterReply::Close);
                return;
            }
            if (error) {
                m_front.metrics().recordClientError("bad_request");
                refuse(Refusal::malformedBody(), {}, AfterReply::Close);
                return;
            }
            if (used == 0 && got == 0) {
                break;
            }
        }
        if (m_parser->is_done()) {
            requestRead();
            return;
        }
        readMore([](Session& self) { self.readBody(); });
    }

    void bodyReceived(const char* data, std::size_t size) {
        m_bodyBytes += size;
        if (m_admission.route != Route::Status || m_admission.rejection) {
            return;
        }
        if (m_bodyBytes > m_front.settings().maxBodyBytes) {
            m_admission.rejection = Refusal::bodyTooLarge(m_front.settings().maxBodyBytes);
            m_body.clear();
            m_body.shrink_to_fit();
        } else {
            m_body.append(data, size);
        }
    }

    void requestRead() {
        m_parser.reset();
        setPhase(Phase::Reply, Clock::duration::max());
        const AfterReply after = m_keepAlive ? AfterReply::KeepOpen : AfterReply::Close;
        if (m_admission.rejection) {
            refuse(*m_admission.rejection, m_admission.allow, after);
            return;
        }
        switch (m_admission.route) {
            case Route::Health:
                reply(200, R"({"status":"ok"})", "application/json", {}, after);
                return;
            case Route::Metrics:
                reply(200, m_front.metrics().render(), "text/plain; version=0.0.4", {}, after);
                return;
            case Route::Unknown:
            case Route::Status:
                break;
        }
        std::string url;
        try {
            url = StatusRequest::parse(m_body).requestUrl();
        } catch (const RequestRejection& rejection) {
            refuse(rejection, {}, after);
            return;
        }
        m_body.clear();
        m_body.shrink_to_fit();
        CheckEngine* engine = m_front.engine();
        if (engine == nullptr || m_front.pending().load() >= m_front.settings().maxChecks) {
            refuse(Refusal::tooManyChecks(), {}, after);
            return;
        }
        ++m_front.pending();
        m_front.metrics().checkStarted();
        setPhase(Phase::Check, Clock::duration::max());
        m_checkWatched = true;
        m_front.checkStarted(this);
        asio::io_context& io = m_front.io();
        m_ticket = engine->submit(std::move(url),
                                  [self = this->shared_from_this(), &io](CheckResult result) {
                                      asio::post(io, [self, result = std::move(result)]() mutable {
                                          self->checkDone(std::move(result));
                                      });
                                  });
    }

    void checkDone(CheckResult result) {
        endCheckWatch();
        --m_front.pending();
        Metrics& metrics = m_front.metrics();
        metrics.checkFinished();
        if (m_abandoned) {
            metrics.recordAbandoned();
        } else {
            metrics.recordCheck(result.code.value_or("none"), result.duration);
        }
        try {
            m_front.log(LogLevel::Info, accessLogLine(client, result, m_abandoned));
        } catch (...) {
            // The connection is answered all the same.
        }
        if (dropped) {
            return;
        }
        const AfterReply after = m_keepAlive ? AfterReply::KeepOpen : AfterReply::Close;
        if (result.code == kCancelledCode) {
            // The service gave up on the check, not the target: the truth is that the service
            // is unavailable, whatever had arrived so far.
            const RequestRejection refusal = Refusal::shuttingDown();
            metrics.recordRejection(refusal.httpStatus);
            reply(refusal.httpStatus, ReplyWriter::errorReply(refusal.httpStatus, refusal.message),
                  "application/json", {{"Retry-After", "5"}}, after);
            return;
        }
        reply(200, ReplyWriter::checkReply(result), "application/json", {}, after);
    }

    void refuse(const RequestRejection& rejection, const std::string& allow, AfterReply after) {
        m_front.metrics().recordRejection(rejection.httpStatus);
        std::vector<std::pair<std::string, std::string>> fields;
        if (!allow.empty()) {
            fields.emplace_back("Allow", allow);
        }
        if (rejection.httpStatus == 429) {
            const unsigned rate = std::max(1u, m_front.settings().ratePerMinute);
            fields.emplace_back("Retry-After", std::to_string((60 + rate - 1) / rate));
        } else if (rejection.httpStatus == 503) {
            fields.emplace_back("Retry-After", "1");
        }
        reply(rejection.httpStatus,
              ReplyWriter::errorReply(rejection.httpStatus, rejection.message), "application/json",
              fields, after);
    }

    void reply(int httpStatus, std::string body, const char* contentType,
               const std::vector<std::pair<std::string, std::string>>& fields, AfterReply after) {
        m_parser.reset();
        setPhase(Phase::Reply, std::chrono::seconds(m_front.settings().idleTimeoutSeconds));
        m_reply.emplace(static_cast<http::status>(httpStatus), 11);
        auto& reply = *m_reply;
        reply.set(http::field::content_type, contentType);
        reply.set(http::field::cache_control, "no-store");
        for (const auto& [name, value] : fields) {
            reply.set(name, value);
        }
        if (after == AfterReply::Close) {
            reply.set(http::field::connection, "close");
        }
        reply.content_length(body.size());
        if (!m_isHead) {
            reply.body() = std::move(body);
        }
        http::async_write(
            m_stream, reply,
            [self = this->shared_from_this(), after](const ErrorCode& error, std::size_t) {
                self->replied(error, after);
            });
    }

    void replied(const ErrorCode& error, AfterReply after) {
        m_reply.reset();
        if (m_requestOpen) {
            m_requestOpen = false;
            m_front.requestClosed();
        }
        m_isHead = false;
        if (dropped) {
            return;
        }
        if (error) {
            clientError("send_failed", "reply to " + client + " not sent: " + error.message());
            drop();
            return;
        }
        if (after == AfterReply::Close) {
            linger();
            return;
        }
        // A kept-alive connection waits for its next request under the idle time-out; the
        // head's time starts at the next request's first byte.
        setPhase(Phase::Idle, std::chrono::seconds(m_front.settings().idleTimeoutSeconds));
        readHead();
    }

    // Ends the sending side and drops what the client still sends until it closes too.
    void linger() {
        release();
        setPhase(Phase::Closing, kLingerTime);
        ErrorCode ignored;
        lowest().shutdown(tcp::socket::shutdown_send, ignored);
        drain();
    }

    void drain() {
        lowest().async_read_some(asio::buffer(m_chunk), [self = this->shared_from_this()](
                                                            const ErrorCode& error, std::size_t) {
            if (self->dropped) {
                return;
            }
            if (error) {
                self->drop();
                return;
            }
            self->drain();
        });
    }

    StatusServer::Front& m_front;
    Stream m_stream;
    std::array<char, 4096> m_chunk{};
    std::string m_in;  // bytes received and not yet parsed
    std::optional<http::request_parser<http::buffer_body>> m_parser;
    std::optional<http::response<http::string_body>> m_reply;
    Admission m_admission;
    std::string m_body;
    std::size_t m_bodyBytes = 0;
    bool m_isHead = false;
    bool m_keepAlive = true;
    bool m_requestOpen = false;
    bool m_released = false;
    bool m_checkWatched = false;
    bool m_abandoned = false;
    CheckEngine::Ticket m_ticket = 0;
};

}  // namespace

StatusServer::Front::Front(ServerSettings settings, CheckEngine* engine, Metrics& metrics,
                           LogSink log)
    : m_settings(std::move(settings)),
      m_engine(engine),
      m_metrics(metrics),
      m_log(std::move(log)),
      m_rateLimiter(m_settings.ratePerMinute),
      m_connectionCounter(m_settings.maxConnections, m_settings.maxConnectionsPerClient),
      m_watch(std::chrono::seconds(m_settings.idleTimeoutSeconds)) {
    ErrorCode error;
    const asio::ip::address address = asio::ip::make_address(m_settings.address, error);
    if (error) {
        throw ServiceError("not a numeric listen address: " + m_settings.address);
    }
    m_tls = !m_settings.tlsCertPem.empty() && !m_settings.tlsKeyPem.empty();
    if (m_tls) {
        m_keyPair = std::make_shared<const TlsKeyPair>(m_settings.tlsCertPem, m_settings.tlsKeyPem);
        m_sslContext.emplace(asio::ssl::context::tls_server);
        SSL_CTX* context = m_sslContext->native_handle();
        SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
        SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
        // A connection waiting for its check or its next request holds no record buffers.
        SSL_CTX_set_mode(context, SSL_MODE_RELEASE_BUFFERS);
        // The pair is chosen per handshake, so that SIGHUP can swap it while connections run.
        SSL_CTX_set_cert_cb(context, &Front::onCertificate, this);
    }
    const tcp::endpoint endpoint(address, m_settings.port);
    const std::string where = m_settings.address + ":" + std::to_string(m_settings.port);
    m_acceptor.open(endpoint.protocol(), error);
    if (!error) {
        m_acceptor.set_option(tcp::acceptor::reuse_address(true), error);
        if (address.is_v6()) {
            // One socket for both families, as clients of either reach "::".
            m_acceptor.set_option(asio::ip::v6_only(false), error);
        }
        m_acceptor.bind(endpoint, error);
    }
    if (!error) {
        m_acceptor.listen(1024, error);
    }
    if (error) {
        throw ServiceError("cannot listen on " + where + ": " + error.message());
    }
    m_port = m_acceptor.local_endpoint().port();
    accept();
    watch();
    m_thread = std::thread([this] {
        for (;;) {
            try {
                m_io.run();
                return;
            } catch (const std::exception& failure) {
                // A handler that throws costs its connection, never the front.
                this->log(LogLevel::Warning, std::string("http: ") + failure.what());
            }
        }
    });
}

StatusServer::Front::~Front() {
    m_io.stop();
    m_thread.join();
    for (Connection* connection : m_watch.connections()) {
        connection->drop();
    }
}

int StatusServer::Front::onCertificate(SSL* connection, void* front) {
    const std::shared_ptr<const TlsKeyPair> pair = static_cast<Front*>(front)->keyPair();
    return pair && pair->useIn(connection) ? 1 : 0;
}

void StatusServer::Front::log(LogLevel level, const std::string& line) const {
    if (!m_log) {
        return;
    }
    try {
        m_log(level, line);
    } catch (...) {
        // A log that cannot be written never costs a request its answer.
    }
}

void StatusServer::Front::requestOpened() {
    std::lock_guard lock(m_openMutex);
    ++m_openRequests;
}

void StatusServer::Front::requestClosed() {
    {
        std::lock_guard lock(m_openMutex);
        --m_openRequests;
    }
    m_openChanged.notify_all();
}

bool StatusServer::Front::waitUntilIdle(std::chrono::milliseconds grace) {
    std::unique_lock lock(m_openMutex);
    return m_openChanged.wait_for(lock, grace, [this] { return m_openRequests == 0; });
}

void StatusServer::Front::released(const Connection& connection) {
    m_connectionCounter.closed(connection.limitKey);
    m_metrics.connectionClosed();
}

void StatusServer::Front::stopAccepting() {
    std::promise<void> closed;
    asio::post(m_io, [this, &closed] {
        ErrorCode ignored;
        m_acceptor.close(ignored);
        m_acceptRetry.cancel();
        closed.set_value();
    });
    if (m_io.stopped()) {
        return;
    }
    closed.get_future().wait_for(std::chrono::seconds(5));
}

void StatusServer::Front::accept() {
    m_acceptor.async_accept([this](const ErrorCode& error, tcp::socket socket) {
        if (error == asio::error::operation_aborted || !m_acceptor.is_open()) {
            return;
        }
        if (error) {
            // At the descriptor limit, for one: tried again soon rather than at once.
            log(LogLevel::Warning, "accept failed: " + error.message());
            m_acceptRetry.expires_after(std::chrono::milliseconds(100));
            m_acceptRetry.async_wait([this](const ErrorCode& waited) {
                if (!waited) {
                    accept();
                }
            });
            return;
        }
        try {
            accepted(std::move(socket));
        } catch (const std::exception& failure) {
            log(LogLevel::Warning, std::string("http: ") + failure.what());
        }
        accept();
    });
}

void StatusServer::Front::accepted(tcp::socket socket) {
    ErrorCode error;
    const tcp::endpoint peer = socket.remote_endpoint(error);
    if (error) {
        return;
    }
    const ClientAddress client(peer.data(), static_cast<socklen_t>(peer.size()),
                               m_settings.ipv6PrefixLength);
    bool admitted = false;
    switch (m_connectionCounter.admits(client.limitKey())) {
        case ConnectionCounter::Verdict::Admitted:
            admitted = true;
            break;
        case ConnectionCounter::Verdict::TotalLimit:
            admitted = evictWaitingConnection();
            if (!admitted) {
                m_metrics.recordConnectionRefused("total");
            }
            break;
        case ConnectionCounter::Verdict::ClientLimit:
            m_metrics.recordConnectionRefused("per_client");
            break;
    }
    if (!admitted) {
        log(LogLevel::Debug, "connection from " + client.text() + " refused at the limit");
        return;
    }
    socket.set_option(tcp::no_delay(true), error);
    m_connectionCounter.opened(client.limitKey());
    m_metrics.connectionOpened();
    if (m_tls) {
        auto session = std::make_shared<Session<asio::ssl::stream<tcp::socket>>>(
            *this, client.text(), client.limitKey(), std::move(socket), *m_sslContext);
        session->start();
    } else {
        auto session = std::make_shared<Session<tcp::socket>>(*this, client.text(),
                                                              client.limitKey(), std::move(socket));
        session->start();
    }
}

bool StatusServer::Front::evictWaitingConnection() {
    // A slot held by a connection that has not sent its head yet, or sits between requests,
    // goes to the new connection: otherwise clients that trickle heads from many addresses,
    // each within the per-client limit, hold every slot against clients that send at once,
    // since each slot the head time-out frees is taken again at once. A connection whose
    // request is complete (its body coming, its check running, its reply being sent) keeps
    // its slot. The oldest waiter goes first: a client that sends its head at once is the
    // newest waiter until it has sent it.
    Connection* oldest = m_watch.oldestWaiting();
    if (oldest == nullptr) {
        return false;
    }
    m_metrics.recordConnectionDropped("evicted");
    log(LogLevel::Debug, "connection from " + oldest->client +
                             " closed: its slot went to a new connection at the limit");
    oldest->drop();
    return true;
}

void StatusServer::Front::watch() {
    for (const ConnectionWatch::Expiry& expiry : m_watch.expired(Clock::now())) {
        if (*expiry.reason != '\0') {
            m_metrics.recordConnectionDropped(expiry.reason);
            log(LogLevel::Debug,
                "connection from " + expiry.connection->client + " closed: " + expiry.reason);
        }
        expiry.connection->drop();
    }
    for (Connection* gone : m_watch.departed()) {
        gone->abandon();
    }
    m_watchTimer.expires_after(kWatchInterval);
    m_watchTimer.async_wait([this](const ErrorCode& error) {
        if (!error) {
            watch();
        }
    });
}

StatusServer::StatusServer(ServerSettings settings, CheckEngine* engine, Metrics& metrics,
                           LogSink log)
    : m_front(std::make_unique<Front>(std::move(settings), engine, metrics, std::move(log))) {}

StatusServer::~StatusServer() = default;

std::uint16_t StatusServer::port() const {
    return m_front->port();
}

void StatusServer::stopAccepting() {
    m_front->stopAccepting();
}

bool StatusServer::waitUntilIdle(std::chrono::milliseconds grace) {
    return m_front->waitUntilIdle(grace);
}

std::size_t StatusServer::pendingChecks() const {
    return m_front->pendingChecks();
}

std::shared_ptr<const TlsKeyPair> StatusServer::keyPair() const {
    return m_front->keyPair();
}

void StatusServer::replaceKeyPair(std::shared_ptr<const TlsKeyPair> pair) {
    m_front->replaceKeyPair(std::move(pair));
}

}  // namespace quelvar::status
