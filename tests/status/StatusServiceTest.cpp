// The service on the wire: a client POSTs checks to a service on a loopback port, and the
// checked URLs are scripted loopback servers whose requests are recorded.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <future>

#include "tests/fixtures/FullListener.h"
#include "tests/fixtures/ScriptedServer.h"
#include "tests/fixtures/TestFiles.h"
#include "tests/status/StatusTestSupport.h"

using namespace quelvar::test;
using namespace std::chrono_literals;
namespace status = quelvar::status;

namespace {

std::string redirectTo(const std::string& location, int code = 302) {
    return "HTTP/1.1 " + std::to_string(code) + " Found\r\nLocation: " + location +
           "\r\nContent-Length: 0\r\n\r\n";
}

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

Exchange acting(Exchange::Action action) {
    Exchange exchange;
    exchange.action = action;
    return exchange;
}

Exchange delayed(std::string reply, std::chrono::milliseconds delay) {
    Exchange exchange;
    exchange.reply = std::move(reply);
    exchange.delay = delay;
    return exchange;
}

// Replies as soon as the connection is accepted, whatever the client sends.
Exchange atAccept(std::string reply) {
    Exchange exchange;
    exchange.reply = std::move(reply);
    exchange.readRequest = false;
    return exchange;
}

// The certificates of the TLS cases: a CA the service trusts through its CA file and leaves
// it signed. Made once, since key generation is the slow part.
struct Pki {
    Certificate ca = makeCertificate({.commonName = "Test CA", .isCa = true});
    Certificate unknownCa = makeCertificate({.commonName = "Unknown CA", .isCa = true});
    Certificate leaf = makeCertificate({.issuer = &ca});
    Certificate expired =
        makeCertificate({.notBeforeOffset = -10 * 86400, .notAfterOffset = -86400, .issuer = &ca});
    Certificate notYetValid =
        makeCertificate({.notBeforeOffset = 86400, .notAfterOffset = 10 * 86400, .issuer = &ca});
    Certificate selfSigned = makeCertificate({});
    Certificate byUnknownCa = makeCertificate({.issuer = &unknownCa});
    Certificate otherName = makeCertificate(
        {.commonName = "other.test", .dnsNames = {"other.test"}, .ipAddresses = {}, .issuer = &ca});
    TempDir dir;
    std::string caFile = dir.write("ca.pem", ca.certPem);
};

const Pki& pki() {
    static const Pki instance;
    return instance;
}

status::ServiceSettings trustingSettings() {
    status::ServiceSettings settings = testSettings();
    settings.engine.caFile = pki().caFile;
    return settings;
}

}  // namespace

// --- Redirect chains -----------------------------------------------------------------------

class RedirectChainTest : public ::testing::TestWithParam<int> {};

TEST_P(RedirectChainTest, RecordsEveryHopUpToTenRedirects) {
    const int redirects = GetParam();
    ScriptedServer target;
    for (int i = 0; i < redirects; ++i) {
        // Relative, absolute-path and absolute Locations alternate; all resolve alike.
        const std::string next = "/hop" + std::to_string(i + 1);
        const std::string location = i % 3 == 0   ? next
                                     : i % 3 == 1 ? target.url(next)
                                                  : "hop" + std::to_string(i + 1);
        target.addReply(redirectTo(location, i % 2 == 0 ? 302 : 301));
    }
    target.addReply(kOk);
    ServiceUnderTest service;
    const auto reply = service.check(target.url("/hop0"));
    const auto& response = reply["response"];
    const auto& chain = response["chain"];

    const int followed = std::min(redirects, 10);
    const int hops = std::min(redirects + 1, 11);
    ASSERT_EQ(static_cast<int>(chain.Size()), hops);
    for (int i = 0; i < hops; ++i) {
        SCOPED_TRACE(i);
        const auto& entry = chain[i];
        EXPECT_EQ(std::string(entry["url"].GetString()), target.url("/hop" + std::to_string(i)));
        if (i < redirects) {
            EXPECT_EQ(entry["statusCode"].GetInt(), i % 2 == 0 ? 302 : 301);
            EXPECT_EQ(std::string(entry["redirectUrl"].GetString()),
                      target.url("/hop" + std::to_string(i + 1)));
        } else {
            EXPECT_EQ(entry["statusCode"].GetInt(), 200);
            EXPECT_EQ(std::string(entry["statusMessage"].GetString()), "OK");
            EXPECT_FALSE(entry.HasMember("redirectUrl"));
        }
        EXPECT_TRUE(entry["timings"]["total"].IsNumber());
    }
    EXPECT_EQ(response["status"].GetInt(), chain[hops - 1]["statusCode"].GetInt());
    if (redirects > 10) {
        EXPECT_EQ(replyCode(reply), "ERR_FR_TOO_MANY_REDIRECTS");
    } else {
        EXPECT_EQ(replyCode(reply), "null");
    }
    EXPECT_EQ(target.requests().size(), static_cast<std::size_t>(followed + 1))
        << "no request beyond the tenth redirect";
}

