#pragma once

#include <optional>
#include <string>

namespace quelvar {

// The proxy of one service-profile request: a proxy list in WinHTTP's form ("host:port", or
// "http=host:port;https=host:port") and its bypass list.
struct ProxyChoice {
    std::wstring proxy;
    std::wstring bypass;
};

// Finds the proxy that the current user's configuration (the settings of the Internet
// Options dialogue, read anew at every call) names for the URL, nothing for a direct
// connection:
// - a configuration script, when one is named, is asked through WinHttpGetProxyForUrl;
// - otherwise the static proxy and bypass list, when there is one; automatic detection alone
//   looks nothing up;
// - when the configuration cannot be read at all, automatic detection (DHCP, then DNS) is.
// A lookup that fails because a login failed is repeated once with automatic logon; a lookup
// that fails otherwise means a direct connection. The session is the WinHTTP session handle
// the lookups go through.
class ProxyResolver {
public:
    // Returns the proxy for a request to the URL, or nothing for a direct connection.
    static std::optional<ProxyChoice> proxyFor(void* session, const std::wstring& url);
};

}  // namespace quelvar
