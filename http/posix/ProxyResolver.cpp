#include "http/posix/ProxyResolver.h"

#include <proxy.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "http/Url.h"
#include "text/Ascii.h"

namespace quelvar {

namespace {

// Returns the first non-empty value among the variables, each tried in lower and upper case.
std::string environmentValue(std::initializer_list<std::string_view> names) {
    for (const std::string_view name : names) {
        const std::string lower = toLower(name);
        const std::string upper = toUpper(name);
        for (const std::string& variable : {lower, upper}) {
            const char* value = std::getenv(variable.c_str());
            if (value != nullptr && *value != '\0') {
                return value;
            }
        }
    }
    return {};
}

std::string hostWithoutBrackets(std::string host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    return toLower(host);
}

}  // namespace

ProxyResolver::~ProxyResolver() {
    if (m_factory != nullptr) {
        px_proxy_factory_free(m_factory);
    }
}

bool ProxyResolver::bypasses(const std::string& noProxy, const std::string& host) {
    const std::string name = hostWithoutBrackets(host);
    std::string_view list(noProxy);
    while (!list.empty()) {
        const auto separator = list.find_first_of(", ");
        std::string entry = toLower(list.substr(0, separator));
        list.remove_prefix(separator == std::string_view::npos ? list.size() : separator + 1);
        if (entry == "*") {
            return true;
        }
        if (entry.starts_with("*.")) {
            entry.erase(0, 1);
        }
        if (entry.starts_with('.')) {
            entry.erase(0, 1);
        }
        entry = hostWithoutBrackets(entry);
        if (entry.empty()) {
            continue;
        }
        if (name == entry || (name.size() > entry.size() && name.ends_with(entry) &&
                              name[name.size() - entry.size() - 1] == '.')) {
            return true;
        }
    }
    return false;
}

std::string ProxyResolver::proxyFor(const std::string& url) {
    const UrlParts parts = splitUrl(url);
    const std::string scheme = toLower(parts.scheme);
    std::string proxy = scheme == "https" ? environmentValue({"https_proxy", "all_proxy"})
                                          : environmentValue({"http_proxy", "all_proxy"});
    if (proxy.empty()) {
        return fromDesktop(url);
    }
    if (bypasses(environmentValue({"no_proxy"}), parts.host)) {
        return {};
    }
    // A value without scheme, such as "proxy:3128", names an HTTP proxy.
    if (proxy.find("://") == std::string::npos) {
        proxy.insert(0, "http://");
    }
    return proxy;
}

std::string ProxyResolver::fromDesktop(const std::string& url) {
    if (m_factory == nullptr) {
        m_factory = px_proxy_factory_new();
        if (m_factory == nullptr) {
            return {};
        }
    }
    char** proxies = px_proxy_factory_get_proxies(m_factory, url.c_str());
    if (proxies == nullptr) {
        return {};
    }
    // libproxy lists the proxies in the order to try; the first one is used.
    std::string proxy = proxies[0] != nullptr ? proxies[0] : "";
    px_proxy_factory_free_proxies(proxies);
    if (proxy.starts_with("direct://")) {
        return {};
    }
    // libproxy's generic "socks" is SOCKS 5 for the transport.
    if (proxy.starts_with("socks://")) {
        proxy.replace(0, 5, "socks5");
    }
    return proxy;
}

}  // namespace quelvar
