// Which URLs a check takes, and the form in which it fetches them.
#include <gtest/gtest.h>

#include <string>

#include "status/CheckUrl.h"

namespace status = quelvar::status;

TEST(StatusCheckUrlTest, TakesAbsoluteHttpUrlsWithAHostInTheParsersForm) {
    struct Case {
        const char* name;
        std::string url;
        std::string normalised;  // empty: refused
    };
    const Case cases[] = {
        {"plain", "http://example.com", "http://example.com/"},
        {"https with port, path and query", "https://example.com:8443/a/b?c=d",
         "https://example.com:8443/a/b?c=d"},
        {"scheme in capitals, the host as written", "HTTP://EXAMPLE.com/x", "http://EXAMPLE.com/x"},
        {"internationalised host",
         "http://b\xC3\xBC"
         "cher.example/",
         "http://xn--bcher-kva.example/"},
        {"IPv6 literal", "http://[::1]:8080/", "http://[::1]:8080/"},
        {"another scheme", "ftp://example.com/", ""},
        // The parser reads a third slash as the start of the host.
        {"three slashes", "http:///path", "http://path/"},
        {"no host", "http://", ""},
        {"no scheme", "example.com/path", ""},
        {"empty", "", ""},
        {"NUL inside", std::string("http://a.example/\0http://b.example/", 34), ""},
        {"longest taken", "http://a.example/" + std::string(status::kMaxCheckUrlBytes - 17, 'x'),
         "http://a.example/" + std::string(status::kMaxCheckUrlBytes - 17, 'x')},
        {"one byte too long",
         "http://a.example/" + std::string(status::kMaxCheckUrlBytes - 16, 'x'), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(status::normaliseCheckUrl(c.url), c.normalised);
    }
}