INSTANTIATE_TEST_SUITE_P(Redirects, RedirectChainTest, ::testing::Range(0, 12));

TEST(StatusServiceTest, SendsAPlainGetAndReusesTheConnection) {
    ScriptedServer target;
    Exchange first;
    first.reply = redirectTo("/next");
    first.closeAfter = false;
    target.add(first);
    target.addReply("HTTP/1.1 204\r\n\r\n");
    ServiceUnderTest service;
    const auto reply = service.check(target.url("/start?q=1"));
    ASSERT_EQ(chainStatuses(reply), (std::vector<int>{302, 204})) << jsonText(reply);
    EXPECT_EQ(std::string(reply["response"]["chain"][1]["statusMessage"].GetString()), "No Content")
        << "a reply without reason phrase gets the standard one";
    const auto requests = target.requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string host = "Host: " + target.authority() + "\r\n";
    EXPECT_EQ(requests[0], "GET /start?q=1 HTTP/1.1\r\n" + host +
                               "User-Agent: quelvar-status/1.0\r\nAccept: */*\r\n\r\n");
    EXPECT_EQ(requests[1], "GET /next HTTP/1.1\r\n" + host +
                               "User-Agent: quelvar-status/1.0\r\nAccept: */*\r\n\r\n");
    EXPECT_EQ(target.connectionCount(), 1u) << "the second hop reuses the first hop's connection";
}

TEST(StatusServiceTest, AnswersWithTheHeadersAndAbandonsAnEndlessBody) {
    ScriptedServer target;
    Exchange exchange;
    exchange.reply =
        "HTTP/1.1 200 Fine Thanks\r\nContent-Length: 100000000\r\n\r\n" + std::string(200000, 'x');
    exchange.action = Exchange::Action::Reply;
    target.add(exchange);
    ServiceUnderTest service;
    const auto started = std::chrono::steady_clock::now();
    const auto reply = service.check(target.url());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_EQ(chainStatuses(reply), std::vector<int>{200});
    EXPECT_EQ(std::string(reply["response"]["chain"][0]["statusMessage"].GetString()),
              "Fine Thanks");
    EXPECT_EQ(replyCode(reply), "null");
}

// --- Failure codes from real servers --------------------------------------------------------

struct FailureCase {
    const char* name;
    // Starts what the check talks to and returns the URL to check; the holder keeps it alive.
    std::function<std::string(std::vector<std::shared_ptr<void>>& holder)> target;
    const char* code;
};

class FailureCodeWireTest : public ::testing::TestWithParam<FailureCase> {};

template <typename T, typename... A>
std::shared_ptr<T> keep(std::vector<std::shared_ptr<void>>& holder, A&&... arguments) {
    auto object = std::make_shared<T>(std::forward<A>(arguments)...);
    holder.push_back(object);
    return object;
}

std::string tlsTarget(std::vector<std::shared_ptr<void>>& holder, const Certificate& cert) {
    auto server = keep<ScriptedServer>(holder, TlsSettings{cert.certPem, cert.keyPem});
    server->setFallback(Exchange{kOk});
    return server->url();
}

