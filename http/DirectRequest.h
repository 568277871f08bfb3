#pragma once

#include <string>

#include "http/SocketConnection.h"

namespace quelvar {

// The GET a direct client sends for a URL: where it connects and the exact request bytes.
class DirectRequest {
public:
    static constexpr const char* kAccept =
        "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
    static constexpr const char* kUserAgent = "Mozilla/5.0 (compatible; Quelvar DirectClient/1.0)";

    // Splits the URL and builds the request. Throws Error "A Host is required" for an empty
    // host, "Unknown Protocol" for a scheme other than http and https without a port, and an
    // Error when the port is no number from 1 to 65535 or the URL holds a control character.
    explicit DirectRequest(const std::string& url);

    // Returns whether the scheme is https (compared without regard to case).
    bool usesTls() const { return m_usesTls; }
    // Returns the host as it is resolved and named by SNI: without the brackets of IPv6.
    const std::string& host() const { return m_host; }
    AddressFamily addressFamily() const { return m_family; }
    // Returns the port to connect to: the URL's, else the scheme's default.
    const std::string& port() const { return m_port; }
    // Returns whether the URL carries a non-empty password.
    bool hasPassword() const { return m_hasPassword; }
    // Returns the exact bytes of the request.
    const std::string& text() const { return m_text; }

private:
    bool m_usesTls = false;
    std::string m_host;
    AddressFamily m_family = AddressFamily::IPv4;
    std::string m_port;
    bool m_hasPassword = false;
    std::string m_text;
};

}  // namespace quelvar
