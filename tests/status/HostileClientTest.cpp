// The service's HTTP front against clients that try to fill it or to be read otherwise than a
// proxy in front reads them: strict framing and header fields, the request target's forms,
// the head's time-out on kept-alive connections, slots held by slow heads from many
// addresses, and what the log shows of all that at the default level.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "tests/fixtures/Certificates.h"
#include "tests/fixtures/ScriptedServer.h"
#include "tests/fixtures/TestFiles.h"
#include "tests/status/HeadTrickler.h"
#include "tests/status/StatusTestSupport.h"

using namespace quelvar::test;
using namespace std::chrono_literals;
namespace status = quelvar::status;

namespace {

using Clock = std::chrono::steady_clock;

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
const std::string kStatusHead =
    "POST /v1/status HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n";

std::string metrics(const ServiceUnderTest& service) {
    return httpRequest("GET", service.url("/metrics"), "").body;
}

std::string errorJson(int status, const std::string& message) {
    return R"({"error":{"status":)" + std::to_string(status) + R"(,"message":")" + message + "\"}}";
}

// Returns the body of a raw reply (after its header block), or the whole text without one.
std::string replyBody(const std::string& reply) {
    const auto end = reply.find("\r\n\r\n");
    return end == std::string::npos ? reply : reply.substr(end + 4);
}

}  // namespace

// --- Framing and header fields ---------------------------------------------------------------

TEST(StrictHeadTest, RefusesWhatAProxyMayReadOtherwiseAndCloses) {
    struct Case {
        const char* name;
        std::string request;
        int status;
        const char* message;
    };
    const std::string body = R"({"requestUrl":"http://127.0.0.1:1/"})";
    const std::string length = "Content-Length: " + std::to_string(body.size()) + "\r\n";
    const Case cases[] = {
        {"blank before the colon of Transfer-Encoding",
         kStatusHead + "Transfer-Encoding : chunked\r\n" + length + "\r\n" + body, 400,
         "malformed header field name"},
        {"blank inside a name", "GET /healthcheck HTTP/1.1\r\nHost: x\r\nX A: b\r\n\r\n", 400,
         "malformed header field name"},
        {"Transfer-Encoding twice",
         kStatusHead + "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
         400, "more than one Transfer-Encoding"},
        {"no Host in HTTP/1.1", "GET /healthcheck HTTP/1.1\r\n\r\n", 400, "Host is missing"},
        {"two Hosts", "GET /healthcheck HTTP/1.1\r\nHost: x\r\nHost: y\r\n\r\n", 400,
         "more than one Host"},
        {"two Hosts in HTTP/1.0", "GET /healthcheck HTTP/1.0\r\nHost: x\r\nHost: x\r\n\r\n", 400,
         "more than one Host"},
        {"Transfer-Encoding in HTTP/1.0",
         "POST /v1/status HTTP/1.0\r\nContent-Type: application/json\r\n"
         "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
         400, "Transfer-Encoding in an HTTP/1.0 request"},
        {"identity", kStatusHead + "Transfer-Encoding: identity\r\n\r\n" + body, 501,
         "Transfer-Encoding other than chunked"},
        {"gzip, chunked", kStatusHead + "Transfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n", 501,
         "Transfer-Encoding other than chunked"},
    };
    ScriptedServer target;
    ServiceUnderTest service;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawConnection client(service.port());
        ASSERT_TRUE(client.send(c.request));
        const auto started = Clock::now();
        const std::string reply = client.readAll(2s);
        EXPECT_LT(Clock::now() - started, 1s) << "closed after the reply, not left open";
        EXPECT_TRUE(reply.starts_with("HTTP/1.1 " + std::to_string(c.status) + " ")) << reply;
        EXPECT_EQ(replyBody(reply), errorJson(c.status, c.message));
        EXPECT_NE(reply.find("\r\nContent-Type: application/json\r\n"), std::string::npos) << reply;
        EXPECT_NE(reply.find("\r\nConnection: close\r\n"), std::string::npos) << reply;
    }
    EXPECT_TRUE(target.requests().empty());
    const std::string text = metrics(service);
    EXPECT_EQ(metricValue(text, "quelvar_status_requests_rejected_total{status=\"501\"}"), 2)
        << text;
}

