// The per-client limits of quelvar-status on the wire, with IPv6 clients of several addresses:
// addresses of one prefix share one allowance, another prefix has its own, and
// --ipv6-prefix-length sets how many bits name a client. Loopback has only ::1, so the program
// runs in a network namespace of its own whose loopback also holds two addresses of one /64
// and one of another.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/fixtures/ScriptedServer.h"
#include "tests/status/PrivateNetwork.h"
#include "tests/status/StatusProcess.h"
#include "tests/status/StatusTestSupport.h"

using namespace quelvar::test;
using namespace std::chrono_literals;

namespace {

const char* const kFirstA = "fd00:1::1";
const char* const kFirstB = "fd00:1::2";  // the same /64 as kFirstA
const char* const kSecond = "fd00:2::1";  // another /64; fd00::/16 holds all three

// Why this process has no private network; empty when it has one.
std::string namespaceFailure;

enum class Limit { RatePerMinute, ConnectionsPerClient };

// One client action: a check (rate limit) or a kept-open connection (connection limit) from an
// address, and whether the limit lets it through.
struct Step {
    const char* from;
    bool allowed;
};

struct Case {
    const char* name;
    std::vector<std::string> prefixOptions;
    std::vector<Step> steps;
};

// Each case runs with an allowance of 3 per client, for either limit.
const Case kCases[] = {
    {"Default64",
     {},
     {{kFirstA, true},
      {kFirstB, true},
      {kFirstA, true},
      {kFirstB, false},
      {kSecond, true},
      {kSecond, true},
      {kSecond, true},
      {kSecond, false}}},
    {"Prefix128",
     {"--ipv6-prefix-length", "128"},
     {{kFirstA, true},
      {kFirstA, true},
      {kFirstA, true},
      {kFirstB, true},
      {kFirstB, true},
      {kFirstB, true},
      {kFirstA, false},
      {kFirstB, false},
      {kSecond, true}}},
    {"Prefix16",
     {"--ipv6-prefix-length", "16"},
     {{kFirstA, true}, {kFirstB, true}, {kSecond, true}, {kSecond, false}, {kFirstA, false}}},
};

const char* limitName(Limit limit) {
    return limit == Limit::RatePerMinute ? "RatePerMinute" : "ConnectionsPerClient";
}

void PrintTo(Limit limit, std::ostream* out) {
    *out << limitName(limit);
}

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
const std::string kHealth = "GET /healthcheck HTTP/1.1\r\nHost: x\r\n\r\n";

class ClientPrefixTest : public testing::TestWithParam<std::tuple<Limit, Case>> {
protected:
    void SetUp() override {
        if (!namespaceFailure.empty()) {
            GTEST_SKIP() << "no private network for the IPv6 clients: " << namespaceFailure;
        }
        m_target = std::make_unique<ScriptedServer>(ServerOptions{std::nullopt, "::1"});
        m_target->setFallback(Exchange{kOk});
    }

    std::unique_ptr<ScriptedServer> m_target;
};

}  // namespace