const FailureCase kFailureCases[] = {
    {"refused port",
     [](auto&) { return "http://127.0.0.1:" + std::to_string(refusingPort()) + "/"; },
     "ECONNREFUSED"},
    {"reset without reply",
     [](auto& holder) {
         auto server = keep<ScriptedServer>(holder);
         server->setFallback(acting(Exchange::Action::Reset));
         return server->url();
     },
     "ECONNRESET"},
    {"closed without reply",
     [](auto& holder) {
         auto server = keep<ScriptedServer>(holder);
         server->setFallback(acting(Exchange::Action::Close));
         return server->url();
     },
     "ECONNRESET"},
    {"server never answers",
     [](auto& holder) {
         auto server = keep<ScriptedServer>(holder);
         server->setFallback(acting(Exchange::Action::Hang));
         return server->url();
     },
     "ETIMEDOUT"},
    {"https to a plain HTTP port",
     [](auto& holder) {
         auto server = keep<ScriptedServer>(holder);
         server->add(atAccept("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"));
         const std::string url = server->url();
         return "https" + url.substr(4);
     },
     "EPROTO"},
    {"http to a TLS port",
     [](auto& holder) {
         const std::string url = tlsTarget(holder, pki().leaf);
         return "http" + url.substr(5);
     },
     "ECONNRESET"},
    {"expired certificate", [](auto& holder) { return tlsTarget(holder, pki().expired); },
     "CERT_HAS_EXPIRED"},
    {"certificate not yet valid", [](auto& holder) { return tlsTarget(holder, pki().notYetValid); },
     "CERT_NOT_YET_VALID"},
    {"self-signed certificate", [](auto& holder) { return tlsTarget(holder, pki().selfSigned); },
     "DEPTH_ZERO_SELF_SIGNED_CERT"},
    {"leaf of an unknown CA", [](auto& holder) { return tlsTarget(holder, pki().byUnknownCa); },
     "UNABLE_TO_GET_ISSUER_CERT_LOCALLY"},
    {"chain up to an unknown root",
     [](auto& holder) {
         auto server = keep<ChainTlsServer>(
             holder, std::vector<const Certificate*>{&pki().byUnknownCa, &pki().unknownCa},
             pki().byUnknownCa.keyPem);
         return "https://127.0.0.1:" + std::to_string(server->port()) + "/";
     },
     "SELF_SIGNED_CERT_IN_CHAIN"},
    {"certificate for another name",
     [](auto& holder) { return tlsTarget(holder, pki().otherName); },
     "ERR_TLS_CERT_ALTNAME_INVALID"},
    {"not a URL", [](auto&) { return std::string("not a url"); }, "ERR_INVALID_URL"},
    {"empty URL", [](auto&) { return std::string(); }, "ERR_INVALID_URL"},
    {"relative URL", [](auto&) { return std::string("/healthcheck"); }, "ERR_INVALID_URL"},
    {"no scheme", [](auto&) { return std::string("127.0.0.1:8080/x"); }, "ERR_INVALID_URL"},
    {"other scheme", [](auto&) { return std::string("ftp://127.0.0.1/"); }, "ERR_INVALID_URL"},
    {"file scheme", [](auto&) { return std::string("file:///etc/passwd"); }, "ERR_INVALID_URL"},
    {"no host", [](auto&) { return std::string("http://"); }, "ERR_INVALID_URL"},
    {"no host but a port", [](auto&) { return std::string("http://:80/"); }, "ERR_INVALID_URL"},
};

