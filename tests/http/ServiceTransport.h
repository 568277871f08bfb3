#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quelvar::test {

// What the platform's service-profile transport (libcurl, WinHTTP) contributes to the wire
// tests: its failure texts, the headers it adds itself, and the user's proxy configuration.
// Defined in tests/http/posix/ and tests/http/win32/.

// A failure whose cause text is the transport's own.
enum class TransportFailure {
    ConnectionRefused,    // sending: nothing listens on the port
    ResetBeforeReply,     // receiving: the server resets the connection instead of replying
    ClosedBeforeReply,    // receiving: the server closes without a byte of reply
    NoHttpReply,          // receiving: the reply is no HTTP status line
    ClosedWithinBody,     // reading: the connection ends before the announced body length
    BadContentCoding,     // reading: a gzip body that is no gzip stream
    SilentServer,         // receiving: the receive time-out passes without a reply
    StalledBody,          // reading: the receive time-out passes within the body
    SilentTlsHandshake,   // sending: the time-out passes within the TLS handshake
    DeadlineBeforeReply,  // receiving: the execution's deadline passes before the reply head
    DeadlineWithinBody,   // reading: the execution's deadline passes within the body
    BodyTooLarge,         // reading: a body or its content beyond RestClient::kMaxBodyBytes
};

// Returns the cause the service profile reports for the failure, such as "Error sending data:
// (7) Couldn't connect to server".
std::string transportFailure(TransportFailure failure);

// Returns how the transport ends an exchange whose reply begins with an interim "100 Continue":
// the empty text where it reads on to the final reply, else its failure (with "REST request
// failed: " in front).
std::string interimReplyFailure();

// Returns whether the transport checks the server's certificate within the TLS handshake, so
// that a certificate it refuses fails the handshake (libcurl with OpenSSL), or after a
// completed handshake (WinHTTP).
bool checksCertificateInHandshake();

// Returns "caf\u00E9" in the system's ANSI code page: UTF-8 on POSIX systems, one byte 0xE9 for
// the é in the Western code page 1252; nothing for another code page.
std::optional<std::string> ansiCodePageFormOfCafe();

// Returns the header lines (without CR LF) the transport adds to every request beyond the
// profile's own and Host and Content-Length.
std::vector<std::string> transportHeaders();

// Returns the form in which two requests are compared: the exact bytes where the transport
// writes the headers in a fixed order (libcurl), else the request line, the header lines in
// sorted order without transportHeaders(), and the body.
std::string wireForm(const std::string& request);

// Keeps the current user's proxy configuration (the proxy variables of the environment on
// POSIX systems, the Internet Settings of the registry on Windows) out of a test, and puts it
// back when it goes.
class UserProxyIsolation {
public:
    UserProxyIsolation();
    ~UserProxyIsolation();
    UserProxyIsolation(const UserProxyIsolation&) = delete;
    UserProxyIsolation& operator=(const UserProxyIsolation&) = delete;

private:
    std::map<std::string, std::string> m_saved;
    bool m_hadSaved = false;
};

}  // namespace quelvar::test
