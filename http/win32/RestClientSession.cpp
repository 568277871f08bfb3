#include "http/RestClientSession.h"

#include <winsock2.h>
// After winsock2.h, which must come first.
#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>

#include "http/CookieJar.h"
#include "http/HeaderFields.h"
#include "http/TransportFailure.h"
#include "http/Url.h"
#include "http/win32/ProxyResolver.h"
#include "http/win32/WinHttpErrors.h"
#include "text/Ascii.h"
#include "text/win32/WideText.h"

// The service profile over WinHTTP. The session makes no decision of its own: WinHTTP's
// redirect and cookie handling are off (the shared RestRequest follows redirects; the session
// keeps cookies in a CookieJar, as libcurl's engine does on Linux), and the proxy is chosen
// for every request from the current user's configuration.
//
// Besides the profile's headers (User-Agent, Accept, Accept-Charset, Content-type, Cookie),
// WinHTTP itself writes:
// - Host, from the connection's host and port (required by HTTP/1.1);
// - Content-Length, with the total length passed to WinHttpSendRequest (also 0 for a POST
//   without body), so that the body's length is announced before it is written;
// - Connection: Keep-Alive, since WinHTTP keeps connections of the session open for later
//   requests, as the profile allows.

namespace quelvar {

namespace {

constexpr DWORD kBodyPiece = 65536;
// SECURITY_FLAG_IGNORE_UNKNOWN_CA | _CERT_WRONG_USAGE | _CERT_CN_INVALID | _CERT_DATE_INVALID.
constexpr DWORD kIgnoreCertificateFailures = 0x3300;

// Returns the error of the WinHTTP call that just failed.
DWORD lastError() {
    return winHttpError(GetLastError());
}

[[noreturn]] void fail(TransportPhase phase, DWORD error) {
    throw Error(transportFailure(phase, winHttpCause(error)));
}

std::string invalidUrl(const std::string& url) {
    return "Invalid URL: \"" + url + "\"";
}

struct HandleCloser {
    void operator()(void* handle) const { WinHttpCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// Where one request goes, as the transport reads its URL.
struct Target {
    bool secure = false;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring pathAndQuery;
};

// Splits a request URL; throws Error("Invalid URL: ...") for what WinHTTP cannot open: a
// scheme other than http and https, an empty host, or a port that is no number from 1 to
// 65535.
Target targetOf(const std::string& url) {
    const UrlParts parts = splitUrl(url);
    Target target;
    if (equalsIgnoringCase(parts.scheme, "https")) {
        target.secure = true;
    } else if (!equalsIgnoringCase(parts.scheme, "http")) {
        throw Error(invalidUrl(url));
    }
    if (parts.host.empty() || url.find("://") == std::string::npos) {
        throw Error(invalidUrl(url));
    }
    const std::string port = parts.port.empty() ? defaultPort(parts.scheme) : parts.port;
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos) {
        throw Error(invalidUrl(url));
    }
    const unsigned long number = std::stoul(port);
    if (number == 0 || number > 65535) {
        throw Error(invalidUrl(url));
    }
    target.port = static_cast<INTERNET_PORT>(number);
    target.host = toWide(parts.host);
    std::string pathAndQuery = parts.path + parts.document;
    if (parts.hasQuery) {
        pathAndQuery += "?" + parts.query;
    }
    target.pathAndQuery = toWide(pathAndQuery);
    return target;
}

// Sets a number option of the request; a failure fails the exchange in its phase.
void setOption(HINTERNET request, DWORD option, DWORD value,
               TransportPhase phase = TransportPhase::Sending) {
    if (!WinHttpSetOption(request, option, &value, sizeof value)) {
        fail(phase, lastError());
    }
}

std::wstring queryText(HINTERNET request, DWORD query) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
        return {};
    }
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return {};
    }
    text.resize(size / sizeof(wchar_t));
    return text;
}

// Returns whether the server's certificate can be had from the request.
bool hasServerCertificate(HINTERNET request) {
    PCCERT_CONTEXT certificate = nullptr;
    DWORD size = sizeof certificate;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size) ||
        certificate == nullptr) {
        return false;
    }
    CertFreeCertificateContext(certificate);
    return true;
}

}  // namespace