TEST_P(FailureCodeWireTest, GivesAnEmptyChainAndTheCode) {
    const FailureCase& c = GetParam();
    std::vector<std::shared_ptr<void>> holder;
    const std::string url = c.target(holder);
    status::ServiceSettings settings = trustingSettings();
    // Only a target that never answers waits for the check time-out, kept short for it; every
    // other failure must come well before the time-out.
    const bool silentTarget = std::string_view(c.code) == "ETIMEDOUT";
    if (silentTarget) {
        settings.engine.checkTimeout = 1500ms;
    }
    ServiceUnderTest service(settings);
    const auto started = std::chrono::steady_clock::now();
    const auto reply = service.check(url);
    EXPECT_LT(std::chrono::steady_clock::now() - started,
              silentTarget ? settings.engine.checkTimeout + 3s : settings.engine.checkTimeout - 1s);
    EXPECT_EQ(replyCode(reply), c.code);
    EXPECT_TRUE(chainStatuses(reply).empty());
    EXPECT_EQ(reply["response"]["status"].GetInt(), 0);
    EXPECT_EQ(std::string(reply["response"]["requestUrl"].GetString()), url);
}

INSTANTIATE_TEST_SUITE_P(Codes, FailureCodeWireTest, ::testing::ValuesIn(kFailureCases),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) {
                                     ch = '_';
                                 }
                             }
                             return name;
                         });

TEST(StatusServiceTest, ConnectTimeOutGivesEtimedoutWithinTheConnectTimeOut) {
    FullListener listener;
    if (!listener.full()) {
        GTEST_SKIP() << "this kernel answers connections beyond a full accept queue";
    }
    status::ServiceSettings settings = testSettings();
    settings.engine.connectTimeout = 300ms;
    settings.engine.checkTimeout = 5000ms;
    ServiceUnderTest service(settings);
    const auto started = std::chrono::steady_clock::now();
    const auto reply = service.check("http://127.0.0.1:" + std::to_string(listener.port()) + "/");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    EXPECT_EQ(replyCode(reply), "ETIMEDOUT");
}

TEST(StatusServiceTest, FineCertificateGivesItsDaysUntilExpiry) {
    ScriptedServer target(TlsSettings{pki().leaf.certPem, pki().leaf.keyPem});
    target.addReply(kOk);
    ServiceUnderTest service(trustingSettings());
    const auto reply = service.check(target.url("/secure"));
    ASSERT_EQ(chainStatuses(reply), std::vector<int>{200});
    const auto& entry = reply["response"]["chain"][0];
    ASSERT_TRUE(entry.HasMember("certificateExpiresInDays"));
    // The fixture's certificates last 30 days from their making.
    EXPECT_GE(entry["certificateExpiresInDays"].GetInt64(), 29);
    EXPECT_LE(entry["certificateExpiresInDays"].GetInt64(), 30);
    EXPECT_GT(entry["timings"]["tls"].GetDouble(), 0.0) << "a handshake takes some microseconds";
}

TEST(StatusServiceTest, FailureAfterRedirectKeepsTheHopsBefore) {
    ScriptedServer target;
    target.addReply(
        redirectTo("http://127.0.0.1:" + std::to_string(refusingPort()) + "/gone", 307));
    ServiceUnderTest service;
    const auto reply = service.check(target.url());
    EXPECT_EQ(chainStatuses(reply), std::vector<int>{307});
    EXPECT_EQ(replyCode(reply), "ECONNREFUSED");
    EXPECT_EQ(reply["response"]["status"].GetInt(), 307);
}

TEST(StatusServiceTest, RedirectToAnotherSchemeEndsTheChain) {
    ScriptedServer target;
    target.addReply(redirectTo("ftp://127.0.0.1/file"));
    ServiceUnderTest service;
    const auto reply = service.check(target.url());
    EXPECT_EQ(chainStatuses(reply), std::vector<int>{302});
    EXPECT_EQ(replyCode(reply), "ERR_INVALID_URL");
    EXPECT_EQ(target.requests().size(), 1u);
}

// --- Address policy -------------------------------------------------------------------------

