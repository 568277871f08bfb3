#include "http/RestClientSession.h"

#include <curl/curl.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "http/HeaderFields.h"
#include "http/TransportFailure.h"
#include "http/posix/ProxyResolver.h"
#include "text/Ascii.h"

namespace quelvar {

namespace {

using Clock = std::chrono::steady_clock;

// Returns libcurl's cause of a failure: "(code) text".
std::string curlCause(CURLcode code) {
    return "(" + std::to_string(code) + ") " + curl_easy_strerror(code);
}

void initializeCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The OpenSSL ex-data slot through which a TLS context finds its session's client-certificate flag.
int clientCertificateFlagIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// Returns how many bytes the kernel has received on the socket, or 0 when it cannot tell.
std::uint64_t bytesReceivedOn(int socket) {
    tcp_info info{};
    socklen_t size = sizeof info;
    if (getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 ||
        size < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received) {
        return 0;
    }
    return info.tcpi_bytes_received;
}

std::string invalidUrl(const std::string& url) {
    return "Invalid URL: \"" + url + "\"";
}

// The transport can only speak http and https, and must be able to parse the URL.
void checkUrl(const std::string& url) {
    const std::unique_ptr<CURLU, void (*)(CURLU*)> parsed(curl_url(), curl_url_cleanup);
    if (!parsed ||
        curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), CURLU_PATH_AS_IS) != CURLUE_OK) {
        throw Error(invalidUrl(url));
    }
    char* scheme = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
        throw Error(invalidUrl(url));
    }
    const std::string name = scheme;
    curl_free(scheme);
    if (!equalsIgnoringCase(name, "http") && !equalsIgnoringCase(name, "https")) {
        throw Error(invalidUrl(url));
    }
}

using Session = RestClient::Session;
using Timeouts = RestClient::Timeouts;

// The state of one exchange, shared with libcurl's callbacks.
struct Transfer {
    using Phase = TransportPhase;

    Timeouts timeouts;
    ReplyUse replyUse = ReplyUse::Content;
    // Set when a body beyond the limit arrived for a caller that needs the content.
    bool bodyTooLarge = false;
    std::size_t bodySize = 0;
    bool headerSent = false;
    std::size_t bodySent = 0;
    bool headersComplete = false;
    // The next header line libcurl hands on is the status line of a reply: the first line of
    // the exchange, and the first after the empty line that ends an interim reply.
    bool atStatusLine = true;
    Clock::time_point lastActivity = Clock::now();
    // The session's open sockets and what they had received together at the last look, so
    // that arriving bytes count as activity even before libcurl can hand on a whole header
    // line. Connections kept idle for reuse receive nothing, so the sum moves with the one
    // in use.
    const std::vector<int>* sockets = nullptr;
    std::uint64_t bytesReceived = 0;
    bool timedOut = false;
    Phase timedOutIn = Phase::Sending;
    Session::Reply reply;

    Phase phase() const {
        if (headersComplete) {
            return Phase::Reading;
        }
        return headerSent && bodySent >= bodySize ? Phase::Receiving : Phase::Sending;
    }

    // Keeps the body up to the limit. Past it, a caller that reads only the status gets the
    // reply as it stands; any other caller gets an error, since the content would be cut.
    // Either way the transfer stops: libcurl ends it with a write error and closes the
    // connection, whose unread rest nothing could use.
    static size_t onBody(char* data, size_t size, size_t count, void* self) {
        auto& transfer = *static_cast<Transfer*>(self);
        const std::size_t length = size * count;
        std::string& body = transfer.reply.body;
        const std::size_t room = RestClient::kMaxBodyBytes - body.size();
        if (length <= room) {
            body.append(data, length);
            return length;
        }
        if (transfer.replyUse == ReplyUse::StatusOnly) {
            body.append(data, room);
            transfer.reply.bodyCut = true;
        } else {
            transfer.bodyTooLarge = true;
        }
        return 0;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* self) {
        auto& transfer = *static_cast<Transfer*>(self);
        const std::string_view line = trimBlanksAndLineBreaks(std::string_view(data, size * count));
        if (transfer.atStatusLine) {
            // A new reply: an interim one (100 Continue) is replaced by the next. The status
            // code is libcurl's; only the reason phrase is taken from the line.
            transfer.atStatusLine = false;
            transfer.reply.headers.clear();
            transfer.headersComplete = false;
            const auto codeStart = line.find(' ');
            const auto textStart =
                codeStart == std::string_view::npos ? codeStart : line.find(' ', codeStart + 1);
            transfer.reply.statusText = textStart == std::string_view::npos
                                            ? ""
                                            : std::string(trimBlanks(line.substr(textStart)));
        } else if (line.empty()) {
            transfer.headersComplete = true;
            transfer.atStatusLine = true;
        } else if (auto field = splitHeaderLine(line)) {
            transfer.reply.headers.push_back(std::move(*field));
        }
        return size * count;
    }

