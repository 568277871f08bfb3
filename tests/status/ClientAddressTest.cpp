#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include "status/ClientAddress.h"
#include "status/ConnectionCounter.h"
#include "status/RateLimiter.h"

using quelvar::status::ClientAddress;
using quelvar::status::ConnectionCounter;
using quelvar::status::RateLimiter;

namespace {

ClientAddress fromText(const std::string& text, int prefixLength = 64) {
    sockaddr_storage storage{};
    auto* in = reinterpret_cast<sockaddr_in*>(&storage);
    if (inet_pton(AF_INET, text.c_str(), &in->sin_addr) == 1) {
        in->sin_family = AF_INET;
        return ClientAddress(reinterpret_cast<sockaddr*>(&storage), sizeof(sockaddr_in),
                             prefixLength);
    }
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
    EXPECT_EQ(inet_pton(AF_INET6, text.c_str(), &in6->sin6_addr), 1) << text;
    in6->sin6_family = AF_INET6;
    return ClientAddress(reinterpret_cast<sockaddr*>(&storage), sizeof(sockaddr_in6), prefixLength);
}

}  // namespace

TEST(ClientAddressTest, CountsIpv4ByAddressAndIpv6ByPrefix) {
    struct Case {
        const char* name;
        const char* address;
        int prefixLength;
        const char* text;
        const char* key;
    };
    const Case cases[] = {
        {"IPv4", "203.0.113.7", 64, "203.0.113.7", "203.0.113.7"},
        {"IPv4 ignores the prefix length", "203.0.113.7", 8, "203.0.113.7", "203.0.113.7"},
        {"IPv4-mapped is IPv4, not one client of ::ffff:0:0/96", "::ffff:203.0.113.7", 64,
         "203.0.113.7", "203.0.113.7"},
        {"IPv6 by its /64", "2001:db8:1:2:aaaa:bbbb:cccc:dddd", 64,
         "2001:db8:1:2:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64"},
        {"another address of that /64", "2001:db8:1:2::1", 64, "2001:db8:1:2::1",
         "2001:db8:1:2::/64"},
        {"the next /64", "2001:db8:1:3::1", 64, "2001:db8:1:3::1", "2001:db8:1:3::/64"},
        {"a /56", "2001:db8:1:2ff::1", 56, "2001:db8:1:2ff::1", "2001:db8:1:200::/56"},
        {"a prefix inside a group", "2001:db8:1:2fff::1", 60, "2001:db8:1:2fff::1",
         "2001:db8:1:2ff0::/60"},
        {"each address alone", "2001:db8::5", 128, "2001:db8::5", "2001:db8::5/128"},
        {"loopback", "::1", 64, "::1", "::/64"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ClientAddress client = fromText(c.address, c.prefixLength);
        EXPECT_EQ(client.text(), c.text);
        EXPECT_EQ(client.limitKey(), c.key);
    }
    EXPECT_EQ(ClientAddress(nullptr, 0, 64).limitKey(), "-");
}

TEST(ClientAddressTest, EightAddressesOfOneSlash64ShareOneAllowance) {
    RateLimiter limiter(3);
    const auto now = RateLimiter::Clock::time_point{} + std::chrono::hours(1);
    int granted = 0;
    for (int i = 1; i <= 8; ++i) {
        const std::string address = "2001:db8:7:7::" + std::to_string(i);
        for (int attempt = 0; attempt < 3; ++attempt) {
            granted += limiter.tryAcquire(fromText(address).limitKey(), now) ? 1 : 0;
        }
    }
    EXPECT_EQ(granted, 3) << "as many as one address gets";
    EXPECT_TRUE(limiter.tryAcquire(fromText("2001:db8:7:8::1").limitKey(), now));
}

TEST(ConnectionCounterTest, LimitsPerClientAndInTotal) {
    ConnectionCounter counter(3, 2);
    const std::string a = fromText("2001:db8:1:1::1").limitKey();
    const std::string sameSlash64 = fromText("2001:db8:1:1::2").limitKey();
    const std::string b = fromText("198.51.100.1").limitKey();
    EXPECT_EQ(counter.admits(a), ConnectionCounter::Verdict::Admitted);
    counter.opened(a);
    counter.opened(sameSlash64);
    EXPECT_EQ(counter.admits(a), ConnectionCounter::Verdict::ClientLimit);
    EXPECT_EQ(counter.admits(b), ConnectionCounter::Verdict::Admitted);
    counter.opened(b);
    EXPECT_EQ(counter.admits(b), ConnectionCounter::Verdict::TotalLimit);
    EXPECT_EQ(counter.open(), 3u);
    counter.closed(a);
    EXPECT_EQ(counter.admits(sameSlash64), ConnectionCounter::Verdict::Admitted);
    EXPECT_EQ(counter.open(), 2u);

    ConnectionCounter unlimited(10, 0);
    for (int i = 0; i < 5; ++i) {
        unlimited.opened(a);
    }
    EXPECT_EQ(unlimited.admits(a), ConnectionCounter::Verdict::Admitted)
        << "0 turns the per-client limit off";
}
