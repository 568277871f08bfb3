// The service's HTTP front under hostile clients: slow request heads and bodies, per-client
// limits, clients that leave while their check runs, ambiguous framing, shutdown, and what
// the operator sees of it in /metrics and the log.
#include <gtest/gtest.h>

#include <future>
#include <regex>
#include <thread>

#include "status/ServiceError.h"
#include "tests/fixtures/ScriptedServer.h"
#include "tests/fixtures/TestFiles.h"
#include "tests/status/StatusTestSupport.h"

using namespace quelvar::test;
using namespace std::chrono_literals;
namespace status = quelvar::status;

namespace {

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

Exchange hanging() {
    Exchange exchange;
    exchange.action = Exchange::Action::Hang;
    return exchange;
}

std::string metrics(const ServiceUnderTest& service) {
    return httpRequest("GET", service.url("/metrics"), "").body;
}

// Polls /metrics until the sample has the value; returns whether it did within the wait.
bool metricReaches(const ServiceUnderTest& service, const std::string& sample, double value,
                   std::chrono::milliseconds wait = 2s) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    do {
        if (metricValue(metrics(service), sample) == value) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

// Returns how many status lines a raw reply holds.
std::size_t statusLines(const std::string& reply) {
    std::size_t count = 0;
    for (auto at = reply.find("HTTP/1."); at != std::string::npos;
         at = reply.find("HTTP/1.", at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace

// --- Slow requests ---------------------------------------------------------------------------

TEST(SlowRequestTest, HeadAndBodyTrickledByteByByteAreClosedAtTheirTimeOut) {
    struct Case {
        const char* name;
        std::string start;  // sent at once
        const char* reason;
    };
    const Case cases[] = {
        {"head", "GET /healthcheck HTTP/1.1\r\nHost: x\r\n", "header_timeout"},
        {"body",
         "POST /v1/status HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
         "Content-Length: 100\r\n\r\n{",
         "body_timeout"},
    };
    status::ServiceSettings settings = testSettings();
    settings.server.headerTimeout = 600ms;
    settings.server.bodyTimeout = 600ms;
    ServiceUnderTest service(settings);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawConnection client(service.port());
        const auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(client.send(c.start));
        // One byte every 150 ms restarts the idle time-out (2 s) every time.
        bool closed = false;
        while (!closed && std::chrono::steady_clock::now() - started < 3s) {
            closed = client.closedWithin(150ms) || !client.send("X");
        }
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_TRUE(closed);
        EXPECT_GE(took, 550ms);
        EXPECT_LT(took, 1500ms) << "closed at its time-out, long before the idle time-out";
        EXPECT_TRUE(metricReaches(
            service,
            std::string("quelvar_status_connections_dropped_total{reason=\"") + c.reason + "\"}",
            1));
    }
    EXPECT_EQ(httpRequest("GET", service.url("/healthcheck"), "").status, 200);
}

TEST(SlowRequestTest, TrickledTlsHandshakeIsClosedAtTheHeadTimeOut) {
    status::ServiceSettings settings = testSettings();
    const Certificate cert = makeCertificate({});
    settings.server.tlsCertPem = cert.certPem;
    settings.server.tlsKeyPem = cert.keyPem;
    settings.server.headerTimeout = 600ms;
    ServiceUnderTest service(settings);
    RawConnection client(service.port());
    const auto started = std::chrono::steady_clock::now();
    // A handshake record announcing 512 bytes, which then come one at a time.
    ASSERT_TRUE(client.send(std::string("\x16\x03\x01\x02\x00\x01", 6)));
    bool closed = false;
    while (!closed && std::chrono::steady_clock::now() - started < 3s) {
        closed = client.closedWithin(150ms) || !client.send("X");
    }
    EXPECT_TRUE(closed);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1500ms);
}

TEST(SlowRequestTest, KeptAliveConnectionGetsAFreshHeadTimeOutPerRequest) {
    status::ServiceSettings settings = testSettings();
    settings.server.headerTimeout = 600ms;
    ServiceUnderTest service(settings);
    RawConnection client(service.port());
    const std::string request = "GET /healthcheck HTTP/1.1\r\nHost: x\r\n\r\n";
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        // 400 ms apart: together longer than the head's time, each well within it.
        std::this_thread::sleep_for(400ms);
        ASSERT_TRUE(client.send(request));
        const std::string reply = client.readAll(300ms);
        EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\n")) << reply;
    }
}

TEST(SlowRequestTest, HeaderTimeOutDefaultsToTenSeconds) {
    EXPECT_EQ(status::ServerSettings{}.headerTimeout, 10s);
    EXPECT_EQ(status::ServerSettings{}.bodyTimeout, 10s);
}

// --- Per-client limits -----------------------------------------------------------------------

TEST(ClientLimitTest, CountsConnectionsPerClientAddressAndShowsTheRefusals) {
    status::ServiceSettings settings = testSettings();
    settings.server.maxConnectionsPerClient = 2;
    ServiceUnderTest service(settings);
    RawConnection first(service.port(), "127.0.0.2");
    RawConnection second(service.port(), "127.0.0.2");
    // The kernel completes the handshake; the service closes the third at once.
    RawConnection third(service.port(), "127.0.0.2");
    EXPECT_TRUE(third.closedWithin(1s));
    for (RawConnection* open : {&first, &second}) {
        EXPECT_TRUE(open->send("GET /healthcheck HTTP/1.1\r\nHost: x\r\n\r\n"));
        EXPECT_TRUE(open->readAll(300ms).starts_with("HTTP/1.1 200 OK\r\n"));
    }
    // Another IPv4 address is another client.
    RawConnection other(service.port(), "127.0.0.3");
    EXPECT_TRUE(other.send("GET /healthcheck HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_TRUE(other.readAll(300ms).starts_with("HTTP/1.1 200 OK\r\n"));

    const std::string text = metrics(service);
    EXPECT_EQ(metricValue(text, "quelvar_status_connections_refused_total{limit=\"per_client\"}"),
              1)
        << text;
    EXPECT_EQ(metricValue(text, "quelvar_status_connections_open"), 4)
        << "three raw connections and the one asking";
}

TEST(ClientLimitTest, RateLimitCountsEachIpv4AddressAlone) {
    ScriptedServer target;
    target.setFallback(Exchange{kOk});
    status::ServiceSettings settings = testSettings();
    settings.server.ratePerMinute = 1;
    ServiceUnderTest service(settings);
    const std::string request = checkRequest(statusBody(target.url()));
    for (const char* from : {"127.0.0.2", "127.0.0.3"}) {
        SCOPED_TRACE(from);
        RawConnection client(service.port(), from);
        ASSERT_TRUE(client.send(request));
        std::string reply = client.readAll(1s);
        EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\n")) << reply;
        RawConnection again(service.port(), from);
        ASSERT_TRUE(again.send(request));
        reply = again.readAll(1s);
        EXPECT_TRUE(reply.starts_with("HTTP/1.1 429 Too Many Requests\r\n")) << reply;
    }
}

TEST(ClientLimitTest, Ipv6ClientsAreLimitedOnTheirPrefix) {
    // Loopback has one IPv6 address, so this shows that IPv6 clients are counted; the grouping
    // of a prefix's addresses is shown in ClientPrefixTest, in a network namespace of its own.
    status::ServiceSettings settings = testSettings();
    settings.server.address = "::1";
    settings.server.maxConnectionsPerClient = 1;
    std::unique_ptr<ServiceUnderTest> service;
    try {
        service = std::make_unique<ServiceUnderTest>(settings);
    } catch (const status::ServiceError&) {
        GTEST_SKIP() << "no IPv6 loopback";
    }
    RawConnection first(service->port(), "::1");
    RawConnection second(service->port(), "::1");
    EXPECT_TRUE(second.closedWithin(1s));
    EXPECT_TRUE(first.send("GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n"));
    const std::string reply = first.readAll(500ms);
    EXPECT_NE(reply.find("\nquelvar_status_connections_refused_total{limit=\"per_client\"} 1\n"),
              std::string::npos)
        << reply;
}

// --- Clients that leave ----------------------------------------------------------------------

TEST(AbandonedCheckTest, ClientThatClosesOrResetsFreesItsCheckAndConnectionAtOnce) {
    ScriptedServer silent;
    silent.setFallback(hanging());
    ScriptedServer fast;
    fast.setFallback(Exchange{kOk});
    status::ServiceSettings settings = testSettings();
    settings.server.maxChecks = 1;
    settings.engine.checkTimeout = 10000ms;
    ServiceUnderTest service(settings);
    for (const bool reset : {true, false}) {
        SCOPED_TRACE(reset ? "reset" : "closed");
        const std::size_t before = silent.requests().size();
        auto client = std::make_unique<RawConnection>(service.port());
        ASSERT_TRUE(client->send(checkRequest(statusBody(silent.url()))));
        ASSERT_TRUE(silent.waitForRequests(before + 1, 2s));
        EXPECT_EQ(service.post(fast.url()).status, 503) << "the one check slot is taken";
        const auto started = std::chrono::steady_clock::now();
        if (reset) {
            client->reset();
        } else {
            client->close();
        }
        EXPECT_TRUE(metricReaches(service, "quelvar_status_checks_in_flight", 0));
        EXPECT_LT(std::chrono::steady_clock::now() - started, 1s)
            << "cancelled long before the check's 10 s";
        EXPECT_TRUE(metricReaches(service, "quelvar_status_connections_open", 1))
            << "only the connection asking for the metrics is left";
        EXPECT_EQ(service.post(fast.url()).status, 200) << "the check slot is free again";
    }
    const std::string text = metrics(service);
    EXPECT_EQ(metricValue(text, "quelvar_status_checks_abandoned_total"), 2) << text;
    EXPECT_EQ(metricValue(text, "quelvar_status_checks_total{code=\"none\"}"), 2)
        << "abandoned checks are not counted as finished ones";
}

TEST(AbandonedCheckTest, ClientThatWaitsGetsItsAnswer) {
    ScriptedServer slow;
    Exchange exchange{kOk};
    exchange.delay = 400ms;
    slow.setFallback(exchange);
    ServiceUnderTest service;
    RawConnection client(service.port());
    ASSERT_TRUE(client.send(checkRequest(statusBody(slow.url()))));
    const std::string reply = client.readAll(2s);
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\n")) << reply;
    EXPECT_NE(reply.find("\"chain\":[{"), std::string::npos) << reply;
    EXPECT_EQ(metricValue(metrics(service), "quelvar_status_checks_abandoned_total"), 0);
}

// --- Framing ---------------------------------------------------------------------------------

TEST(FramingTest, RefusesAmbiguousOrBadLengthsWithOneWellFormedReply) {
    struct Case {
        const char* name;
        std::string headers;
        std::string body;
        int status;
        std::string message;
    };
    const std::string body = R"({"requestUrl":"http://127.0.0.1:1/"})";
    const std::string size = std::to_string(body.size());
    const Case cases[] = {
        {"two lengths", "Content-Length: " + size + "\r\nContent-Length: " + size + "\r\n", body,
         400, "more than one Content-Length"},
        {"two differing lengths", "Content-Length: " + size + "\r\nContent-Length: 5\r\n", body,
         400, "more than one Content-Length"},
        {"length and chunked", "Content-Length: " + size + "\r\nTransfer-Encoding: chunked\r\n",
         "0\r\n\r\n", 400, "Content-Length together with Transfer-Encoding"},
        {"chunked and length", "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n", "0\r\n\r\n",
         400, "Content-Length together with Transfer-Encoding"},
        {"negative length", "Content-Length: -1\r\n", "", 400, "Content-Length is not a number"},
        {"letters", "Content-Length: abc\r\n", "", 400, "Content-Length is not a number"},
        {"20 digits", "Content-Length: 99999999999999999999\r\n", "", 413,
         "request body exceeds 16384 bytes"},
    };
    ScriptedServer target;
    ServiceUnderTest service;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawConnection client(service.port());
        ASSERT_TRUE(
            client.send("POST /v1/status HTTP/1.1\r\nHost: x\r\n"
                        "Content-Type: application/json\r\n" +
                        c.headers + "\r\n" + c.body));
        const std::string reply = client.readAll(1s);
        const std::string json = R"({"error":{"status":)" + std::to_string(c.status) +
                                 R"(,"message":")" + c.message + "\"}}";
        EXPECT_TRUE(reply.starts_with("HTTP/1.1 " + std::to_string(c.status) + " ")) << reply;
        EXPECT_EQ(statusLines(reply), 1u) << reply;
        const auto end = reply.find("\r\n\r\n");
        ASSERT_NE(end, std::string::npos) << reply;
        EXPECT_EQ(reply.substr(end + 4), json);
        EXPECT_NE(reply.find("\r\nContent-Length: " + std::to_string(json.size()) + "\r\n"),
                  std::string::npos)
            << reply;
        EXPECT_NE(reply.find("\r\nConnection: close\r\n"), std::string::npos) << reply;
    }
    EXPECT_TRUE(target.requests().empty());
    EXPECT_EQ(httpRequest("GET", service.url("/healthcheck"), "").status, 200);
}

// --- What the HTTP layer refuses itself ------------------------------------------------------

TEST(MetricsTest, CountsWhatTheHttpLayerRefusesItself) {
    struct Case {
        const char* name;
        std::string request;
        int status;
    };
    const Case cases[] = {
        {"header block above the connection's memory",
         "GET /healthcheck HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(40000, 'a') + "\r\n\r\n",
         431},
        {"request line above the connection's memory",
         "GET /" + std::string(40000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n", 414},
        {"unknown HTTP version", "GET /healthcheck HTTP/2.0\r\nHost: x\r\n\r\n", 505},
        {"broken chunk",
         "POST /v1/status HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
         "Transfer-Encoding: chunked\r\n\r\nzz\r\n",
         400},
        {"Content-Length not a number",
         "POST /v1/status HTTP/1.1\r\nHost: x\r\nContent-Length: abc\r\n\r\n", 400},
        {"Content-Length beyond 64 bits",
         "POST /v1/status HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999999999999999\r\n\r\n",
         413},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ServiceUnderTest service;
        RawConnection client(service.port());
        client.send(c.request);
        const std::string reply = client.readAll(1s);
        EXPECT_TRUE(reply.starts_with("HTTP/1.1 " + std::to_string(c.status))) << reply;
        const std::string sample =
            "quelvar_status_requests_rejected_total{status=\"" + std::to_string(c.status) + "\"}";
        EXPECT_TRUE(metricReaches(service, sample, 1));
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(metricValue(metrics(service), sample), 1) << "counted once";
    }
}

TEST(MetricsTest, DurationHistogramReachesPastTheCheckTimeOut) {
    EXPECT_EQ(
        status::Metrics(20s).durationBuckets(),
        (std::vector<double>{0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 15, 20, 25}));
    EXPECT_EQ(status::Metrics(1500ms).durationBuckets(),
              (std::vector<double>{0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 1.5, 1.875}));

    ScriptedServer silent;
    silent.setFallback(hanging());
    status::ServiceSettings settings = testSettings();
    settings.engine.checkTimeout = 1500ms;
    ServiceUnderTest service(settings);
    EXPECT_EQ(replyCode(service.check(silent.url())), "ETIMEDOUT");
    const std::string text = metrics(service);
    EXPECT_EQ(metricValue(text, "quelvar_status_check_duration_seconds_bucket{le=\"1.875\"}"), 1)
        << "the time-out lands in a bucket of its own, not only in +Inf";
}

// --- Shutdown --------------------------------------------------------------------------------

TEST(ShutdownTest, CheckCancelledAfterTheGraceTimeIsAnswered503EvenAfterAReply) {
    struct Case {
        const char* name;
        Exchange target;
    };
    Exchange headersThenSilence;
    headersThenSilence.reply = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nab";
    headersThenSilence.closeAfter = false;
    const Case cases[] = {
        {"target silent", hanging()},
        {"status and headers arrived, body slow", headersThenSilence},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer target;
        target.setFallback(c.target);
        status::ServiceSettings settings = testSettings();
        settings.engine.checkTimeout = 10000ms;
        ServiceUnderTest service(settings);
        auto pending = std::async(std::launch::async, [&] { return service.post(target.url()); });
        ASSERT_TRUE(target.waitForRequests(1, 2s));
        std::this_thread::sleep_for(100ms);
        EXPECT_FALSE(service.service().shutdown(200ms));
        const HttpReply reply = pending.get();
        EXPECT_EQ(reply.status, 503);
        EXPECT_EQ(reply.body,
                  R"({"error":{"status":503,"message":"the service is shutting down"}})");
        EXPECT_NE(reply.headers.find("Retry-After: 5\r\n"), std::string::npos) << reply.headers;
    }
}

// --- The log ---------------------------------------------------------------------------------

TEST(LogTest, LeavesUserInformationOutOfLoggedUrls) {
    ScriptedServer target;
    target.setFallback(Exchange{kOk});
    ServiceUnderTest service;
    const std::string authority = target.authority();
    service.check("http://user:secret@" + authority + "/a?b=c@d");
    service.check("http://only-user@" + authority + "/");
    const auto lines = service.logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(lines[lines.size() - 2].find(" url=http://" + authority + "/a?b=c@d code="),
              std::string::npos)
        << lines[lines.size() - 2];
    EXPECT_NE(lines.back().find(" url=http://" + authority + "/ code="), std::string::npos)
        << lines.back();
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("secret"), std::string::npos) << line;
        EXPECT_EQ(line.find("only-user"), std::string::npos) << line;
    }
}

TEST(LogTest, AbortedTlsHandshakeIsOneDebugLine) {
    status::ServiceSettings settings = testSettings();
    const Certificate cert = makeCertificate({});
    settings.server.tlsCertPem = cert.certPem;
    settings.server.tlsKeyPem = cert.keyPem;
    ServiceUnderTest service(settings);
    for (const std::string& bytes :
         {std::string("GET / HTTP/1.1\r\nHost: x\r\n\r\n"),
          std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11)}) {
        RawConnection client(service.port());
        client.send(bytes);
        client.close();
    }
    // The service answers on after both.
    EXPECT_EQ(
        httpRequest("GET", "https://127.0.0.1:" + std::to_string(service.port()) + "/healthcheck",
                    "", {}, {}, 2s)
            .error,
        "SSL peer certificate or SSH remote key was not OK");
    std::this_thread::sleep_for(200ms);
    std::size_t aborted = 0;
    for (const std::string& line : service.logLines()) {
        EXPECT_EQ(line.find("out of context"), std::string::npos) << line;
        if (line.find("TLS handshake aborted by client") != std::string::npos) {
            EXPECT_EQ(line, "debug: http: TLS handshake aborted by client");
            ++aborted;
        }
    }
    EXPECT_GE(aborted, 2u);
    EXPECT_LE(aborted, 3u) << "at most one line per connection";
}

// --- Callbacks -------------------------------------------------------------------------------

TEST(CallbackTest, ThrowingLogSinkNeitherCrashesNorLosesAnAnswer) {
    ScriptedServer target;
    target.setFallback(Exchange{kOk});
    status::ServiceSettings settings = testSettings();
    settings.server.headerTimeout = 300ms;
    status::StatusService service(
        std::move(settings),
        [](status::LogLevel, const std::string&) -> void { throw std::runtime_error("log full"); });
    const std::string base = "http://127.0.0.1:" + std::to_string(service.port());
    const HttpReply reply = httpRequest("POST", base + "/v1/status", statusBody(target.url()),
                                        {"Content-Type: application/json"});
    EXPECT_EQ(reply.status, 200) << reply.error;
    EXPECT_EQ(chainStatuses(parseJson(reply.body)), std::vector<int>{200});
    {
        // The daemon's own messages and the watch thread log too.
        RawConnection slow(service.port());
        slow.send("GET /healthcheck HTTP/1.1\r\nHost: x\r\n");
        EXPECT_TRUE(slow.closedWithin(2s));
        RawConnection bad(service.port());
        bad.send("GET /healthcheck HTTP/2.0\r\nHost: x\r\n\r\n");
        EXPECT_TRUE(bad.readAll(1s).starts_with("HTTP/1.1 505"));
    }
    EXPECT_EQ(httpRequest("GET", base + "/healthcheck", "").status, 200);
}