    // libcurl reports incoming headers one complete line at a time, so a header line
    // trickled slowly would otherwise look like silence.
    void watchIncomingBytes() {
        std::uint64_t total = 0;
        for (const int socket : *sockets) {
            total += bytesReceivedOn(socket);
        }
        if (total != bytesReceived) {
            bytesReceived = total;
            lastActivity = Clock::now();
        }
    }

    // Sees every byte that goes out and every piece libcurl hands on, which with the socket
    // counts above is what the send and receive time-outs measure.
    static int onDebug(CURL*, curl_infotype type, char*, size_t size, void* self) {
        auto& transfer = *static_cast<Transfer*>(self);
        switch (type) {
            case CURLINFO_HEADER_OUT:
                transfer.headerSent = true;
                transfer.lastActivity = Clock::now();
                break;
            case CURLINFO_DATA_OUT:
                transfer.bodySent += size;
                transfer.lastActivity = Clock::now();
                break;
            case CURLINFO_HEADER_IN:
            case CURLINFO_DATA_IN:
                transfer.lastActivity = Clock::now();
                break;
            default:
                break;
        }
        return 0;
    }

    // libcurl has no time-out per send or receive; this fails the exchange once no byte has
    // moved for the send time-out while sending, or the receive time-out while waiting for
    // and reading the reply. Connecting (with TLS) is bounded by the connect time-out.
    static int onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        auto& transfer = *static_cast<Transfer*>(self);
        if (!transfer.headerSent) {
            return 0;
        }
        const Phase current = transfer.phase();
        if (current != Phase::Sending) {
            transfer.watchIncomingBytes();
        }
        const auto limit =
            current == Phase::Sending ? transfer.timeouts.send : transfer.timeouts.receive;
        if (Clock::now() - transfer.lastActivity >= limit) {
            transfer.timedOut = true;
            transfer.timedOutIn = current;
            return 1;
        }
        return 0;
    }

    // A server that asks for a client certificate ends the handshake: the profile holds none,
    // and the caller is told instead of the server being answered without one.
    // The context stays with its connection in libcurl's cache, so it points at a flag of the
    // session, which outlives every connection, rather than at this transfer.
    static int onClientCertificate(SSL* ssl, X509**, EVP_PKEY**) {
        auto* requested = static_cast<bool*>(
            SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), clientCertificateFlagIndex()));
        if (requested != nullptr) {
            *requested = true;
        }
        return -1;
    }

    // libcurl opens and closes its sockets through these, so that the session knows them.
    static curl_socket_t onOpenSocket(void* self, curlsocktype, curl_sockaddr* address) {
        const int socket =
            ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
        if (socket >= 0) {
            static_cast<std::vector<int>*>(self)->push_back(socket);
        }
        return socket >= 0 ? socket : CURL_SOCKET_BAD;
    }

    static int onCloseSocket(void* self, curl_socket_t socket) {
        auto& sockets = *static_cast<std::vector<int>*>(self);
        sockets.erase(std::remove(sockets.begin(), sockets.end(), socket), sockets.end());
        return ::close(socket);
    }

    static CURLcode onSslContext(CURL*, void* context, void* requested) {
        auto* sslContext = static_cast<SSL_CTX*>(context);
        SSL_CTX_set_ex_data(sslContext, clientCertificateFlagIndex(), requested);
        SSL_CTX_set_client_cert_cb(sslContext, onClientCertificate);
        return CURLE_OK;
    }
};

}  // namespace

// One libcurl handle with the session's proxy lookup and what its callbacks report.
struct RestClient::Session::Transport {
    // libcurl's global set-up (its TLS library among others) and the handle wait for the first
    // request, so that making a client, as the window does when it is made, costs nothing.
    Transport() {
        initializeCurlOnce();
        handle = curl_easy_init();
        if (handle == nullptr) {
            throw Error("Could not create the HTTP session");
        }
        curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, &Transfer::onOpenSocket);
        curl_easy_setopt(handle, CURLOPT_OPENSOCKETDATA, &sockets);
        curl_easy_setopt(handle, CURLOPT_CLOSESOCKETFUNCTION, &Transfer::onCloseSocket);
        curl_easy_setopt(handle, CURLOPT_CLOSESOCKETDATA, &sockets);
        // An empty cookie file switches the cookie engine on without reading any file: cookies
        // live in the session, as long as the client.
        curl_easy_setopt(handle, CURLOPT_COOKIEFILE, "");
    }
    ~Transport() { curl_easy_cleanup(handle); }
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    CURL* handle = nullptr;
    ProxyResolver proxies;
    // Set by a TLS handshake in which the server asks for a client certificate.
    bool clientCertificateRequested = false;
    // Every socket libcurl holds open for this session, in use or kept for reuse.
    std::vector<int> sockets;
};

Error RestClient::Session::bodyTooLargeError() {
    return Error(transportFailure(TransportPhase::Reading, curlCause(CURLE_FILESIZE_EXCEEDED)));
}

Error RestClient::Session::contentEncodingError() {
    return Error(transportFailure(TransportPhase::Reading, curlCause(CURLE_BAD_CONTENT_ENCODING)));
}

