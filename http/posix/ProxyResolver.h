#pragma once

#include <string>

typedef struct pxProxyFactory_ pxProxyFactory;

namespace quelvar {

// Finds the proxy the current user's configuration names for a URL, read anew at every call:
// first the proxy environment variables (http_proxy, https_proxy, all_proxy and no_proxy, in
// lower or upper case), and when none names a proxy, the desktop's settings with PAC and WPAD
// through libproxy.
class ProxyResolver {
public:
    ProxyResolver() = default;
    ~ProxyResolver();
    ProxyResolver(const ProxyResolver&) = delete;
    ProxyResolver& operator=(const ProxyResolver&) = delete;

    // Returns the proxy URL for a request to the URL, or the empty text for a direct
    // connection.
    std::string proxyFor(const std::string& url);

    // Returns whether a no_proxy list exempts the host from the proxy: "*" exempts every
    // host, an entry exempts itself and, as a domain, the names below it.
    static bool bypasses(const std::string& noProxy, const std::string& host);

private:
    std::string fromDesktop(const std::string& url);

    pxProxyFactory* m_factory = nullptr;
};

}  // namespace quelvar
