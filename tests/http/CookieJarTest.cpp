// The cookie store of transports that keep no cookies of their own (WinHTTP with its cookies
// off): what a Set-Cookie stores and which Cookie header a later request gets.

#include "http/CookieJar.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace quelvar {
namespace {

using namespace std::chrono_literals;

struct SetCookie {
    const char* url;
    const char* header;
};

TEST(CookieJarTest, SendsWhatMatchesTheUrl) {
    struct Case {
        const char* name;
        std::vector<SetCookie> stored;
        const char* url;
        const char* header;
    };
    const Case cases[] = {
        {"host-only cookie to its host",
         {{"http://h.test/login", "a=1"}},
         "http://h.test/x",
         "a=1"},
        {"host-only cookie not to a subdomain",
         {{"http://h.test/", "a=1"}},
         "http://www.h.test/",
         ""},
        {"domain cookie to a subdomain",
         {{"http://h.test/", "a=1; Domain=.h.test"}},
         "http://www.h.test/",
         "a=1"},
        {"foreign domain refused",
         {{"http://h.test/", "a=1; Domain=other.test"}},
         "http://other.test/",
         ""},
        {"default path is the directory",
         {{"http://h.test/app/login", "a=1"}},
         "http://h.test/other",
         ""},
        {"default path covers below it",
         {{"http://h.test/app/login", "a=1"}},
         "http://h.test/app/x",
         "a=1"},
        {"path prefix must end at a slash",
         {{"http://h.test/", "a=1; Path=/app"}},
         "http://h.test/application",
         ""},
        {"secure only over https", {{"https://h.test/", "a=1; Secure"}}, "http://h.test/", ""},
        {"secure over https", {{"https://h.test/", "a=1; Secure"}}, "https://h.test/", "a=1"},
        {"longer path first, then in the order set",
         {{"http://h.test/", "b=2; Path=/"},
          {"http://h.test/", "c=3; Path=/"},
          {"http://h.test/", "a=1; Path=/app"}},
         "http://h.test/app/x",
         "a=1; b=2; c=3"},
        {"a replaced cookie keeps its place",
         {{"http://h.test/", "a=1"}, {"http://h.test/", "b=2"}, {"http://h.test/", "a=9"}},
         "http://h.test/",
         "a=9; b=2"},
        {"Max-Age 0 removes",
         {{"http://h.test/", "a=1"}, {"http://h.test/", "a=1; Max-Age=0"}},
         "http://h.test/",
         ""},
        {"past Expires removes",
         {{"http://h.test/", "a=1"},
          {"http://h.test/", "a=1; Expires=Thu, 01 Jan 1970 00:00:00 GMT"}},
         "http://h.test/",
         ""},
        {"Max-Age wins over Expires",
         {{"http://h.test/", "a=1; Expires=Thu, 01 Jan 1970 00:00:00 GMT; Max-Age=60"}},
         "http://h.test/",
         "a=1"},
        {"no name-value pair is ignored", {{"http://h.test/", "justtext"}}, "http://h.test/", ""},
        {"IPv6 host", {{"http://[::1]:8080/", "a=1"}}, "http://[::1]:8080/x", "a=1"},
    };
    const auto now = CookieJar::Clock::now();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CookieJar jar;
        for (const SetCookie& set : c.stored) {
            jar.store(set.url, set.header, now);
        }
        EXPECT_EQ(jar.headerFor(c.url, now), c.header);
    }
}

TEST(CookieJarTest, ForgetsCookiesOnceTheyExpire) {
    CookieJar jar;
    const auto now = CookieJar::Clock::now();
    jar.store("http://h.test/", "a=1; Max-Age=60", now);
    jar.store("http://h.test/", "b=2", now);
    EXPECT_EQ(jar.headerFor("http://h.test/", now + 59s), "a=1; b=2");
    EXPECT_EQ(jar.headerFor("http://h.test/", now + 61s), "b=2");
}

TEST(CookieJarTest, ReadsHttpDates) {
    using std::chrono::seconds;
    const auto at = [](long long s) { return CookieJar::Clock::time_point(seconds(s)); };
    EXPECT_EQ(CookieJar::parseDate("Sun, 06 Nov 1994 08:49:37 GMT"), at(784111777));
    EXPECT_EQ(CookieJar::parseDate("Sunday, 06-Nov-94 08:49:37 GMT"), at(784111777));
    EXPECT_EQ(CookieJar::parseDate("Wed, 09 Jun 2021 10:18:14 GMT"), at(1623233894));
    EXPECT_EQ(CookieJar::parseDate("not a date"), std::nullopt);
    EXPECT_EQ(CookieJar::parseDate("Sun, 32 Nov 1994 08:49:37 GMT"), std::nullopt);
}

}  // namespace
}  // namespace quelvar