TEST(AddressPolicyWireTest, RefusesLoopbackInAllItsSpellingsWithoutTheFlag) {
    ScriptedServer target;
    target.setFallback(Exchange{kOk});
    const std::string port = std::to_string(target.port());
    status::ServiceSettings settings = testSettings();
    settings.engine.policy = status::AddressPolicy();
    ServiceUnderTest service(settings);
    const char* hosts[] = {
        "127.0.0.1",
        "localhost",
        "LOCALHOST",
        "127.1",
        "127.0.1",
        "2130706433",
        "0x7f000001",
        "0x7f.0.0.1",
        "0177.0.0.1",
        "017700000001",
        "127.0.0.2",
        "0.0.0.0",
        "0",
        "[::1]",
        "[0:0:0:0:0:0:0:1]",
        "[::]",
        "[::ffff:127.0.0.1]",
        "[::ffff:7f00:1]",
        "[::127.0.0.1]",
    };
    for (const char* host : hosts) {
        SCOPED_TRACE(host);
        for (const char* scheme : {"http", "https"}) {
            const auto reply = service.check(std::string(scheme) + "://" + host + ":" + port + "/");
            EXPECT_EQ(replyCode(reply), "EBLOCKED") << scheme;
            EXPECT_TRUE(chainStatuses(reply).empty());
        }
    }
    EXPECT_EQ(target.connectionCount(), 0u) << "no refused address is ever connected to";
}

TEST(AddressPolicyWireTest, RedirectFromAnAllowedToARefusedAddressIsBlockedAtConnect) {
    ScriptedServer refused(ServerOptions{.tls = {}, .address = "127.0.0.3"});
    refused.setFallback(Exchange{kOk});
    ScriptedServer allowed(ServerOptions{.tls = {}, .address = "127.0.0.2"});
    allowed.addReply(redirectTo(refused.url("/inside")));
    allowed.addReply(kOk);
    status::ServiceSettings settings = testSettings();
    settings.engine.policy = status::AddressPolicy().allow("127.0.0.2");
    ServiceUnderTest service(settings);

    const auto redirected = service.check(allowed.url("/outside"));
    EXPECT_EQ(chainStatuses(redirected), std::vector<int>{302});
    EXPECT_EQ(replyCode(redirected), "EBLOCKED");
    EXPECT_EQ(std::string(redirected["response"]["chain"][0]["redirectUrl"].GetString()),
              refused.url("/inside"));

    EXPECT_EQ(replyCode(service.check(refused.url())), "EBLOCKED");
    const auto direct = service.check(allowed.url());
    EXPECT_EQ(chainStatuses(direct), std::vector<int>{200}) << "the allowed address still works";
    EXPECT_EQ(refused.connectionCount(), 0u);
}

// The host's own addresses are refused even where everything else of their kind would pass.
// Loopback shows it without any traffic beyond the host: 127.0.0.1 sits on the lo interface
// and 127.0.0.2 on none, so with both treated as public (allow()), only the interface's
// address is the host's own. The addresses come from the real interface list.
TEST(AddressPolicyWireTest, RefusesTheHostsOwnInterfaceAddresses) {
    ScriptedServer own;  // 127.0.0.1
    own.setFallback(Exchange{kOk});
    ScriptedServer other(ServerOptions{.tls = {}, .address = "127.0.0.2"});
    other.addReply(redirectTo(own.url("/own")));
    other.setFallback(Exchange{kOk});
    status::ServiceSettings settings = testSettings();
    settings.engine.policy = status::AddressPolicy().allow("127.0.0.1").allow("127.0.0.2");
    ServiceUnderTest service(settings);

    const auto redirected = service.check(other.url("/outside"));
    EXPECT_EQ(chainStatuses(redirected), std::vector<int>{302});
    EXPECT_EQ(replyCode(redirected), "EBLOCKED");
    EXPECT_EQ(replyCode(service.check(own.url())), "EBLOCKED");
    EXPECT_EQ(
        replyCode(service.check("http://[::ffff:127.0.0.1]:" + std::to_string(own.port()) + "/")),
        "EBLOCKED");
    EXPECT_EQ(chainStatuses(service.check(other.url())), std::vector<int>{200});
    EXPECT_EQ(own.connectionCount(), 0u);

    // --allow-private lifts the policy, the host's addresses included.
    ServiceUnderTest permissive;
    EXPECT_EQ(chainStatuses(permissive.check(own.url())), std::vector<int>{200});
}