// The WinHTTP session of a client and its cookie store.
struct RestClient::Session::Transport {
    // A request sent on a kept connection that the server had closed meanwhile: it fails
    // before any reply, and goes again on a new connection.
    class StaleConnection : public Error {
    public:
        using Error::Error;
    };

    // Sends the request once; throws StaleConnection as said above.
    Reply performOnce(const Exchange& exchange);

    Handle session;
    CookieJar cookies;
    // Both ends (address and port) of the connections the session has used, newest last, to
    // tell a kept connection from a new one. The local end alone would not do: the system
    // gives a new connection to another server the local port of an earlier one.
    std::vector<std::string> usedConnections;
};

namespace {

// Returns the local end of the request's connection, empty when WinHTTP cannot tell.
// Returns both ends of the request's connection as bytes, or nothing when WinHTTP cannot say.
std::string endsOf(HINTERNET request) {
    WINHTTP_CONNECTION_INFO info{};
    DWORD size = sizeof info;
    info.cbSize = size;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_CONNECTION_INFO, &info, &size)) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(&info.LocalAddress),
                       sizeof info.LocalAddress) +
           std::string(reinterpret_cast<const char*>(&info.RemoteAddress),
                       sizeof info.RemoteAddress);
}

// Connections remembered; WinHTTP keeps far fewer open than this at once.
constexpr std::size_t kRememberedConnections = 64;

}  // namespace

Error RestClient::Session::bodyTooLargeError() {
    return Error(transportFailure(TransportPhase::Reading,
                                  winHttpCause(ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW)));
}

Error RestClient::Session::contentEncodingError() {
    return Error(transportFailure(TransportPhase::Reading,
                                  winHttpCause(ERROR_WINHTTP_INVALID_SERVER_RESPONSE)));
}

RestClient::Session::Session() : m_transport(std::make_unique<Transport>()) {
    // An empty agent name: the profile's User-Agent goes with each request's headers. No proxy
    // at session level: each request gets the one the user's configuration names.
    m_transport->session.reset(WinHttpOpen(L"", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                           WINHTTP_NO_PROXY_BYPASS, 0));
    if (!m_transport->session) {
        throw Error("Could not create the HTTP session: " + winHttpCause(GetLastError()));
    }
}

RestClient::Session::~Session() = default;

RestClient::Session::Reply RestClient::Session::perform(const Exchange& exchange) {
    try {
        return m_transport->performOnce(exchange);
    } catch (const Transport::StaleConnection&) {
        // libcurl and Windows' WinHTTP repeat such a request themselves; Wine's does not.
    }
    try {
        return m_transport->performOnce(exchange);
    } catch (const Transport::StaleConnection& error) {
        throw Error(error.what());
    }
}

