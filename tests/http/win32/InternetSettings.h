#pragma once

#include <optional>
#include <string>

namespace quelvar::test {

// The current user's proxy configuration as Windows keeps it: the DefaultConnectionSettings
// value of the key Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections
// of HKEY_CURRENT_USER, which the Internet Options dialogue writes and
// WinHttpGetIEProxyConfigForCurrentUser reads.
struct InternetSettings {
    // The flags of the value: PROXY_TYPE_DIRECT 1, PROXY_TYPE_PROXY 2, PROXY_TYPE_AUTO_PROXY_URL
    // 4, PROXY_TYPE_AUTO_DETECT 8.
    enum Flag : unsigned { kDirect = 1, kProxy = 2, kScript = 4, kAutoDetect = 8 };

    unsigned flags = kDirect;
    std::string proxy;
    std::string bypass;
    std::string scriptUrl;

    // Returns the value's bytes.
    std::string encoded() const;
};

// Returns the raw DefaultConnectionSettings value, nothing when there is none.
std::optional<std::string> readConnectionSettings();
// Writes the raw value; nothing removes it.
void writeConnectionSettings(const std::optional<std::string>& value);

}  // namespace quelvar::test