TEST(StrictHeadTest, ServesTheTargetFormsAndEscapesARequestMayUse) {
    struct Case {
        const char* name;
        std::string request;
        std::string statusLine;
        std::string body;
    };
    const std::string health = R"({"status":"ok"})";
    const Case cases[] = {
        {"absolute form", "GET http://x/healthcheck HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 200 OK",
         health},
        {"absolute form, scheme in capitals",
         "GET HTTPS://x:443/healthcheck HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 200 OK", health},
        {"absolute form without a path", "GET http://x HTTP/1.1\r\nHost: x\r\n\r\n",
         "HTTP/1.1 404 Not Found", errorJson(404, "not found")},
        {"escaped letter", "GET /health%63heck HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 200 OK",
         health},
        {"escaped NUL", "GET /healthcheck%00xyz HTTP/1.1\r\nHost: x\r\n\r\n",
         "HTTP/1.1 404 Not Found", errorJson(404, "not found")},
        {"escaped NUL at the end", "GET /healthcheck%00 HTTP/1.1\r\nHost: x\r\n\r\n",
         "HTTP/1.1 404 Not Found", errorJson(404, "not found")},
    };
    ServiceUnderTest service;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawConnection client(service.port());
        ASSERT_TRUE(client.send(c.request));
        const std::string reply = client.readAll(500ms);
        EXPECT_TRUE(reply.starts_with(c.statusLine + "\r\n")) << reply;
        EXPECT_EQ(replyBody(reply), c.body);
    }
    // A check asked for in the absolute form.
    ScriptedServer target;
    target.setFallback(Exchange{kOk});
    const std::string body = statusBody(target.url());
    RawConnection client(service.port());
    ASSERT_TRUE(
        client.send("POST http://x/v1/status HTTP/1.1\r\nHost: x\r\n"
                    "Content-Type: application/json\r\nConnection: close\r\n"
                    "Content-Length: " +
                    std::to_string(body.size()) + "\r\n\r\n" + body));
    const std::string reply = client.readAll(2s);
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\n")) << reply;
    EXPECT_EQ(chainStatuses(parseJson(replyBody(reply))), std::vector<int>{200});
}