TEST_P(ClientPrefixTest, AllowanceIsSharedByTheAddressesOfAPrefix) {
    const auto& [limit, c] = GetParam();
    std::vector<std::string> arguments{"--listen", "[::]:0", "--allow-private"};
    if (limit == Limit::RatePerMinute) {
        arguments.insert(arguments.end(), {"--rate-per-minute", "3"});
    } else {
        arguments.insert(arguments.end(),
                         {"--max-connections-per-client", "3", "--rate-per-minute", "0"});
    }
    arguments.insert(arguments.end(), c.prefixOptions.begin(), c.prefixOptions.end());
    StatusProcess service(arguments);
    const std::uint16_t port = service.waitForPort("http");
    ASSERT_NE(port, 0);

    const std::string check = checkRequest(statusBody(m_target->url("/")));
    std::vector<std::unique_ptr<RawConnection>> kept;
    int refused = 0;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        const Step& step = c.steps[i];
        SCOPED_TRACE("step " + std::to_string(i + 1) + " from " + step.from);
        auto client = std::make_unique<RawConnection>(port, step.from);
        refused += step.allowed ? 0 : 1;
        if (limit == Limit::RatePerMinute) {
            ASSERT_TRUE(client->send(check));
            const std::string reply = client->readAll(5s);
            if (step.allowed) {
                EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\n")) << reply;
            } else {
                EXPECT_TRUE(reply.starts_with("HTTP/1.1 429 Too Many Requests\r\n")) << reply;
                EXPECT_NE(reply.find("\r\nRetry-After: 20\r\n"), std::string::npos) << reply;
            }
        } else if (step.allowed) {
            // Answered, and kept open to hold its place in the count.
            ASSERT_TRUE(client->send(kHealth));
            EXPECT_TRUE(client->readAll(1s).starts_with("HTTP/1.1 200 OK\r\n"));
            kept.push_back(std::move(client));
        } else {
            EXPECT_TRUE(client->closedWithin(1s)) << "the connection was not refused";
        }
    }

    // Asked from ::1, a client of its own.
    const std::string metrics =
        httpRequest("GET", "http://[::1]:" + std::to_string(port) + "/metrics", "").body;
    const std::string sample =
        limit == Limit::RatePerMinute
            ? "quelvar_status_requests_rejected_total{status=\"429\"}"
            : "quelvar_status_connections_refused_total{limit=\"per_client\"}";
    EXPECT_EQ(metricValue(metrics, sample), refused) << metrics;
    if (limit == Limit::RatePerMinute) {
        // The log names each address, not the prefix it is counted by.
        EXPECT_FALSE(service.waitForLine(std::regex(" check client=fd00:1::2 url="), 2s).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(, ClientPrefixTest,
                         testing::Combine(testing::Values(Limit::RatePerMinute,
                                                          Limit::ConnectionsPerClient),
                                          testing::ValuesIn(kCases)),
                         [](const testing::TestParamInfo<ClientPrefixTest::ParamType>& info) {
                             return std::string(std::get<0>(info.param) == Limit::RatePerMinute
                                                    ? "RatePerMinute"
                                                    : "ConnectionsPerClient") +
                                    "_" + std::get<1>(info.param).name;
                         });

TEST(SlowHeadPrefixTest, HeadsTrickledFromTwoPrefixesGiveTheirSlotsToAClientThatSendsAtOnce) {
    if (!namespaceFailure.empty()) {
        GTEST_SKIP() << "no private network for the IPv6 clients: " << namespaceFailure;
    }
    // Two /64s, each at its allowance of 3 with heads that never end, hold all 6 slots.
    StatusProcess service({"--listen", "[::]:0", "--allow-private", "--rate-per-minute", "0",
                           "--max-connections", "6", "--max-connections-per-client", "3"});
    const std::uint16_t port = service.waitForPort("http");
    ASSERT_NE(port, 0);
    const std::vector<const char*> from = {kFirstA, kFirstB, kFirstA, kSecond, kSecond, kSecond};
    std::vector<std::unique_ptr<RawConnection>> slow;
    const auto trickle = [&](const char* address) {
        slow.push_back(std::make_unique<RawConnection>(port, address));
        EXPECT_TRUE(slow.back()->send("GET /healthcheck HTTP/1.1\r\nX-Slow: "));
        std::this_thread::sleep_for(20ms);
    };
    for (const char* address : from) {
        trickle(address);
    }
    // A seventh from the first prefix is over its allowance, whatever the total.
    RawConnection over(port, kFirstB);
    EXPECT_TRUE(over.closedWithin(1s));
    // ::1, a prefix of its own, takes the oldest waiter's slot each time it asks, however
    // often the prefix that lost it opens another.
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        RawConnection fresh(port, "::1");
        ASSERT_TRUE(
            fresh.send("GET /healthcheck HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
        EXPECT_TRUE(fresh.readAll(1s).starts_with("HTTP/1.1 200 OK\r\n"));
        EXPECT_TRUE(slow[i]->closedWithin(1s));
        trickle(from[i]);
    }
    const std::string metrics =
        httpRequest("GET", "http://[::1]:" + std::to_string(port) + "/metrics", "").body;
    EXPECT_EQ(metricValue(metrics, "quelvar_status_connections_dropped_total{reason=\"evicted\"}"),
              4)
        << "three for the health checks and one for the metrics" << metrics;
    EXPECT_EQ(
        metricValue(metrics, "quelvar_status_connections_refused_total{limit=\"per_client\"}"), 1)
        << metrics;
}

int main(int argc, char** argv) {
    // Before anything starts a thread: a process with threads cannot enter a user namespace.
    try {
        enterPrivateNetwork({kFirstA, kFirstB, kSecond});
    } catch (const std::exception& error) {
        namespaceFailure = error.what();
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
