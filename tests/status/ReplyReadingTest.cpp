// How the service reads what targets answer and what clients ask for: status lines, broken and
// oversized replies, redirects, internationalised names, control characters in the URL and
// the precision of the timings.
#include <gtest/gtest.h>

#include <regex>

#include "tests/fixtures/ScriptedServer.h"
#include "tests/status/StatusTestSupport.h"

using namespace quelvar::test;
using namespace std::chrono_literals;
namespace status = quelvar::status;

namespace {

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

std::string statusMessage(const rapidjson::Document& reply, rapidjson::SizeType hop) {
    return reply["response"]["chain"][hop]["statusMessage"].GetString();
}

}  // namespace

// --- Status lines ----------------------------------------------------------------------------

TEST(StatusLineTest, ReasonPhraseComesOnlyFromTheFirstLineOfEachReply) {
    struct Case {
        const char* name;
        std::string reply;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"header line that looks like a status line",
         "HTTP/1.1 200 OK\r\nHTTP/1.1 99999999999999999999 X: y\r\nContent-Length: 0\r\n\r\n", 200,
         "OK"},
        {"header line with a small code",
         "HTTP/1.1 204 No Content\r\nHTTP/1.0 500 Broken: yes\r\n\r\n", 204, "No Content"},
        {"interim reply before the final one",
         "HTTP/1.1 100 Continue\r\nX-A: b\r\n\r\nHTTP/1.1 201 Made It\r\nContent-Length: 0\r\n\r\n",
         201, "Made It"},
        {"reason phrase with blanks", "HTTP/1.1 404 Not  Here At All \r\nContent-Length: 0\r\n\r\n",
         404, "Not  Here At All"},
        {"no reason phrase", "HTTP/1.1 503\r\nContent-Length: 0\r\n\r\n", 503,
         "Service Unavailable"},
        {"chunked body with trailers",
         "HTTP/1.1 200 Fine\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n"
         "HTTP/1.1 500 Trailer\r\n\r\n",
         200, "Fine"},
    };
    ServiceUnderTest service;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer target;
        target.addReply(c.reply);
        const auto reply = service.check(target.url());
        ASSERT_EQ(chainStatuses(reply), std::vector<int>{c.status}) << jsonText(reply);
        EXPECT_EQ(statusMessage(reply, 0), c.message);
        EXPECT_EQ(replyCode(reply), "null");
    }
}

// --- Broken and oversized replies ------------------------------------------------------------

TEST(BrokenReplyTest, IsTheTargetsFaultNeverTheUrlsOrTheServicesMemory) {
    struct Case {
        const char* name;
        std::string reply;
        const char* code;
    };
    std::string endless = "HTTP/1.1 200 OK\r\n";
    while (endless.size() < 400 * 1024) {
        endless +=
            "X-Header-" + std::to_string(endless.size()) + ": " + std::string(60, 'v') + "\r\n";
    }
    const Case cases[] = {
        {"status code not a number", "HTTP/1.1 abc Weird\r\nContent-Length: 0\r\n\r\n", "EPROTO"},
        {"unknown HTTP version", "HTTP/9.9 200 OK\r\nContent-Length: 0\r\n\r\n", "EPROTO"},
        {"ICY", "ICY 200 OK\r\nContent-Length: 0\r\n\r\n", "EPROTO"},
        {"raw bytes", std::string("\x16\x03\x01\x00\x02\x02\x28\x00\xff", 9), "EPROTO"},
        {"body without status line", "hello world\r\n", "EPROTO"},
        {"one header line of 200 KB",
         "HTTP/1.1 200 OK\r\nX-Big: " + std::string(200 * 1024, 'a') + "\r\n\r\n",
         "HPE_HEADER_OVERFLOW"},
        {"endless header lines", endless, "HPE_HEADER_OVERFLOW"},
    };
    ServiceUnderTest service;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer target;
        target.addReply(c.reply);
        const auto reply = service.check(target.url());
        EXPECT_EQ(replyCode(reply), c.code);
        EXPECT_TRUE(chainStatuses(reply).empty()) << jsonText(reply);
    }
}

TEST(BrokenReplyTest, SwitchingProtocolsThatNoRequestAskedForEndsAtOnce) {
    // Whether the target then keeps the connection open (the check would wait for a final
    // reply until its time-out) or closes it.
    for (const bool keepOpen : {true, false}) {
        SCOPED_TRACE(keepOpen ? "kept open" : "closed");
        ScriptedServer target;
        Exchange exchange{
            "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
            "Connection: Upgrade\r\n\r\n"};
        exchange.closeAfter = !keepOpen;
        target.setFallback(exchange);
        ServiceUnderTest service;
        const auto started = std::chrono::steady_clock::now();
        const auto reply = service.check(target.url());
        EXPECT_EQ(replyCode(reply), "EPROTO");
        EXPECT_TRUE(chainStatuses(reply).empty()) << jsonText(reply);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1000))
            << "long before the check's time-out";
    }
}

TEST(BrokenReplyTest, LargeButBoundedHeadersAreRead) {
    ScriptedServer target;
    target.addReply("HTTP/1.1 200 OK\r\nSet-Cookie: " + std::string(30000, 'c') +
                    "\r\nContent-Length: 0\r\n\r\n");
    ServiceUnderTest service;
    const auto reply = service.check(target.url());
    EXPECT_EQ(chainStatuses(reply), std::vector<int>{200});
    EXPECT_EQ(replyCode(reply), "null");
}

// --- Redirects -------------------------------------------------------------------------------