RestClient::Session::Session() = default;

RestClient::Session::~Session() = default;

RestClient::Session::Reply RestClient::Session::perform(const Exchange& exchange) {
    if (!m_transport) {
        m_transport = std::make_unique<Transport>();
    }
    checkUrl(exchange.url);

    Transfer transfer;
    transfer.sockets = &m_transport->sockets;
    transfer.timeouts = exchange.timeouts;
    transfer.replyUse = exchange.replyUse;
    const bool post = exchange.method == RestMethod::Post;
    transfer.bodySize = post ? exchange.body.size() : 0;

    CURL* h = m_transport->handle;
    curl_easy_setopt(h, CURLOPT_URL, exchange.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    // The URL goes out as built: no removal of "." and ".." segments.
    curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    // The profile follows redirects itself, counting them.
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    // No Accept-Encoding goes out, and a Content-Encoding is undone by the profile (gzip only).
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, nullptr);
    curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, exchange.userAgent.c_str());

    std::unique_ptr<curl_slist, void (*)(curl_slist*)> headers(nullptr, curl_slist_free_all);
    auto append = [&headers](const std::string& line) {
        curl_slist* list = curl_slist_append(headers.get(), line.c_str());
        if (list == nullptr) {
            throw Error(transportFailure(TransportPhase::Sending, curlCause(CURLE_OUT_OF_MEMORY)));
        }
        headers.release();
        headers.reset(list);
    };
    for (const std::string& line : exchange.headers) {
        append(line);
    }
    // The body's length is announced in advance; libcurl's "Expect: 100-continue" stays out.
    append("Expect:");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

    if (post) {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(exchange.body.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, exchange.body.data());
    } else {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    }

    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(exchange.timeouts.connect.count()));
    // The whole execution has a deadline; libcurl's own bound for the transfer is what is left
    // of it (at least 1 ms, since 0 would mean none).
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(exchange.deadline - Clock::now()).count();
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS,
                     static_cast<long>(std::clamp<decltype(left)>(left, 1, INT32_MAX)));
    // An announced length past the limit fails before any of the body is read, unless only
    // the status is wanted (then the body is cut as it arrives).
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE,
                     exchange.replyUse == ReplyUse::Content
                         ? static_cast<curl_off_t>(RestClient::kMaxBodyBytes)
                         : curl_off_t{0});

    const bool verify = exchange.certificateCheck == CertificateCheck::Verify;
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
    // The attempt that accepts a failed certificate makes a new connection and handshake, so
    // that the certificate it accepts is the one the server shows now.
    curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, verify ? 0L : 1L);
    curl_easy_setopt(h, CURLOPT_SSL_SESSIONID_CACHE, verify ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_CERTINFO, verify ? 0L : 1L);
    curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &Transfer::onSslContext);
    m_transport->clientCertificateRequested = false;
    curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, &m_transport->clientCertificateRequested);

    // The user's proxy configuration is read for every request. An empty proxy text keeps
    // libcurl from reading the environment itself; the bypass list has been applied already.
    const std::string proxy = m_transport->proxies.proxyFor(exchange.url);
    curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(h, CURLOPT_NOPROXY, "");
    curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
    // The debug callback is the only place libcurl reports bytes sent; verbose mode routes
    // its messages there instead of to stderr.
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &Transfer::onDebug);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    CURLcode result = curl_easy_perform(h);

    // The callbacks point into this frame; none may outlive it.
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, nullptr);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, nullptr);
    curl_easy_setopt(h, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 1L);

    if (result == CURLE_WRITE_ERROR && transfer.reply.bodyCut) {
        result = CURLE_OK;
    }
    if (result != CURLE_OK) {
        if (m_transport->clientCertificateRequested) {
            throw Error("Unspecified certificate from client");
        }
        if (transfer.bodyTooLarge || result == CURLE_FILESIZE_EXCEEDED) {
            throw bodyTooLargeError();
        }
        Transfer::Phase phase = transfer.phase();
        if (transfer.timedOut) {
            result = CURLE_OPERATION_TIMEDOUT;
            phase = transfer.timedOutIn;
        }
        if (result == CURLE_PEER_FAILED_VERIFICATION) {
            throw CertificateError(transportFailure(TransportPhase::Sending, curlCause(result)));
        }
        throw Error(transportFailure(phase, curlCause(result)));
    }

    if (!verify) {
        curl_certinfo* certificates = nullptr;
        curl_easy_getinfo(h, CURLINFO_CERTINFO, &certificates);
        const bool secure = startsWithIgnoringCase(exchange.url, "https://");
        if (secure && (certificates == nullptr || certificates->num_of_certs == 0)) {
            throw Error("Error getting Server Certificate");
        }
    }

    long statusCode = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &statusCode);
    transfer.reply.statusCode = static_cast<int>(statusCode);
    char* location = nullptr;
    curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &location);
    if (location != nullptr) {
        transfer.reply.redirectURL = location;
    }
    return std::move(transfer.reply);
}

}  // namespace quelvar
