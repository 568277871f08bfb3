#include <gtest/gtest.h>

#include "status/RateLimiter.h"

using quelvar::status::RateLimiter;
using namespace std::chrono_literals;

TEST(RateLimiterTest, AllowsTheRatePerClientAndRefills) {
    RateLimiter limiter(3);
    const auto t0 = RateLimiter::Clock::time_point{} + 1h;
    EXPECT_TRUE(limiter.tryAcquire("a", t0));
    EXPECT_TRUE(limiter.tryAcquire("a", t0));
    EXPECT_TRUE(limiter.tryAcquire("a", t0));
    EXPECT_FALSE(limiter.tryAcquire("a", t0));
    EXPECT_TRUE(limiter.tryAcquire("b", t0)) << "clients are counted apart";
    EXPECT_FALSE(limiter.tryAcquire("a", t0 + 19s)) << "one check per 20 s at 3 per minute";
    EXPECT_TRUE(limiter.tryAcquire("a", t0 + 20s));
    EXPECT_FALSE(limiter.tryAcquire("a", t0 + 21s));
    EXPECT_TRUE(limiter.tryAcquire("a", t0 + 10min));
    EXPECT_TRUE(limiter.tryAcquire("a", t0 + 10min));
    EXPECT_TRUE(limiter.tryAcquire("a", t0 + 10min));
    EXPECT_FALSE(limiter.tryAcquire("a", t0 + 10min)) << "the burst never exceeds the rate";
}

TEST(RateLimiterTest, ZeroTurnsTheLimitOff) {
    RateLimiter limiter(0);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(limiter.tryAcquire("a"));
    }
    EXPECT_EQ(limiter.clientCount(), 0u);
}

TEST(RateLimiterTest, TableStaysBoundedAndForgetsOnlyRefilledClients) {
    RateLimiter limiter(1, 2);
    const auto t0 = RateLimiter::Clock::time_point{} + 1h;
    EXPECT_TRUE(limiter.tryAcquire("a", t0));
    EXPECT_TRUE(limiter.tryAcquire("b", t0));
    EXPECT_FALSE(limiter.tryAcquire("c", t0)) << "full of clients with spent allowances";
    EXPECT_EQ(limiter.clientCount(), 2u);
    EXPECT_TRUE(limiter.tryAcquire("c", t0 + 61s)) << "refilled clients make room";
    EXPECT_LE(limiter.clientCount(), 2u);
}