TEST(RedirectTest, LocationTooLongEndsTheChainWithItsOwnCodeAndIsNeverCut) {
    ScriptedServer target;
    const std::string longPath = "/" + std::string(8200, 'p');
    target.addReply("HTTP/1.1 302 Found\r\nLocation: " + longPath +
                    "\r\nContent-Length: 0\r\n\r\n");
    target.setFallback(Exchange{kOk});
    ServiceUnderTest service;
    const auto reply = service.check(target.url());
    EXPECT_EQ(chainStatuses(reply), std::vector<int>{302});
    EXPECT_EQ(replyCode(reply), "ERR_REDIRECT_URL_TOO_LONG");
    EXPECT_FALSE(reply["response"]["chain"][0].HasMember("redirectUrl"))
        << "a cut URL is one the server never sent";
    EXPECT_EQ(target.requests().size(), 1u) << "nothing else fetched";
}

TEST(RedirectTest, LongLocationWithinTheBoundIsFollowedWhole) {
    ScriptedServer target;
    const std::string path = "/" + std::string(8000, 'p');
    target.addReply("HTTP/1.1 302 Found\r\nLocation: " + path + "\r\nContent-Length: 0\r\n\r\n");
    target.addReply(kOk);
    ServiceUnderTest service;
    const auto reply = service.check(target.url());
    EXPECT_EQ(chainStatuses(reply), (std::vector<int>{302, 200}));
    ASSERT_EQ(target.requests().size(), 2u);
    EXPECT_TRUE(target.requests()[1].starts_with("GET " + path + " HTTP/1.1\r\n"));
}

// --- Control characters in the URL -----------------------------------------------------------

TEST(RequestUrlTest, ControlCharactersAreRefusedWith400BeforeAnyFetch) {
    ScriptedServer target;
    target.setFallback(Exchange{kOk});
    ServiceUnderTest service;
    const std::string base = target.url("/echo");
    for (const std::string& url : {base + std::string("\0.evil", 6), base + "\r\nX: y", base + "\t",
                                   base + "\x7f", base + "\xc2\x85"}) {
        SCOPED_TRACE(
            jsonText(rapidjson::Value(url.c_str(), static_cast<rapidjson::SizeType>(url.size()))));
        const HttpReply reply = service.post(url);
        EXPECT_EQ(reply.status, 400);
        EXPECT_EQ(reply.body, R"({"error":{"status":400,"message":")"
                              R"(requestUrl contains a control character"}})");
    }
    EXPECT_TRUE(target.requests().empty()) << "neither /echo nor anything else was fetched";
}

// --- Internationalised names -----------------------------------------------------------------

TEST(IdnTest, HostNameIsFetchedInItsAsciiFormAndReportedAsAskedFor) {
    // libcurl resolves every name below "localhost" to loopback itself (RFC 6761), so this
    // name reaches the scripted server without any resolver.
    ScriptedServer target;
    target.addReply(kOk);
    ServiceUnderTest service;
    const std::string port = std::to_string(target.port());
    const std::string asked =
        "http://b\xc3\xbc"
        "cher.localhost:" +
        port + "/x";
    const auto reply = service.check(asked);
    ASSERT_EQ(chainStatuses(reply), std::vector<int>{200}) << jsonText(reply);
    EXPECT_EQ(std::string(reply["response"]["requestUrl"].GetString()), asked);
    EXPECT_EQ(std::string(reply["response"]["chain"][0]["url"].GetString()),
              "http://xn--bcher-kva.localhost:" + port + "/x");
    ASSERT_EQ(target.requests().size(), 1u);
    EXPECT_NE(target.requests()[0].find("\r\nHost: xn--bcher-kva.localhost:" + port + "\r\n"),
              std::string::npos)
        << target.requests()[0];
}

TEST(IdnTest, NameWithoutAnAsciiFormIsAnInvalidUrlWithoutAnyLookUp) {
    ServiceUnderTest service;
    // U+2029 (paragraph separator) is disallowed in IDNA, and no resolver sees the name.
    const auto reply = service.check(
        "http://a\xe2\x80\xa9"
        "b.localhost/");
    EXPECT_EQ(replyCode(reply), "ERR_INVALID_URL");
}

TEST(IdnTest, PolicyJudgesTheAddressesOfTheAsciiName) {
    ScriptedServer target;
    target.setFallback(Exchange{kOk});
    status::ServiceSettings settings = testSettings();
    settings.engine.policy = status::AddressPolicy();
    ServiceUnderTest service(settings);
    const auto reply = service.check(
        "http://b\xc3\xbc"
        "cher.localhost:" +
        std::to_string(target.port()) + "/");
    EXPECT_EQ(replyCode(reply), "EBLOCKED");
    EXPECT_EQ(target.connectionCount(), 0u);
}

// --- Timings ---------------------------------------------------------------------------------

TEST(TimingTest, TimingsAndDurationHaveMicrosecondPrecision) {
    ScriptedServer target;
    target.addReply(kOk);
    ServiceUnderTest service;
    const HttpReply reply = service.post(target.url());
    ASSERT_EQ(reply.status, 200);
    const std::regex number(
        "\"(dns|connect|tls|firstByte|total|durationMs)\":(\\d+)\\.(\\d{3})[,}]");
    std::size_t found = 0;
    for (auto it = std::sregex_iterator(reply.body.begin(), reply.body.end(), number);
         it != std::sregex_iterator(); ++it) {
        ++found;
    }
    EXPECT_EQ(found, 6u) << reply.body;
    const auto document = parseJson(reply.body);
    EXPECT_GT(document["response"]["chain"][0]["timings"]["total"].GetDouble(), 0.0)
        << "a loopback hop takes some microseconds, no longer 0";
    EXPECT_GT(document["response"]["durationMs"].GetDouble(), 0.0);
}