RestClient::Session::Reply RestClient::Session::Transport::performOnce(const Exchange& exchange) {
    const Target target = targetOf(exchange.url);
    HINTERNET session = this->session.get();
    const bool post = exchange.method == RestMethod::Post;

    const Handle connection(WinHttpConnect(session, target.host.c_str(), target.port, 0));
    if (!connection) {
        fail(TransportPhase::Sending, lastError());
    }
    // The path is sent as the shared code built it, already percent-encoded.
    const DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY |
                        (target.secure ? WINHTTP_FLAG_SECURE : 0);
    const Handle request(
        WinHttpOpenRequest(connection.get(), post ? L"POST" : L"GET", target.pathAndQuery.c_str(),
                           nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!request) {
        fail(TransportPhase::Sending, lastError());
    }
    HINTERNET h = request.get();

    // No wait may outlast the deadline of the whole execution: each time-out is cut to what is
    // left of it, and the body is read with a look at the clock after each piece.
    const auto withinDeadline = [&exchange](std::chrono::milliseconds timeout) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(exchange.deadline - Clock::now());
        return static_cast<int>(std::clamp(left, std::chrono::milliseconds(1), timeout).count());
    };
    if (!WinHttpSetTimeouts(h, 0, withinDeadline(exchange.timeouts.connect),
                            withinDeadline(exchange.timeouts.send),
                            withinDeadline(exchange.timeouts.receive))) {
        fail(TransportPhase::Sending, lastError());
    }
    // The wait for the reply headers has a time-out of its own (90 s by default on Windows,
    // none on Wine), which bounds the whole wait on Windows and each receive on Wine; the
    // receive time-out bounds it, so that the headers arrive within it.
    setOption(h, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
              static_cast<DWORD>(withinDeadline(exchange.timeouts.receive)));
    setOption(h, WINHTTP_OPTION_REDIRECT_POLICY, WINHTTP_OPTION_REDIRECT_POLICY_NEVER);
    setOption(h, WINHTTP_OPTION_DISABLE_FEATURE,
              WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS);
    const bool ignoreCertificate = exchange.certificateCheck == CertificateCheck::Ignore;
    if (ignoreCertificate && target.secure) {
        setOption(h, WINHTTP_OPTION_SECURITY_FLAGS, kIgnoreCertificateFailures);
    }

    if (const auto proxy = ProxyResolver::proxyFor(session, toWide(exchange.url))) {
        WINHTTP_PROXY_INFO info{};
        info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        info.lpszProxy = const_cast<wchar_t*>(proxy->proxy.c_str());
        info.lpszProxyBypass =
            proxy->bypass.empty() ? nullptr : const_cast<wchar_t*>(proxy->bypass.c_str());
        if (!WinHttpSetOption(h, WINHTTP_OPTION_PROXY, &info, sizeof info)) {
            fail(TransportPhase::Sending, lastError());
        }
    }

    std::vector<std::string> lines = exchange.headers;
    lines.push_back("User-Agent: " + exchange.userAgent);
    const std::string cookieHeader = cookies.headerFor(exchange.url, CookieJar::Clock::now());
    if (!cookieHeader.empty()) {
        lines.push_back("Cookie: " + cookieHeader);
    }
    for (const std::string& line : lines) {
        const auto colon = line.find(':');
        // A header without value takes a header out, which WinHTTP never adds here anyway.
        if (colon == std::string::npos || trimBlanksAndLineBreaks(line.substr(colon + 1)).empty()) {
            continue;
        }
        const std::wstring wide = toWide(line);
        if (!WinHttpAddRequestHeaders(h, wide.c_str(), static_cast<DWORD>(wide.size()),
                                      WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
            fail(TransportPhase::Sending, lastError());
        }
    }

    const std::string_view body = post ? std::string_view(exchange.body) : std::string_view();
    const auto send = [&] {
        return WinHttpSendRequest(h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                                  static_cast<DWORD>(body.size()), 0);
    };
    if (!send()) {
        const DWORD error = lastError();
        if (error == ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED) {
            throw Error("Unspecified certificate from client");
        }
        // The caller sends the request again with the four ignore flags, once.
        if (isCertificateFailure(error, exchange.certificateCheck)) {
            throw CertificateError(transportFailure(TransportPhase::Sending, winHttpCause(error)));
        }
        fail(TransportPhase::Sending, error);
    }
    // The accepted certificate must be one the server showed. It is fetched from the
    // accepting attempt: Windows would also have it on the failed one, but Wine frees the
    // certificate of a failed handshake, and the two attempts meet the same server.
    if (ignoreCertificate && target.secure && !hasServerCertificate(h)) {
        throw Error("Error getting Server Certificate");
    }
    // Whether the request went on a connection of an earlier request.
    const std::string ends = endsOf(h);
    const bool keptConnection =
        !ends.empty() &&
        std::find(usedConnections.begin(), usedConnections.end(), ends) != usedConnections.end();
    if (!ends.empty() && !keptConnection) {
        if (usedConnections.size() == kRememberedConnections) {
            usedConnections.erase(usedConnections.begin());
        }
        usedConnections.push_back(ends);
    }
    for (std::size_t sent = 0; sent < body.size();) {
        const DWORD piece =
            static_cast<DWORD>(std::min<std::size_t>(kBodyPiece, body.size() - sent));
        DWORD written = 0;
        if (!WinHttpWriteData(h, body.data() + sent, piece, &written)) {
            fail(TransportPhase::Sending, lastError());
        }
        sent += written;
    }
    if (!WinHttpReceiveResponse(h, nullptr)) {
        const DWORD error = lastError();
        if (error == ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED) {
            throw Error("Unspecified certificate from client");
        }
        if (keptConnection && (error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE ||
                               error == ERROR_WINHTTP_CONNECTION_ERROR)) {
            throw StaleConnection(transportFailure(TransportPhase::Receiving, winHttpCause(error)));
        }
        fail(TransportPhase::Receiving, error);
    }

    Reply reply;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        fail(TransportPhase::Receiving, lastError());
    }
    reply.statusCode = static_cast<int>(status);
    reply.statusText =
        std::string(trimBlanksAndLineBreaks(fromWide(queryText(h, WINHTTP_QUERY_STATUS_TEXT))));

    // The raw headers start with the status line, end with an empty line and hold each
    // header once per occurrence, in the order received.
    const std::string raw = fromWide(queryText(h, WINHTTP_QUERY_RAW_HEADERS_CRLF));
    std::string_view rest = raw;
    bool statusLine = true;
    while (!rest.empty()) {
        const auto end = rest.find("\r\n");
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 2);
        if (statusLine) {
            statusLine = false;
            continue;
        }
        if (auto field = splitHeaderLine(line)) {
            reply.headers.push_back(std::move(*field));
        }
    }

    // The announced length of the body, when the transport frames it by one.
    std::optional<std::size_t> announced;
    if (reply.header("Transfer-Encoding").empty() && reply.statusCode != 204 &&
        reply.statusCode != 304) {
        announced = parseDecimal(reply.header("Content-Length"));
    }
    const bool statusOnly = exchange.replyUse == ReplyUse::StatusOnly;
    // A caller that needs the content learns before the body is read that it cannot have it.
    if (!statusOnly && announced && *announced > RestClient::kMaxBodyBytes) {
        throw bodyTooLargeError();
    }
    for (;;) {
        if (Clock::now() >= exchange.deadline) {
            fail(TransportPhase::Reading, ERROR_WINHTTP_TIMEOUT);
        }
        setOption(h, WINHTTP_OPTION_RECEIVE_TIMEOUT,
                  static_cast<DWORD>(withinDeadline(exchange.timeouts.receive)),
                  TransportPhase::Reading);
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(h, &available)) {
            fail(TransportPhase::Reading, lastError());
        }
        if (available == 0) {
            break;
        }
        // Past the limit, a caller that reads only the status gets the reply as it stands, any
        // other an error; either way the rest stays unread and the request's connection is
        // closed with its handle.
        const std::size_t room = RestClient::kMaxBodyBytes - reply.body.size();
        if (room == 0) {
            if (!statusOnly) {
                throw bodyTooLargeError();
            }
            reply.bodyCut = true;
            break;
        }
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(available, room));
        const std::size_t start = reply.body.size();
        reply.body.resize(start + wanted);
        DWORD read = 0;
        if (!WinHttpReadData(h, reply.body.data() + start, wanted, &read)) {
            fail(TransportPhase::Reading, lastError());
        }
        reply.body.resize(start + read);
        if (read == 0) {
            break;
        }
    }
    // A connection that closes within a body of announced length ends the read without
    // error; the reply is incomplete, and taking it as whole would report a cut body as the
    // server's answer.
    if (!reply.bodyCut && announced && reply.body.size() < *announced) {
        fail(TransportPhase::Reading, ERROR_WINHTTP_CONNECTION_ERROR);
    }

    const auto now = CookieJar::Clock::now();
    for (const auto& [name, value] : reply.headers) {
        if (equalsIgnoringCase(name, "Set-Cookie")) {
            cookies.store(exchange.url, value, now);
        }
    }
    const std::string location = reply.header("Location");
    if (!location.empty()) {
        reply.redirectURL = resolveReference(exchange.url, location);
    }
    return reply;
}

}  // namespace quelvar