TEST(AddressPolicyWireTest, AllowPrivateLetsLoopbackThroughAndIsLogged) {
    ScriptedServer target;
    target.addReply(kOk);
    ServiceUnderTest service;
    EXPECT_EQ(
        chainStatuses(service.check("http://localhost:" + std::to_string(target.port()) + "/")),
        std::vector<int>{200});
    const auto lines = service.logLines();
    ASSERT_FALSE(lines.empty());
    const std::string& line = lines.back();
    EXPECT_NE(line.find(" check client=127.0.0.1 url=http://localhost:"), std::string::npos)
        << line;
    EXPECT_NE(line.find(" code=- chain=200 duration_ms="), std::string::npos) << line;
}

// --- Malformed requests and limits ----------------------------------------------------------

TEST(StatusServiceTest, RefusesMalformedRequestsWithTheFittingStatus) {
    struct Case {
        const char* name;
        const char* method;
        const char* path;
        std::vector<std::string> headers;
        std::string body;
        long status;
        std::string message;
        std::string header = {};  // one header the reply must carry
    };
    const std::vector<std::string> json{"Content-Type: application/json"};
    const Case cases[] = {
        {"not JSON", "POST", "/v1/status", json, "hello", 400, "request body is not valid JSON"},
        {"empty body", "POST", "/v1/status", json, "", 400, "request body is not valid JSON"},
        {"array", "POST", "/v1/status", json, "[]", 400, "request body is not a JSON object"},
        {"no requestUrl", "POST", "/v1/status", json, "{}", 400, "requestUrl is missing"},
        {"number", "POST", "/v1/status", json, R"({"requestUrl":1})", 400,
         "requestUrl is not a string"},
        {"GET on the check", "GET", "/v1/status", {}, "", 405, "method not allowed", "Allow: POST"},
        {"PUT on the check", "PUT", "/v1/status", json, "{}", 405, "method not allowed",
         "Allow: POST"},
        {"POST on the health check", "POST", "/healthcheck", json, "{}", 405, "method not allowed",
         "Allow: GET, HEAD"},
        {"DELETE on metrics",
         "DELETE",
         "/metrics",
         {},
         "",
         405,
         "method not allowed",
         "Allow: GET, HEAD"},
        {"text body",
         "POST",
         "/v1/status",
         {"Content-Type: text/plain"},
         R"({"requestUrl":"x"})",
         415,
         "Content-Type must be application/json"},
        {"form body",
         "POST",
         "/v1/status",
         {"Content-Type: application/x-www-form-urlencoded"},
         "requestUrl=x",
         415,
         "Content-Type must be application/json"},
        {"JSON look-alike type",
         "POST",
         "/v1/status",
         {"Content-Type: application/jsonx"},
         R"({"requestUrl":"x"})",
         415,
         "Content-Type must be application/json"},
        {"body over 16 KiB", "POST", "/v1/status", json,
         R"({"requestUrl":"x","pad":")" + std::string(16384, 'a') + "\"}", 413,
         "request body exceeds 16384 bytes"},
        {"chunked body over 16 KiB",
         "POST",
         "/v1/status",
         {"Content-Type: application/json", "Transfer-Encoding: chunked"},
         R"({"requestUrl":"x","pad":")" + std::string(20000, 'a') + "\"}",
         413,
         "request body exceeds 16384 bytes"},
        {"unknown path", "GET", "/v2/status", {}, "", 404, "not found"},
        {"path with query", "POST", "/v1/status?x=1", json, "{}", 400, "requestUrl is missing"},
    };
    ServiceUnderTest service;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HttpReply reply = httpRequest(c.method, service.url(c.path), c.body, c.headers);
        EXPECT_EQ(reply.status, c.status) << reply.error;
        EXPECT_EQ(reply.body, R"({"error":{"status":)" + std::to_string(c.status) +
                                  R"(,"message":")" + c.message + "\"}}");
        EXPECT_NE(reply.headers.find("Content-Type: application/json"), std::string::npos);
        if (!c.header.empty()) {
            EXPECT_NE(reply.headers.find(c.header + "\r\n"), std::string::npos) << reply.headers;
        }
    }
}

