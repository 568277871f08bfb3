#include "http/DirectClient.h"

#include <sstream>

#include "http/DirectBodyDecoder.h"
#include "http/DirectReplyReader.h"
#include "http/DirectRequest.h"
#include "http/SocketConnection.h"
#include "http/TlsConnection.h"
#include "http/TlsContext.h"
#include "http/TlsLibrary.h"
#include "text/Ascii.h"

namespace quelvar {

namespace {

// Returns whether a WWW-Authenticate challenge offers a scheme this client could answer.
bool offersKnownScheme(const DirectReplyReader::Headers& headers) {
    for (const auto& [name, value] : headers) {
        if (!equalsIgnoringCase(name, "WWW-Authenticate")) {
            continue;
        }
        // Several challenges may share one header, separated by commas; a scheme is the first
        // token of a challenge.
        std::istringstream challenges(value);
        std::string challenge;
        while (std::getline(challenges, challenge, ',')) {
            const auto first = challenge.find_first_not_of(" \t");
            if (first == std::string::npos) {
                continue;
            }
            const auto end = challenge.find_first_of(" \t", first);
            const std::string scheme = challenge.substr(first, end - first);
            for (const char* known : {"Basic", "Digest", "NTLM", "Negotiate"}) {
                if (equalsIgnoringCase(scheme, known)) {
                    return true;
                }
            }
        }
    }
    return false;
}

}  // namespace

// The transport of one GET: the socket and, for https, the TLS session over it.
class DirectClient::Connection {
public:
    Connection(const DirectRequest& request, const Timeouts& timeouts,
               SocketConnection::Clock::time_point deadline,
               std::unique_ptr<TlsContext>& tlsContext)
        : m_socket(request.host(), request.port(), request.addressFamily(), timeouts.connect,
                   timeouts.read, deadline) {
        if (!request.usesTls()) {
            return;
        }
        // The library is loaded after the TCP connection is up, as the first use needs it.
        TlsLibrary::ensureLoaded();
        if (!tlsContext) {
            tlsContext = std::make_unique<TlsContext>();
        }
        m_tls = std::make_unique<TlsConnection>(m_socket, *tlsContext, request.host());
    }

    ByteSource& source() { return m_tls ? static_cast<ByteSource&>(*m_tls) : m_socket; }

    void send(std::string_view data) {
        if (m_tls) {
            m_tls->writeAll(data);
        } else {
            m_socket.writeAll(data);
        }
    }

private:
    SocketConnection m_socket;
    std::unique_ptr<TlsConnection> m_tls;
};

DirectClient::DirectClient() : DirectClient(Timeouts{}) {}

DirectClient::DirectClient(Timeouts timeouts) : m_timeouts(timeouts) {}

DirectClient::~DirectClient() = default;

std::string DirectClient::get(const std::string& url) {
    m_responseCode = 0;
    m_connection.reset();
    const DirectRequest request(url);

    const auto deadline = SocketConnection::Clock::now() + m_timeouts.exchange;
    m_connection = std::make_unique<Connection>(request, m_timeouts, deadline, m_tlsContext);
    m_connection->send(request.text());
    DirectReplyReader reader(m_connection->source());
    const DirectReplyReader::Reply reply = reader.read();
    // A cut body leaves the rest of the reply on the connection, which nothing could read.
    if (reply.closed || reply.bodyCut) {
        m_connection.reset();
    }

    m_responseCode = reply.statusCode;
    const auto contentType = DirectReplyReader::headerValue(reply.headers, "Content-Type");
    std::string text = DirectBodyDecoder::text(contentType.value_or(std::string()), reply.body);
    if (reply.statusCode >= 200 && reply.statusCode <= 299) {
        return text;
    }
    // The client holds no credentials to repeat the request with: a challenge it could answer,
    // to a URL that carries a password, ends the GET with the 401 as its result.
    if (reply.statusCode == 401 && request.hasPassword() && offersKnownScheme(reply.headers)) {
        return text;
    }
    throw HttpStatusError(reply.statusCode, reply.statusLine, std::move(text));
}

}  // namespace quelvar
