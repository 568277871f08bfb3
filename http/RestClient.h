#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace quelvar {

class RestRequest;
class RestResponse;

// The service profile's client: the base URL, the Accept, Accept-Charset and content-type
// settings, and one HTTP session (the platform's transport with its connection cache and cookie
// store) that lives as long as the client.
class RestClient {
public:
    // Time-outs of one execution: the profile's 30000 ms for the connect and for each send and
    // receive, and 120000 ms (four of those bounds) for the whole execution with its redirects
    // and repeats, so that a server that trickles its reply cannot keep it going for ever.
    struct Timeouts {
        std::chrono::milliseconds connect{30000};
        std::chrono::milliseconds send{30000};
        std::chrono::milliseconds receive{30000};
        std::chrono::milliseconds exchange{120000};
    };

    // Body bytes kept of one reply, and bytes of its decompressed content.
    static constexpr std::size_t kMaxBodyBytes = 16 * 1024 * 1024;

    // Makes a client with the profile's 30000 ms time-outs.
    RestClient();
    // Makes a client with other time-outs (tests shorten them).
    explicit RestClient(Timeouts timeouts);
    ~RestClient();
    RestClient(const RestClient&) = delete;
    RestClient& operator=(const RestClient&) = delete;

    // Sets the base URL, normalised; throws Error("Host field is empty") when the URL has no
    // host, leaving the stored base URL unchanged.
    void setBaseURL(const std::string& url);
    // Returns the normalised base URL.
    const std::string& baseURL() const { return m_baseURL; }

    void setAccept(std::string accept) { m_accept = std::move(accept); }
    const std::string& accept() const { return m_accept; }
    void setAcceptCharset(std::string charset) { m_acceptCharset = std::move(charset); }
    const std::string& acceptCharset() const { return m_acceptCharset; }
    void setContentType(std::string contentType) { m_contentType = std::move(contentType); }
    const std::string& contentType() const { return m_contentType; }
    // Whether a reply status of 500 or above becomes an error; Quelvar keeps it off.
    void setRaiseExceptionOn500(bool raise) { m_raiseOn500 = raise; }
    bool raiseExceptionOn500() const { return m_raiseOn500; }

    const Timeouts& timeouts() const { return m_timeouts; }
    void setTimeouts(Timeouts timeouts) { m_timeouts = timeouts; }

    // Returns the session the requests of this client share.
    class Session;
    Session& session() { return *m_session; }

private:
    std::string m_baseURL;
    std::string m_accept = "application/json, text/plain; q=0.9, text/html;q=0.8,";
    std::string m_acceptCharset = "UTF-8, *;q=0.8";
    std::string m_contentType;
    bool m_raiseOn500 = false;
    Timeouts m_timeouts;
    std::unique_ptr<Session> m_session;
};

}  // namespace quelvar