TEST(StatusServiceTest, AcceptsABodyOfExactly16KiBAndAJsonContentTypeWithCharset) {
    ScriptedServer target;
    target.setFallback(Exchange{kOk});
    ServiceUnderTest service;
    std::string body = statusBody(target.url());
    body.insert(body.size() - 1, std::string(16384 - body.size(), ' '));
    ASSERT_EQ(body.size(), 16384u);
    const HttpReply reply =
        httpRequest("POST", service.url(), body, {"Content-Type: Application/JSON; charset=utf-8"});
    EXPECT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(chainStatuses(parseJson(reply.body)), std::vector<int>{200});
}

TEST(StatusServiceTest, LimitsChecksPerClientWith429) {
    ScriptedServer target;
    target.setFallback(Exchange{kOk});
    status::ServiceSettings settings = testSettings();
    settings.server.ratePerMinute = 2;
    ServiceUnderTest service(settings);
    EXPECT_EQ(service.post(target.url()).status, 200);
    EXPECT_EQ(service.post(target.url()).status, 200);
    const HttpReply limited = service.post(target.url());
    EXPECT_EQ(limited.status, 429);
    EXPECT_EQ(limited.body, R"({"error":{"status":429,"message":"rate limit exceeded"}})");
    EXPECT_NE(limited.headers.find("Retry-After: 30\r\n"), std::string::npos) << limited.headers;
    EXPECT_EQ(httpRequest("GET", service.url("/healthcheck"), "").status, 200)
        << "the health check is not rate limited";
    EXPECT_EQ(target.requests().size(), 2u);
}

TEST(StatusServiceTest, AnswersAtCapacityWith503AndRecoversAfterwards) {
    ScriptedServer silent;
    silent.setFallback(acting(Exchange::Action::Hang));
    ScriptedServer fast;
    fast.setFallback(Exchange{kOk});
    status::ServiceSettings settings = testSettings();
    settings.server.maxChecks = 1;
    settings.engine.checkTimeout = 1000ms;
    ServiceUnderTest service(settings);
    auto pending = std::async(std::launch::async, [&] { return service.post(silent.url()); });
    ASSERT_TRUE(silent.waitForRequests(1, 2s));
    const HttpReply refused = service.post(fast.url());
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(refused.body, R"({"error":{"status":503,"message":"too many checks in progress"}})");
    const std::string metrics = httpRequest("GET", service.url("/metrics"), "").body;
    EXPECT_NE(metrics.find("\nquelvar_status_checks_in_flight 1\n"), std::string::npos) << metrics;
    EXPECT_EQ(replyCode(parseJson(pending.get().body)), "ETIMEDOUT");
    EXPECT_EQ(service.post(fast.url()).status, 200);
}

TEST(StatusServiceTest, HoldsManyPendingChecksWhileStayingResponsive) {
    ScriptedServer silent;
    silent.setFallback(acting(Exchange::Action::Hang));
    status::ServiceSettings settings = testSettings();
    settings.engine.checkTimeout = 2000ms;
    ServiceUnderTest service(settings);
    std::vector<std::future<HttpReply>> pending;
    for (int i = 0; i < 20; ++i) {
        pending.push_back(
            std::async(std::launch::async, [&] { return service.post(silent.url()); }));
    }
    ASSERT_TRUE(silent.waitForRequests(20, 3s));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(httpRequest("GET", service.url("/healthcheck"), "").status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 500ms);
    for (auto& reply : pending) {
        EXPECT_EQ(replyCode(parseJson(reply.get().body)), "ETIMEDOUT");
    }
}

TEST(StatusServiceTest, ClosesIdleAndHalfSentConnections) {
    ServiceUnderTest service;
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(service.port());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string partial = "POST /v1/status HTTP/1.1\r\nHost: x\r\n";
    ASSERT_EQ(send(fd, partial.data(), partial.size(), 0), static_cast<ssize_t>(partial.size()));
    const auto started = std::chrono::steady_clock::now();
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    char buffer[256];
    EXPECT_LE(recv(fd, buffer, sizeof buffer, 0), 0) << "closed without a reply";
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s) << "idle time-out of 2 s";
    close(fd);
    EXPECT_EQ(httpRequest("GET", service.url("/healthcheck"), "").status, 200);
}

