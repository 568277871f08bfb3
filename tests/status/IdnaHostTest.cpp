#include <gtest/gtest.h>

#include "status/IdnaHost.h"

using quelvar::status::toIdnaHost;

TEST(IdnaHostTest, ConvertsAsLibcurlDoes) {
    struct Case {
        const char* name;
        std::string host;
        std::optional<std::string> ascii;
    };
    const Case cases[] = {
        {"ASCII unchanged", "example.com", "example.com"},
        {"ASCII keeps its case", "Example.COM", "Example.COM"},
        {"umlaut",
         "b\xc3\xbc"
         "cher.example",
         "xn--bcher-kva.example"},
        {"upper-case umlaut is mapped",
         "B\xc3\x9c"
         "CHER.example",
         "xn--bcher-kva.example"},
        {"sharp s, non-transitional", "fa\xc3\x9f.de", "xn--fa-hia.de"},
        {"CJK", "\xe4\xbe\x8b\xe3\x81\x88.jp", "xn--r8jz45g.jp"},
        {"NFC of a combining sequence",
         "bu\xcc\x88"
         "cher.example",
         "xn--bcher-kva.example"},
        {"not UTF-8",
         "b\xfc"
         "cher.example",
         std::nullopt},
        {"disallowed code point",
         "a\xe2\x80\xa9"
         "b.example",
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(toIdnaHost(c.host), c.ascii);
    }
}
