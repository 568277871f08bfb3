#include "http/posix/ProxyResolver.h"

#include <gtest/gtest.h>

#include <string>

TEST(ProxyResolverBypass, MatchesNoProxyEntries) {
    struct Case {
        const char* name;
        std::string noProxy;
        std::string host;
        bool bypassed;
    };
    const Case cases[] = {
        {"star", "*", "anything", true},
        {"exact", "localhost,127.0.0.1", "127.0.0.1", true},
        {"domain suffix", "example.com", "api.example.com", true},
        {"leading dot", ".example.com", "example.com", true},
        {"star dot", "*.example.com", "a.example.com", true},
        {"any case and blanks", " Example.COM , other", "API.example.com", true},
        {"not a partial label", "example.com", "badexample.com", false},
        {"IPv6 with brackets", "[::1]", "[::1]", true},
        {"IPv6 without brackets", "::1", "[::1]", true},
        {"empty list", "", "host", false},
        {"other host", "a,b", "c", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(quelvar::ProxyResolver::bypasses(c.noProxy, c.host), c.bypassed);
    }
}