// Heads that an HTTP layer may silently cut, join or drop before the service sees them: a NUL
// in a header value or the request line, an obs-folded line, a line with an empty name; and
// the refusals of a head too long or of an unknown version, which are JSON like every other
// refusal. A Content-Length with trailing blanks is a number all the same (RFC 9110 section
// 5.5).
TEST(StrictHeadTest, RefusesWhatTheHttpLayerCutsOrJoinsAndAnswersItsOwnRefusalsInJson) {
    struct Case {
        const char* name;
        std::string request;
        int status;
    };
    const std::string body = R"({"requestUrl":"http://127.0.0.1:1/"})";
    const Case cases[] = {
        {"NUL in a header value",
         std::string("GET /healthcheck HTTP/1.1\r\nHost: x\r\nX-A: a\0b\r\n\r\n", 48), 400},
        {"NUL in the request line",
         std::string("GET /healthcheck\0x HTTP/1.1\r\nHost: x\r\n\r\n", 41), 400},
        {"obs-folded Transfer-Encoding",
         kStatusHead + "Transfer-Encoding:\r\n chunked\r\nContent-Length: " +
             std::to_string(body.size()) + "\r\n\r\n" + body,
         400},
        {"empty header name", "GET /healthcheck HTTP/1.1\r\nHost: x\r\n: v\r\n\r\n", 400},
        {"request line above the connection's memory",
         "GET /" + std::string(40000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n", 414},
        {"unknown HTTP version", "GET /healthcheck HTTP/2.0\r\nHost: x\r\n\r\n", 505},
    };
    ServiceUnderTest service;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawConnection client(service.port());
        client.send(c.request);
        const std::string reply = client.readAll(1s);
        EXPECT_TRUE(reply.starts_with("HTTP/1.1 " + std::to_string(c.status) + " ")) << reply;
        EXPECT_NE(reply.find("\r\nContent-Type: application/json\r\n"), std::string::npos) << reply;
        EXPECT_NE(reply.find("\r\nConnection: close\r\n"), std::string::npos) << reply;
    }
    RawConnection client(service.port());
    client.send(kStatusHead + "Content-Length: " + std::to_string(body.size()) + "  \r\n\r\n" +
                body);
    EXPECT_TRUE(client.readAll(2s).starts_with("HTTP/1.1 200 OK\r\n"));
}

// --- The head's time-out -----------------------------------------------------------------------

TEST(HeadTimeOutTest, CountsFromTheFirstByteOfALaterRequestOnAKeptAliveConnection) {
    status::ServiceSettings settings = testSettings();
    settings.server.headerTimeout = 600ms;
    settings.server.idleTimeoutSeconds = 2;
    ServiceUnderTest service(settings);
    RawConnection client(service.port());
    ASSERT_TRUE(client.send("GET /healthcheck HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_TRUE(client.readAll(300ms).starts_with("HTTP/1.1 200 OK\r\n"));
    // Idle for a while, then the next head trickled one byte per 100 ms, which keeps the idle
    // time-out from ending it.
    std::this_thread::sleep_for(500ms);
    const auto started = Clock::now();
    bool closed = false;
    const std::string head = "GET /healthcheck HTTP/1.1\r\nHost: x\r\nX-Slow: aaaaaaaaaaaaaaaaaaaa";
    for (std::size_t i = 0; !closed && i < head.size(); ++i) {
        closed = !client.send(head.substr(i, 1)) || client.closedWithin(100ms);
    }
    const auto took = Clock::now() - started;
    EXPECT_TRUE(closed);
    EXPECT_GE(took, 550ms);
    EXPECT_LT(took, 1200ms) << "the head's time from its first byte, not after the idle time";
    EXPECT_EQ(metricValue(metrics(service),
                          "quelvar_status_connections_dropped_total{reason=\"header_timeout\"}"),
              1);
}

// --- Slots -------------------------------------------------------------------------------------

TEST(SlotTest, NewConnectionAtTheLimitTakesTheSlotOfTheOldestWaitingOne) {
    ScriptedServer silent;
    Exchange hang;
    hang.action = Exchange::Action::Hang;
    silent.setFallback(hang);
    status::ServiceSettings settings = testSettings();
    settings.server.maxConnections = 3;
    settings.engine.checkTimeout = 5000ms;
    ServiceUnderTest service(settings);

    // A check that runs keeps its slot; of two connections without a complete head, the
    // older one goes first.
    RawConnection checking(service.port(), "127.0.0.2");
    ASSERT_TRUE(checking.send(checkRequest(statusBody(silent.url()))));
    ASSERT_TRUE(silent.waitForRequests(1, 2s));
    RawConnection older(service.port(), "127.0.0.3");
    ASSERT_TRUE(older.send("GET /healthcheck HTTP/1.1\r\n"));
    std::this_thread::sleep_for(50ms);
    RawConnection newer(service.port(), "127.0.0.4");
    ASSERT_TRUE(newer.send("GET /healthcheck HTTP/1.1\r\n"));
    std::this_thread::sleep_for(50ms);

    RawConnection fresh(service.port(), "127.0.0.5");
    ASSERT_TRUE(fresh.send("GET /healthcheck HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
    EXPECT_TRUE(fresh.readAll(500ms).starts_with("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(older.closedWithin(500ms));
    ASSERT_TRUE(newer.send("Host: x\r\n\r\n"));
    EXPECT_TRUE(newer.readAll(300ms).starts_with("HTTP/1.1 200 OK\r\n"))
        << "the newer waiter kept its slot";

    // Then a connection idle between requests (newer, answered) goes before one that waits
    // for its head but came later, and the running check is never taken.
    std::this_thread::sleep_for(50ms);
    RawConnection waiter(service.port(), "127.0.0.6");
    std::this_thread::sleep_for(50ms);
    RawConnection last(service.port(), "127.0.0.7");
    EXPECT_TRUE(newer.closedWithin(500ms));
    EXPECT_FALSE(waiter.closedWithin(100ms));
    ASSERT_TRUE(last.send("GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
    const std::string text = replyBody(last.readAll(500ms));
    EXPECT_EQ(metricValue(text, "quelvar_status_connections_dropped_total{reason=\"evicted\"}"), 2)
        << text;
    EXPECT_EQ(metricValue(text, "quelvar_status_checks_in_flight"), 1) << text;
}

TEST(SlotTest, HandshakesThatNeverEndGiveTheirSlotsToATlsClientThatSendsAtOnce) {
    status::ServiceSettings settings = testSettings();
    const Certificate cert = makeCertificate({});
    settings.server.tlsCertPem = cert.certPem;
    settings.server.tlsKeyPem = cert.keyPem;
    settings.server.maxConnections = 2;
    ServiceUnderTest service(settings);
    const TempDir dir;
    const std::string trust = dir.write("service.pem", cert.certPem);
    std::vector<std::unique_ptr<RawConnection>> slow;
    for (const char* from : {"127.0.0.2", "127.0.0.3"}) {
        slow.push_back(std::make_unique<RawConnection>(service.port(), from));
        // A handshake record announcing 512 bytes, of which one comes.
        ASSERT_TRUE(slow.back()->send(std::string("\x16\x03\x01\x02\x00\x01", 6)));
        std::this_thread::sleep_for(50ms);
    }
    const std::string health =
        "https://127.0.0.1:" + std::to_string(service.port()) + "/healthcheck";
    const HttpReply reply = httpRequest("GET", health, "", {}, trust, 2s);
    EXPECT_EQ(reply.status, 200) << reply.error;
    EXPECT_TRUE(slow[0]->closedWithin(1s)) << "the older handshake went";
    EXPECT_FALSE(slow[1]->closedWithin(100ms)) << "the newer one kept its slot";
}

TEST(SlotTest, RefusesANewConnectionWhenEverySlotHoldsACompleteRequest) {
    ScriptedServer silent;
    Exchange hang;
    hang.action = Exchange::Action::Hang;
    silent.setFallback(hang);
    status::ServiceSettings settings = testSettings();
    settings.server.maxConnections = 2;
    settings.engine.checkTimeout = 5000ms;
    ServiceUnderTest service(settings);
    RawConnection first(service.port(), "127.0.0.2");
    RawConnection second(service.port(), "127.0.0.3");
    ASSERT_TRUE(first.send(checkRequest(statusBody(silent.url()))));
    ASSERT_TRUE(second.send(checkRequest(statusBody(silent.url()))));
    ASSERT_TRUE(silent.waitForRequests(2, 2s));
    RawConnection third(service.port(), "127.0.0.4");
    EXPECT_TRUE(third.closedWithin(1s));
    first.close();
    second.close();
    std::this_thread::sleep_for(300ms);
    const std::string text = metrics(service);
    EXPECT_EQ(metricValue(text, "quelvar_status_connections_refused_total{limit=\"total\"}"), 1)
        << text;
    EXPECT_EQ(metricValue(text, "quelvar_status_connections_dropped_total{reason=\"evicted\"}"), -1)
        << text;
}

TEST(SlotTest, SlowHeadsFromManyAddressesDoNotShutOutAClientThatSendsAtOnce) {
    // The attack scaled down: 32 addresses, each within its per-client limit of 4, together
    // twice the 64 slots, each reconnecting at once when its slot is freed.
    status::ServiceSettings settings = testSettings();
    settings.server.maxConnections = 64;
    settings.server.maxConnectionsPerClient = 4;
    settings.server.headerTimeout = 500ms;
    ServiceUnderTest service(settings);
    std::vector<std::string> attackers;
    for (int i = 1; i <= 32; ++i) {
        attackers.push_back("127.0.1." + std::to_string(i));
    }
    HeadTrickler attack(service.port(), attackers, 4);
    // Until the slots are full and the head time-out has freed and refilled them.
    const auto filled = Clock::now() + 3s;
    while (attack.closedByService() < 64 && Clock::now() < filled) {
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_GE(attack.closedByService(), 64) << "the attack did not fill the service";

    constexpr int kProbes = 20;
    int answered = 0;
    for (int i = 0; i < kProbes; ++i) {
        try {
            RawConnection probe(service.port(), "127.0.2.1");
            probe.send("GET /healthcheck HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
            answered += probe.readAll(2s).starts_with("HTTP/1.1 200 OK\r\n") ? 1 : 0;
        } catch (const std::runtime_error&) {
        }
        std::this_thread::sleep_for(50ms);
    }
    // Every probe is answered on an idle machine; the margin is for a loaded one, where a
    // probe may lose its slot while its head waits to be read.
    EXPECT_GE(answered, kProbes * 8 / 10) << answered << " of " << kProbes;

    ScriptedServer target;
    target.setFallback(Exchange{kOk});
    RawConnection client(service.port(), "127.0.2.1");
    ASSERT_TRUE(client.send(checkRequest(statusBody(target.url()))));
    const std::string reply = client.readAll(3s);
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\n")) << reply;
    EXPECT_EQ(chainStatuses(parseJson(replyBody(reply))), std::vector<int>{200});
}

// --- The log -----------------------------------------------------------------------------------

TEST(ClientNoiseTest, StaysOutOfTheLogAtTheDefaultLevelAndIsCounted) {
    status::ServiceSettings settings = testSettings();
    settings.server.headerTimeout = 300ms;
    ServiceUnderTest plain(settings);
    const Certificate cert = makeCertificate({});
    settings.server.tlsCertPem = cert.certPem;
    settings.server.tlsKeyPem = cert.keyPem;
    ServiceUnderTest tls(settings);

    ScriptedServer target;
    target.setFallback(Exchange{kOk});
    for (const std::string& url : {"http://user:secret@" + target.authority() + "/",
                                   "http:/user:secret@" + target.authority() + "/",
                                   "http:///user:secret@" + target.authority() + "/",
                                   "http:user:secret@" + target.authority() + "/",
                                   "http:\\\\user:secret@" + target.authority() + "/"}) {
        plain.post(url);
    }
    const std::vector<std::string> noise = {
        // a head cut off by the client
        "GET /healthcheck HTTP/1.1\r\nHost: x\r\n",
        // a bad Content-Length
        kStatusHead + "Content-Length: abc\r\n\r\n",
        // more header lines than the connection's memory holds
        "GET /healthcheck HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(40000, 'a') + "\r\n\r\n",
        // an unknown version
        "GET /healthcheck HTTP/2.0\r\nHost: x\r\n\r\n",
    };
    for (const std::string& bytes : noise) {
        for (ServiceUnderTest* service : {&plain, &tls}) {
            RawConnection client(service->port());
            client.send(bytes);
            client.readAll(100ms);
            client.close();
        }
    }
    {
        // a head trickled until the service drops it
        RawConnection slow(plain.port());
        slow.send("GET /healthcheck HTTP/1.1\r\n");
        EXPECT_TRUE(slow.closedWithin(1s));
    }
    std::this_thread::sleep_for(300ms);
    for (ServiceUnderTest* service : {&plain, &tls}) {
        for (const std::string& line : service->logLines()) {
            std::fprintf(stderr, "LOG %s\n", line.c_str());
            if (line.starts_with("debug: ")) {
                continue;
            }
            EXPECT_NE(line.find(" check client="), std::string::npos)
                << "logged at the default level: " << line;
            EXPECT_EQ(line.find("secret"), std::string::npos) << line;
        }
    }
    const std::string text = metrics(plain);
    EXPECT_GE(metricValue(text, "quelvar_status_client_errors_total{kind=\"closed_early\"}"), 1)
        << text;
    EXPECT_GE(metricValue(text, "quelvar_status_client_errors_total{kind=\"bad_request\"}"), 1)
        << text;
    const auto tlsLines = tls.logLines();
    EXPECT_NE(
        std::find(tlsLines.begin(), tlsLines.end(), "debug: http: TLS handshake aborted by client"),
        tlsLines.end());
}
