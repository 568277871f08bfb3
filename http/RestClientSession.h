#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Error.h"
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
// its cookie store. Each exchange is one request and its reply; redirects, and the repeat after a
// certificate failure, are left to the caller. The transport is the platform's and lives behind
// m_transport: on Linux (http/posix/) a libcurl easy handle, made at the first request so that a
// client that never sends sets up no libcurl, with libcurl's cookie engine; on Windows
// (http/win32/) a WinHTTP session, opened when the session is made (a failure to open it throws
// from the constructor), with a CookieJar for its cookies.
class RestClient::Session {
public:
    enum class CertificateCheck { Verify, Ignore };
    using Clock = std::chrono::steady_clock;

    // One request as it goes on the wire.
    struct Exchange {
        std::string url;
        RestMethod method = RestMethod::Get;
        // Complete header lines ("Name: value") added to the transport's Host and
        // Content-Length; a line without value ("Name:") sends no such header, taking out one
        // the transport would add itself.
        std::vector<std::string> headers;
        std::string userAgent;
        std::string body;
        CertificateCheck certificateCheck = CertificateCheck::Verify;
        Timeouts timeouts;
        // The end of the whole execution this request belongs to (Timeouts::exchange).
        Clock::time_point deadline = Clock::time_point::max();
        // What a body beyond RestClient::kMaxBodyBytes does.
        ReplyUse replyUse = ReplyUse::Content;
    };

    // The reply to one request.
    struct Reply {
        int statusCode = 0;
        std::string statusText;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
        // The Location header resolved against the request URL; empty without Location.
        std::string redirectURL;
        // Whether the body was cut at RestClient::kMaxBodyBytes (ReplyUse::StatusOnly).
        bool bodyCut = false;

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
    // Certificate"); passing the deadline fails as a time-out does, and a body beyond
    // RestClient::kMaxBodyBytes with ReplyUse::Content fails as bodyTooLargeError(). A request
    // that fails before any reply on a kept connection the server had closed goes once more on a
    // new one (libcurl does so itself; the WinHTTP half does it here, since Wine's WinHTTP does
    // not).
    Reply perform(const Exchange& exchange);

    // Returns the transport's "Error reading data: (number) text" for a body whose content
    // coding cannot be undone.
    static Error contentEncodingError();
    // Returns the transport's "Error reading data: (number) text" for a body, or decompressed
    // content, beyond RestClient::kMaxBodyBytes.
    static Error bodyTooLargeError();

private:
    struct Transport;
    std::unique_ptr<Transport> m_transport;
};

}  // namespace quelvar
