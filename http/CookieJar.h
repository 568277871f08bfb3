#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar {

// The cookie store of a service-profile session whose transport keeps no cookies of its own:
// the WinHTTP half (http/win32/RestClientSession.cpp), where WinHTTP's cookie handling is off;
// on Linux libcurl's cookie engine keeps them. It holds the cookies that replies set (RFC 6265
// section 5.3: Domain, Path, Expires, Max-Age and Secure; other attributes are ignored) and
// writes the Cookie header of later requests to URLs they match (section 5.4). Domain values
// are not checked against a list of public suffixes.
class CookieJar {
public:
    using Clock = std::chrono::system_clock;

    // Stores the cookie of one Set-Cookie header value of a reply to the URL; a value without
    // a name and "=", or whose Domain does not cover the URL's host, is ignored, an expired one
    // removes its stored copy, and one that replaces a stored cookie keeps that cookie's place.
    void store(const std::string& url, std::string_view setCookie, Clock::time_point now);
    // Returns the Cookie header value for a request to the URL ("a=1; b=2"), Secure cookies only
    // over https, longer paths first, then in the order first stored; empty when no cookie
    // matches.
    std::string headerFor(const std::string& url, Clock::time_point now) const;

    // Returns the time of an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT", also with dashes or
    // two-digit years), or nothing when the text is no such date.
    static std::optional<Clock::time_point> parseDate(std::string_view text);

private:
    struct Cookie {
        std::string name;
        std::string value;
        std::string domain;
        bool hostOnly = true;
        std::string path;
        bool secure = false;
        std::optional<Clock::time_point> expires;
        std::uint64_t order = 0;
    };

    void removeExpired(Clock::time_point now);

    std::vector<Cookie> m_cookies;
    std::uint64_t m_nextOrder = 0;
};

}  // namespace quelvar
