#include "http/win32/ProxyResolver.h"

#include <windows.h>
// After windows.h, which it needs.
#include <winhttp.h>

namespace quelvar {

namespace {

// Frees the texts WinHTTP's proxy calls allocate with GlobalAlloc.
struct GlobalText {
    wchar_t* text = nullptr;
    ~GlobalText() {
        if (text != nullptr) {
            GlobalFree(text);
        }
    }
    GlobalText() = default;
    GlobalText(const GlobalText&) = delete;
    GlobalText& operator=(const GlobalText&) = delete;
};

// Looks the proxy for the URL up with the options (a configuration script or automatic
// detection); a lookup that fails because a login failed is repeated once with automatic
// logon. Returns nothing when the lookup finds no proxy or fails.
std::optional<ProxyChoice> lookUpProxy(HINTERNET session, const std::wstring& url,
                                       WINHTTP_AUTOPROXY_OPTIONS options) {
    WINHTTP_PROXY_INFO info{};
    BOOL found = WinHttpGetProxyForUrl(session, url.c_str(), &options, &info);
    if (!found && GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE) {
        options.fAutoLogonIfChallenged = TRUE;
        found = WinHttpGetProxyForUrl(session, url.c_str(), &options, &info);
    }
    GlobalText proxy;
    GlobalText bypass;
    proxy.text = found ? info.lpszProxy : nullptr;
    bypass.text = found ? info.lpszProxyBypass : nullptr;
    if (!found || info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || proxy.text == nullptr ||
        *proxy.text == L'\0') {
        return std::nullopt;
    }
    return ProxyChoice{proxy.text, bypass.text != nullptr ? bypass.text : L""};
}

}  // namespace

std::optional<ProxyChoice> ProxyResolver::proxyFor(void* session, const std::wstring& url) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG configuration{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&configuration)) {
        // Nothing can be read: automatic detection (DHCP, then DNS) decides.
        WINHTTP_AUTOPROXY_OPTIONS options{};
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        return lookUpProxy(session, url, options);
    }
    GlobalText script;
    GlobalText proxy;
    GlobalText bypass;
    script.text = configuration.lpszAutoConfigUrl;
    proxy.text = configuration.lpszProxy;
    bypass.text = configuration.lpszProxyBypass;
    if (script.text != nullptr && *script.text != L'\0') {
        WINHTTP_AUTOPROXY_OPTIONS options{};
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = script.text;
        return lookUpProxy(session, url, options);
    }
    // The choice of automatic detection alone leads to no lookup.
    if (proxy.text != nullptr && *proxy.text != L'\0') {
        return ProxyChoice{proxy.text, bypass.text != nullptr ? bypass.text : L""};
    }
    return std::nullopt;
}

}  // namespace quelvar
