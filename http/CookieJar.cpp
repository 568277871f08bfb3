#include "http/CookieJar.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>

#include "http/Url.h"
#include "text/Ascii.h"

namespace quelvar {

namespace {

std::string hostOf(const UrlParts& parts) {
    std::string host = toLower(parts.host);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    return host;
}

bool isIpAddress(const std::string& host) {
    return host.find(':') != std::string::npos ||
           (!host.empty() && host.find_first_not_of("0123456789.") == std::string::npos);
}

// RFC 6265 section 5.1.3.
bool domainMatches(const std::string& host, const std::string& domain) {
    if (host == domain) {
        return true;
    }
    return !isIpAddress(host) && host.size() > domain.size() && host.ends_with(domain) &&
           host[host.size() - domain.size() - 1] == '.';
}

// RFC 6265 section 5.1.4.
bool pathMatches(const std::string& requestPath, const std::string& cookiePath) {
    if (!requestPath.starts_with(cookiePath)) {
        return false;
    }
    return requestPath.size() == cookiePath.size() || cookiePath.back() == '/' ||
           requestPath[cookiePath.size()] == '/';
}

std::string requestPathOf(const UrlParts& parts) {
    return parts.path + parts.document;
}

// The directory of the request path (RFC 6265 section 5.1.4).
std::string defaultPath(const UrlParts& parts) {
    const std::string& path = parts.path;
    if (path.size() <= 1) {
        return "/";
    }
    return path.substr(0, path.size() - 1);
}

bool isHttps(const UrlParts& parts) {
    return toLower(parts.scheme) == "https";
}

}  // namespace

std::optional<CookieJar::Clock::time_point> CookieJar::parseDate(std::string_view text) {
    // RFC 6265 section 5.1.1, simplified: tokens of digits and letters in any order.
    static constexpr std::array<std::string_view, 12> kMonths = {
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    int day = -1;
    int month = -1;
    int year = -1;
    int hour = -1;
    int minute = -1;
    int second = -1;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && !std::isalnum(static_cast<unsigned char>(text[at])) &&
               text[at] != ':') {
            ++at;
        }
        auto end = at;
        while (end < text.size() &&
               (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == ':')) {
            ++end;
        }
        const std::string_view token = text.substr(at, end - at);
        at = end;
        if (token.empty()) {
            continue;
        }
        if (hour < 0 && token.find(':') != std::string_view::npos) {
            int h = 0;
            int m = 0;
            int s = 0;
            if (std::sscanf(std::string(token).c_str(), "%d:%d:%d", &h, &m, &s) == 3) {
                hour = h;
                minute = m;
                second = s;
            }
            continue;
        }
        if (std::isdigit(static_cast<unsigned char>(token.front()))) {
            int number = 0;
            const auto [end, error] =
                std::from_chars(token.data(), token.data() + token.size(), number);
            if (error != std::errc{}) {
                continue;
            }
            if (day < 0 && token.size() <= 2) {
                day = number;
            } else if (year < 0) {
                year = number;
            }
            continue;
        }
        if (month < 0 && token.size() >= 3) {
            const std::string prefix = toLower(token.substr(0, 3));
            const auto found = std::find(kMonths.begin(), kMonths.end(), prefix);
            if (found != kMonths.end()) {
                month = static_cast<int>(found - kMonths.begin());
            }
        }
    }
    if (year >= 0 && year <= 69) {
        year += 2000;
    } else if (year >= 70 && year <= 99) {
        year += 1900;
    }
    if (day < 1 || day > 31 || month < 0 || year < 1601 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59) {
        return std::nullopt;
    }
    // Days from the civil date (Howard Hinnant's algorithm), so no time zone is involved.
    const int y = month < 2 ? year - 1 : year;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int monthFromMarch = month < 2 ? month + 10 : month - 2;
    const int dayOfYear = (153 * monthFromMarch + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long long days = static_cast<long long>(era) * 146097 + dayOfEra - 719468;
    const long long seconds = days * 86400 + hour * 3600 + minute * 60 + second;
    return Clock::time_point(std::chrono::seconds(seconds));
}

void CookieJar::store(const std::string& url, std::string_view setCookie, Clock::time_point now) {
    removeExpired(now);
    const UrlParts parts = splitUrl(url);
    const std::string host = hostOf(parts);

    std::string_view rest = setCookie;
    const auto firstSemicolon = rest.find(';');
    const std::string_view pair = trimBlanks(rest.substr(0, firstSemicolon));
    rest = firstSemicolon == std::string_view::npos ? std::string_view()
                                                    : rest.substr(firstSemicolon + 1);
    const auto equals = pair.find('=');
    if (equals == std::string_view::npos) {
        return;
    }
    Cookie cookie;
    cookie.name = std::string(trimBlanks(pair.substr(0, equals)));
    cookie.value = std::string(trimBlanks(pair.substr(equals + 1)));
    if (cookie.name.empty()) {
        return;
    }

    std::optional<Clock::time_point> maxAgeExpiry;
    std::optional<Clock::time_point> dateExpiry;
    std::string domain;
    std::string path;
    while (!rest.empty()) {
        const auto semicolon = rest.find(';');
        const std::string_view attribute = trimBlanks(rest.substr(0, semicolon));
        rest =
            semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
        const auto attributeEquals = attribute.find('=');
        const std::string name = toLower(trimBlanks(attribute.substr(0, attributeEquals)));
        const std::string_view value = attributeEquals == std::string_view::npos
                                           ? std::string_view()
                                           : trimBlanks(attribute.substr(attributeEquals + 1));
        if (name == "max-age") {
            long long seconds = 0;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), seconds);
            if (error == std::errc{} && end == value.data() + value.size()) {
                maxAgeExpiry = seconds <= 0 ? Clock::time_point::min() + std::chrono::hours(1)
                                            : now + std::chrono::seconds(seconds);
            }
        } else if (name == "expires") {
            dateExpiry = parseDate(value);
        } else if (name == "domain") {
            domain = toLower(value);
            if (domain.starts_with('.')) {
                domain.erase(0, 1);
            }
        } else if (name == "path") {
            path = std::string(value);
        } else if (name == "secure") {
            cookie.secure = true;
        }
    }
    // Max-Age wins over Expires (section 5.3 step 3).
    cookie.expires = maxAgeExpiry ? maxAgeExpiry : dateExpiry;

    if (domain.empty()) {
        cookie.domain = host;
        cookie.hostOnly = true;
    } else {
        if (!domainMatches(host, domain)) {
            return;
        }
        cookie.domain = domain;
        cookie.hostOnly = false;
    }
    cookie.path = path.starts_with('/') ? path : defaultPath(parts);

    const auto same = std::find_if(m_cookies.begin(), m_cookies.end(), [&](const Cookie& c) {
        return c.name == cookie.name && c.domain == cookie.domain && c.path == cookie.path;
    });
    // A replaced cookie keeps its place in the order (section 5.3 step 11).
    cookie.order = same != m_cookies.end() ? same->order : m_nextOrder++;
    if (same != m_cookies.end()) {
        m_cookies.erase(same);
    }
    if (cookie.expires && *cookie.expires <= now) {
        return;
    }
    m_cookies.push_back(std::move(cookie));
}

