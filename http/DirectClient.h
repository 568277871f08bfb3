#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "base/Error.h"

namespace quelvar {

// The failure of a direct GET whose final status lies outside 200 to 299: carries the status
// code, the status line as message and the body text.
class HttpStatusError : public Error {
public:
    HttpStatusError(int statusCode, const std::string& statusLine, std::string body)
        : Error(statusLine), m_statusCode(statusCode), m_body(std::move(body)) {}
    int statusCode() const { return m_statusCode; }
    const std::string& body() const { return m_body; }

private:
    int m_statusCode;
    std::string m_body;
};

class TlsContext;

// The direct profile: a plain HTTP/1.1 client over the platform's sockets, with TLS from OpenSSL
// for https URLs, no proxy, no redirects and no certificate verification.
class DirectClient {
public:
    // Bounds of the connect and of every wait for reply bytes, 30000 ms each by default, and
    // of the whole GET, 120000 ms (four of those bounds), so that a server that trickles its
    // reply cannot keep a probe going for ever.
    struct Timeouts {
        std::chrono::milliseconds connect{30000};
        std::chrono::milliseconds read{30000};
        std::chrono::milliseconds exchange{120000};
    };

    // Makes a client with the default time-outs.
    DirectClient();
    explicit DirectClient(Timeouts timeouts);
    ~DirectClient();
    DirectClient(const DirectClient&) = delete;
    DirectClient& operator=(const DirectClient&) = delete;

    // GETs the URL and returns the body as UTF-8 text when the final status is 200 to 299, or
    // when a 401 offering a known scheme answers a URL with a password; throws HttpStatusError
    // for any other status and Error for every transport failure, the time-out socket error
    // when the GET outlasts the exchange bound. A body beyond DirectReplyReader::kMaxBodyBytes
    // is cut there and the connection closed; the status stands.
    std::string get(const std::string& url);
    // Returns the status code of the last reply (-1 when the status line held no number, 0
    // when the last GET failed before a reply).
    int responseCode() const { return m_responseCode; }

    // Returns the bounds of the connect and of every wait for the peer.
    const Timeouts& timeouts() const { return m_timeouts; }

private:
    class Connection;
    Timeouts m_timeouts;
    int m_responseCode = 0;
    // Made at the first https GET and kept with the client.
    std::unique_ptr<TlsContext> m_tlsContext;
    // Open from a GET until the client is released, or closed right after a reply when the
    // server closed it.
    std::unique_ptr<Connection> m_connection;
};

}  // namespace quelvar
