#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/Error.h"
#include "http/RestClient.h"
#include "http/RestRequest.h"

namespace quelvar {

// The server's certificate failed verification (untrusted, expired or not yet valid, wrong
// name or usage); the message is the transport's failure text.
class CertificateError : public Error {
public:
    using Error::Error;
};

// The HTTP session of a RestClient, kept for the client's life with its connection cache and
// its cookie store. Each exchange is a single request and its reply; redirects are left to the
// caller. The transport is the platform's (libcurl on Linux) and lives behind m_transport.
class RestClient::Session {
public:
    enum class CertificateCheck { Verify, Ignore };

    // One request as it goes on the wire.
    struct Exchange {
        std::string url;
        RestMethod method = RestMethod::Get;
        // Complete header lines ("Name: value") added to the transport's Host and
        // Content-Length.
        std::vector<std::string> headers;
        std::string userAgent;
        std::string body;
        CertificateCheck certificateCheck = CertificateCheck::Verify;
        Timeouts timeouts;
    };

    // The reply to one request.
    struct Reply {
        int statusCode = 0;
        std::string statusText;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
        // The Location header resolved against the request URL; empty without Location.
        std::string redirectURL;

        // Returns the value of the last header of that name (compared without regard to case).
        std::string header(std::string_view name) const;
    };

    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Sends the request and reads its whole reply. Throws CertificateError when the server's
    // certificate fails verification, and Error with the cause's message for every other
    // failure ("Invalid URL: ...", "Error sending data: ...", "Error receiving data: ...",
    // "Error reading data: ...", "Unspecified certificate from client", "Error getting Server
    // Certificate").
    Reply perform(const Exchange& exchange);

    // Returns the transport's "Error reading data: (number) text" for a body whose content
    // coding cannot be undone.
    static Error contentEncodingError();

private:
    struct Transport;
    std::unique_ptr<Transport> m_transport;
};

}  // namespace quelvar