std::string CookieJar::headerFor(const std::string& url, Clock::time_point now) const {
    const UrlParts parts = splitUrl(url);
    const std::string host = hostOf(parts);
    const std::string requestPath = requestPathOf(parts);
    const bool secure = isHttps(parts);

    std::vector<const Cookie*> matching;
    for (const Cookie& cookie : m_cookies) {
        if (cookie.expires && *cookie.expires <= now) {
            continue;
        }
        const bool hostMatches =
            cookie.hostOnly ? host == cookie.domain : domainMatches(host, cookie.domain);
        if (hostMatches && pathMatches(requestPath, cookie.path) && (secure || !cookie.secure)) {
            matching.push_back(&cookie);
        }
    }
    std::stable_sort(matching.begin(), matching.end(), [](const Cookie* a, const Cookie* b) {
        if (a->path.size() != b->path.size()) {
            return a->path.size() > b->path.size();
        }
        return a->order < b->order;
    });
    std::string header;
    for (const Cookie* cookie : matching) {
        if (!header.empty()) {
            header += "; ";
        }
        header += cookie->name + "=" + cookie->value;
    }
    return header;
}

void CookieJar::removeExpired(Clock::time_point now) {
    std::erase_if(m_cookies, [now](const Cookie& c) { return c.expires && *c.expires <= now; });
}

}  // namespace quelvar