TEST(StatusServiceTest, ServesHealthAndMetrics) {
    ScriptedServer target;
    target.setFallback(Exchange{kOk});
    ServiceUnderTest service;
    service.check(target.url());
    service.check("http://127.0.0.1:" + std::to_string(refusingPort()) + "/");
    httpRequest("GET", service.url("/nothing"), "");
    const HttpReply health = httpRequest("GET", service.url("/healthcheck"), "");
    EXPECT_EQ(health.status, 200);
    EXPECT_EQ(health.body, R"({"status":"ok"})");
    EXPECT_EQ(httpRequest("HEAD", service.url("/healthcheck"), "").status, 200);
    const HttpReply metrics = httpRequest("GET", service.url("/metrics"), "");
    EXPECT_EQ(metrics.status, 200);
    EXPECT_NE(metrics.headers.find("Content-Type: text/plain; version=0.0.4"), std::string::npos);
    for (const char* line : {
             "# TYPE quelvar_status_checks_total counter\n",
             "quelvar_status_checks_total{code=\"none\"} 1\n",
             "quelvar_status_checks_total{code=\"ECONNREFUSED\"} 1\n",
             "quelvar_status_checks_in_flight 0\n",
             "quelvar_status_requests_rejected_total{status=\"404\"} 1\n",
             "# TYPE quelvar_status_check_duration_seconds histogram\n",
             "quelvar_status_check_duration_seconds_bucket{le=\"+Inf\"} 2\n",
             "quelvar_status_check_duration_seconds_count 2\n",
         }) {
        EXPECT_NE(metrics.body.find(line), std::string::npos) << line << metrics.body;
    }
}

TEST(StatusServiceTest, ServesHttpsWithItsCertificateAndAHealthOnlyListener) {
    status::ServiceSettings settings = testSettings();
    settings.server.tlsCertPem = pki().leaf.certPem;
    settings.server.tlsKeyPem = pki().leaf.keyPem;
    status::ServerSettings health = testSettings().server;
    health.routes = status::Routes::HealthOnly;
    settings.health = health;
    ScriptedServer target;
    target.setFallback(Exchange{kOk});
    ServiceUnderTest service(settings);
    const std::string base = "https://127.0.0.1:" + std::to_string(service.port());
    const HttpReply reply = httpRequest("POST", base + "/v1/status", statusBody(target.url()),
                                        {"Content-Type: application/json"}, pki().caFile);
    EXPECT_EQ(reply.status, 200) << reply.error;
    EXPECT_EQ(chainStatuses(parseJson(reply.body)), std::vector<int>{200});
    const std::string plain = "http://127.0.0.1:" + std::to_string(*service.service().healthPort());
    EXPECT_EQ(httpRequest("GET", plain + "/healthcheck", "").status, 200);
    EXPECT_EQ(httpRequest("POST", plain + "/v1/status", statusBody(target.url()),
                          {"Content-Type: application/json"})
                  .status,
              404)
        << "the health listener runs no checks";
}

TEST(StatusServiceTest, ShutdownAnswersRunningChecksAndStopsAccepting) {
    ScriptedServer slow;
    slow.setFallback(delayed(kOk, 400ms));
    ServiceUnderTest service;
    const std::string url = service.url();
    auto pending = std::async(std::launch::async, [&] { return service.post(slow.url()); });
    ASSERT_TRUE(slow.waitForRequests(1, 2s));
    EXPECT_TRUE(service.service().shutdown(5s));
    const HttpReply reply = pending.get();
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(chainStatuses(parseJson(reply.body)), std::vector<int>{200});
    EXPECT_NE(
        httpRequest("GET", url.substr(0, url.rfind('/')) + "/healthcheck", "", {}, {}, 1s).error,
        "")
        << "no longer accepting";
}
