#include "checks/CheckRun.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "http/RestClient.h"
#include "http/RestRequest.h"
#include "http/RestResponse.h"
#include "http/Url.h"
#include "tests/checks/HttpMessages.h"
#include "tests/checks/RecordingTab.h"
#include "tests/fixtures/Certificates.h"
#include "tests/fixtures/ScriptedServer.h"
#include "tests/fixtures/TestFiles.h"
#include "tests/http/ServiceTransport.h"
#include "tests/http/SocketTransport.h"

namespace quelvar {
namespace {

using namespace std::chrono_literals;
using test::Exchange;
using test::httpReply;
using test::parseRequest;
using test::RecordedRequest;
using test::RecordingTab;
using test::ScriptedServer;
using test::statusReply;

// An external address that only ever stands inside the status service's request body.
constexpr const char* kExternalField = "portal.invalid:10446";

constexpr const char* kExternalOk = "Conexão Externa - ok";
constexpr const char* kExternalError = "Conexão Externa - Erro";
constexpr const char* kServiceDown = "Serviço de teste de conexão externa fora do ar.";
constexpr const char* kProtocol = "Problema com protocolo HTTPS, verifique se está correto.";
constexpr const char* kTimedOut = "API não está respondendo";
constexpr const char* kExpired = "Certificado HTTPS está expirado.";
constexpr const char* kInternalOk = "Conexão Interna - ok";
constexpr const char* kInternalError = "Conexão Interna - Erro";

enum class Shown { None, Green, Red };

struct HalfOutcome {
    Shown shown;
    std::string line;  // empty: no line
};

const HalfOutcome kGreenOk{Shown::Green, kExternalOk};
const HalfOutcome kNoneDown{Shown::None, kServiceDown};
const HalfOutcome kRedError{Shown::Red, kExternalError};
const HalfOutcome kInternalGreen{Shown::Green, kInternalOk};
const HalfOutcome kInternalRed{Shown::Red, kInternalError};
const HalfOutcome kInternalNone{Shown::None, ""};

const Product& api() {
    return product(CheckKind::Api);
}
const Product& web() {
    return product(CheckKind::Web);
}
const Product& whats() {
    return product(CheckKind::Whats);
}

std::string chainReply(const std::string& firstStatusCode) {
    return statusReply(R"({"response":{"chain":[{"statusCode":)" + firstStatusCode +
                       R"(,"statusMessage":"x"}],"status":"done","code":""}})");
}

std::string codeReply(const std::string& codeMember) {
    return statusReply(R"({"response":{"chain":[],"status":"failed")" + codeMember + "}}");
}

// Returns the log box text a run leaves behind.
std::string expectedLog(const std::string& externalLine, const std::string& internalLine) {
    std::string log = "Testando Conexão Externa...\r\n" + externalLine +
                      "\r\n"
                      "-----------------------------\r\n"
                      "\r\n\r\n"
                      "Testando Conexão Interna...\r\n";
    if (!internalLine.empty()) {
        log += internalLine + "\r\n";
    }
    return log;
}

void expectIndicators(const RecordingTab& tab, Shown external, Shown internal) {
    EXPECT_EQ(tab.visible(Indicator::ExternalGreen), external == Shown::Green);
    EXPECT_EQ(tab.visible(Indicator::ExternalRed), external == Shown::Red);
    EXPECT_EQ(tab.visible(Indicator::InternalGreen), internal == Shown::Green);
    EXPECT_EQ(tab.visible(Indicator::InternalRed), internal == Shown::Red);
}

void expectOutcome(const RecordingTab& tab, const HalfOutcome& external,
                   const HalfOutcome& internal) {
    EXPECT_EQ(tab.log(), expectedLog(external.line, internal.line));
    expectIndicators(tab, external.shown, internal.shown);
}

// Checks one request of the status service: the POST of the body to /v1/status with exactly
// the service profile's headers.
void expectStatusPost(const std::string& bytes, const std::string& authority,
                      const std::string& body) {
    const RecordedRequest request = parseRequest(bytes);
    EXPECT_EQ(request.requestLine, "POST /v1/status HTTP/1.1");
    EXPECT_EQ(request.body, body);
    EXPECT_EQ(request.header("Host"), authority);
    EXPECT_EQ(request.header("Content-type"), "application/json");
    EXPECT_EQ(request.header("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(request.header("Accept"), "application/json, text/plain; q=0.9, text/html;q=0.8,");
    EXPECT_EQ(request.header("Accept-Charset"), "UTF-8, *;q=0.8");
    EXPECT_TRUE(request.header("User-Agent").has_value());
    // Besides these, only what the platform's transport adds of its own (WinHTTP's
    // Connection: Keep-Alive).
    const std::vector<std::string> transportHeaders = test::transportHeaders();
    for (const auto& [name, value] : request.headers) {
        const bool transports = std::find(transportHeaders.begin(), transportHeaders.end(),
                                          name + ": " + value) != transportHeaders.end();
        EXPECT_TRUE(name == "Host" || name == "Content-type" || name == "Content-Length" ||
                    name == "Accept" || name == "Accept-Charset" || name == "User-Agent" ||
                    transports)
            << "unexpected header " << name << ": " << value;
    }
}

// Checks the internal probe's GET: the request line and no body; the direct profile's has
// the Host header of B4, neither sends a content type.
void expectInternalGet(const std::string& bytes, const std::string& target,
                       const std::string& authority) {
    const RecordedRequest request = parseRequest(bytes);
    EXPECT_EQ(request.requestLine, "GET " + target + " HTTP/1.1");
    EXPECT_EQ(request.header("Host"), authority);
    EXPECT_FALSE(request.header("Content-type").has_value());
    EXPECT_FALSE(request.header("Content-Type").has_value());
    EXPECT_FALSE(request.header("Content-Length").has_value());
    EXPECT_EQ(request.body, "");
}

std::string bodyFor(const std::string& externalUrl) {
    return "{\"requestUrl\":\"" + externalUrl + "\"}";
}

// The window's members of the service profile, a recorded pause, and the status service and
// product server every run talks to. Time-outs are short so that a fault cannot stall a test.
class CheckRunTest : public testing::Test {
protected:
    CheckRunSettings settings(RecordingTab& tab) {
        CheckRunSettings s;
        s.statusEndpoint = m_statusService->url("/v1/status");
        s.directTimeouts = {5000ms, 5000ms};
        s.sleep = [this, &tab](std::chrono::milliseconds pause) {
            m_pauses.push_back(pause);
            m_requestsAtPause.push_back(m_productServer->requests().size());
            tab.note("pause");
        };
        return s;
    }

    ServiceProfile service() { return {m_client, m_request, m_response}; }

    // Runs the product's check on the tab and checks the pause it took.
    void run(const Product& p, RecordingTab& tab) {
        const std::size_t pausesBefore = m_pauses.size();
        runCheck(p, tab, service(), settings(tab));
        ASSERT_EQ(m_pauses.size(), pausesBefore + 1);
        EXPECT_EQ(m_pauses.back(), 1000ms);
        // The pause comes before the internal fetch.
        EXPECT_EQ(m_requestsAtPause.back(), m_productRequestsBefore);
    }

    // Returns a tab whose internal field points at the product server.
    RecordingTab productTab(bool https = false) {
        m_productRequestsBefore = m_productServer->requests().size();
        return RecordingTab(kExternalField, m_productServer->authority(), https);
    }

    std::string internalTarget(const Product& p) const {
        // The service profile drops the URL's final "/" (the WhatsApp suffix "/api-docs/").
        std::string target(p.pathSuffix);
        if (p.probe == ProbeProfile::Service) {
            target.pop_back();
        }
        return target;
    }

    std::unique_ptr<ScriptedServer> m_statusService = std::make_unique<ScriptedServer>();
    std::unique_ptr<ScriptedServer> m_productServer = std::make_unique<ScriptedServer>();
    RestClient m_client{RestClient::Timeouts{5000ms, 5000ms, 5000ms}};
    RestResponse m_response;
    RestRequest m_request{m_client, m_response};
    std::vector<std::chrono::milliseconds> m_pauses;
    std::vector<std::size_t> m_requestsAtPause;
    std::size_t m_productRequestsBefore = 0;
};

TEST(CheckRunSettingsTest, DefaultsToTheBuiltInEndpointAndOneSecondPause) {
    const CheckRunSettings settings;
    EXPECT_EQ(settings.statusEndpoint, defaultStatusEndpoint());
    EXPECT_EQ(settings.pause, 1000ms);
    EXPECT_FALSE(settings.sleep);

    // The endpoint the build was configured with is one the service profile can ask: an
    // https URL of a host, whose resource is the status service's route.
    const UrlParts parts = splitUrl(defaultStatusEndpoint());
    EXPECT_EQ(parts.scheme, "https") << defaultStatusEndpoint();
    EXPECT_FALSE(parts.host.empty()) << defaultStatusEndpoint();
    EXPECT_EQ(parts.path + parts.document, "/v1/status") << defaultStatusEndpoint();
    EXPECT_FALSE(parts.hasQuery || parts.hasFragment) << defaultStatusEndpoint();
}

TEST(ProductTest, HoldsTheThreeProducts) {
    struct Case {
        CheckKind kind;
        const char* name;
        const char* pathSuffix;
        ProbeProfile probe;
    };
    const Case cases[] = {
        {CheckKind::Api, "api", "/healthcheck", ProbeProfile::Direct},
        {CheckKind::Web, "web", "/lumora_web/loja", ProbeProfile::Direct},
        {CheckKind::Whats, "whats", "/api-docs/", ProbeProfile::Service},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Product& p = product(c.kind);
        EXPECT_EQ(p.kind, c.kind);
        EXPECT_EQ(p.name, c.name);
        EXPECT_EQ(p.pathSuffix, c.pathSuffix);
        EXPECT_EQ(p.probe, c.probe);
        EXPECT_EQ(findProduct(c.name), &p);
    }
    for (const char* name : {"API", "Web", " whats", "", "whatsapp"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(findProduct(name), nullptr);
    }
}

TEST(CheckUrlTest, JoinsSchemeFieldAndSuffixUnchanged) {
    struct Case {
        const char* name;
        bool https;
        const char* field;
        const char* suffix;
        const char* url;
    };
    const Case cases[] = {
        {"plain", false, "host:8080", "/lumora_web/loja", "http://host:8080/lumora_web/loja"},
        {"https", true, "host", "/healthcheck", "https://host/healthcheck"},
        {"field with a scheme", false, "https://host", "/healthcheck",
         "http://https://host/healthcheck"},
        {"blanks stay", false, " host ", "/api-docs/", "http:// host /api-docs/"},
        {"empty field", false, "", "/api-docs/", "http:///api-docs/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(checkUrl(c.https, c.field, c.suffix), c.url);
    }
}

TEST(StatusRequestBodyTest, WritesTheUrlAsJsonString) {
    struct Case {
        const char* name;
        std::string url;
        std::string body;
    };
    const Case cases[] = {
        {"ordinary URL byte for byte", "http://host:10446/healthcheck",
         R"({"requestUrl":"http://host:10446/healthcheck"})"},
        {"empty", "", R"({"requestUrl":""})"},
        {"quotation mark", "http://a\"b/x", R"({"requestUrl":"http://a\"b/x"})"},
        {"backslash", "http://a\\b/x", R"({"requestUrl":"http://a\\b/x"})"},
        {"injected member", "x\",\"admin\":\"1", R"({"requestUrl":"x\",\"admin\":\"1"})"},
        {"short escapes", "\b\f\n\r\t", R"({"requestUrl":"\b\f\n\r\t"})"},
        {"other control characters", std::string("\x01\x1f", 2) + std::string(1, '\0'),
         R"({"requestUrl":"\u0001\u001f\u0000"})"},
        {"solidus, DEL and non-ASCII unchanged", "/\x7f\xc3\xa7",
         "{\"requestUrl\":\"/\x7f\xc3\xa7\"}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(statusRequestBody(c.url), c.body);
    }
}

// One case of the decision table: what the status service does and the external verdict it
// gives on each tab.
struct DecisionCase {
    const char* name;
    std::optional<Exchange> answer;  // nothing: the service cannot be reached
    HalfOutcome api;
    HalfOutcome web;
    HalfOutcome whats;
};

const std::vector<DecisionCase>& decisionCases() {
    static const std::vector<DecisionCase> cases = {
        {"A: status 500", Exchange{httpReply(500, "Internal Server Error", "{}")}, kNoneDown,
         kNoneDown, kNoneDown},
        {"A: status 404", Exchange{httpReply(404, "Not Found", "missing")}, kNoneDown, kNoneDown,
         kNoneDown},
        {"A: status 204", Exchange{httpReply(204, "No Content")}, kNoneDown, kNoneDown, kNoneDown},
        {"A: status 201 with a green reply",
         Exchange{httpReply(201, "Created", R"({"response":{"chain":[{"statusCode":"200"}]}})")},
         kNoneDown, kNoneDown, kNoneDown},
        {"B: first statusCode \"200\"", Exchange{chainReply(R"("200")")}, kGreenOk, kGreenOk,
         kGreenOk},
        {"B: first statusCode the number 200", Exchange{chainReply("200")}, kGreenOk, kGreenOk,
         kGreenOk},
        {"B: only the first entry counts",
         Exchange{
             statusReply(R"({"response":{"chain":[{"statusCode":"200"},{"statusCode":"500"}]}})")},
         kGreenOk, kGreenOk, kGreenOk},
        {"B: a member beyond a double's range is ignored",
         Exchange{statusReply(R"({"x":1e400,"response":{"chain":[{"statusCode":200}]}})")},
         kGreenOk, kGreenOk, kGreenOk},
        {"C: statusCode beyond a double's range", Exchange{chainReply("1e309")}, kNoneDown,
         kRedError, kNoneDown},
        {"C: 301 before 200",
         Exchange{
             statusReply(R"({"response":{"chain":[{"statusCode":"301"},{"statusCode":"200"}]}})")},
         kNoneDown, kRedError, kNoneDown},
        {"C: the number 200.0", Exchange{chainReply("200.0")}, kNoneDown, kRedError, kNoneDown},
        {"C: \"200\" with a blank", Exchange{chainReply(R"("200 ")")}, kNoneDown, kRedError,
         kNoneDown},
        {"C: statusCode absent",
         Exchange{statusReply(R"({"response":{"chain":[{"statusMessage":"OK"}]}})")}, kNoneDown,
         kRedError, kNoneDown},
        {"C: a chain code does not matter",
         Exchange{statusReply(R"({"response":{"chain":[{"statusCode":"404"}],"code":"EPROTO"}})")},
         kNoneDown, kRedError, kNoneDown},
        {"D: EPROTO",
         Exchange{codeReply(R"(,"code":"EPROTO")")},
         {Shown::Red, kProtocol},
         {Shown::Red, kProtocol},
         {Shown::Red, kProtocol}},
        {"D: EPROTO with a null chain",
         Exchange{statusReply(R"({"response":{"chain":null,"code":"EPROTO"}})")},
         {Shown::Red, kProtocol},
         {Shown::Red, kProtocol},
         {Shown::Red, kProtocol}},
        {"E: ETIMEDOUT",
         Exchange{codeReply(R"(,"code":"ETIMEDOUT")")},
         {Shown::Red, kTimedOut},
         {Shown::Red, kTimedOut},
         {Shown::Red, kTimedOut}},
        {"F: CERT_HAS_EXPIRED",
         Exchange{codeReply(R"(,"code":"CERT_HAS_EXPIRED")")},
         {Shown::Red, kExpired},
         {Shown::Red, kExpired},
         {Shown::Red, kExpired}},
        {"G: eproto in lower case", Exchange{codeReply(R"(,"code":"eproto")")}, kNoneDown,
         kNoneDown, kNoneDown},
        {"G: another code", Exchange{codeReply(R"(,"code":"ECONNREFUSED")")}, kNoneDown, kNoneDown,
         kNoneDown},
        {"G: no code", Exchange{codeReply("")}, kNoneDown, kNoneDown, kNoneDown},
        {"G: empty response", Exchange{statusReply(R"({"response":{}})")}, kNoneDown, kNoneDown,
         kNoneDown},
        {"H: not JSON", Exchange{statusReply("<html>busy</html>")}, kRedError, kRedError,
         kRedError},
        {"H: no response member", Exchange{statusReply(R"({"result":{"chain":[]}})")}, kRedError,
         kRedError, kRedError},
        {"H: null response", Exchange{statusReply(R"({"response":null})")}, kRedError, kRedError,
         kRedError},
        {"H: response absorbed by a failing entry",
         Exchange{statusReply(R"({"response":{"chain":[{"statusCode":true}]}})")}, kRedError,
         kRedError, kRedError},
        {"H: response a string", Exchange{statusReply(R"({"response":"ok"})")}, kRedError,
         kRedError, kRedError},
        {"H: first entry absent",
         Exchange{statusReply(R"({"response":{"chain":[null,{"statusCode":"200"}]}})")}, kRedError,
         kRedError, kRedError},
        {"H: connection closed without reply", Exchange{"", Exchange::Action::Close}, kRedError,
         kRedError, kRedError},
        {"H: connection reset", Exchange{"", Exchange::Action::Reset}, kRedError, kRedError,
         kRedError},
        {"H: service unreachable", std::nullopt, kRedError, kRedError, kRedError},
        // The mapping would see cut JSON, so the profile fails the reply instead.
        {"H: reply that never ends",
         Exchange{.reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n"
                           R"({"response":{"chain":[{"statusCode":"200"}]})",
                  .endlessBody = std::string(65536, ' ')},
         kRedError, kRedError, kRedError},
    };
    return cases;
}

TEST_F(CheckRunTest, DecidesTheExternalVerdictOnEveryTab) {
    for (const DecisionCase& c : decisionCases()) {
        for (const Product* p : {&api(), &web(), &whats()}) {
            SCOPED_TRACE(std::string(c.name) + " on " + std::string(p->name));
            m_statusService = std::make_unique<ScriptedServer>();
            m_productServer = std::make_unique<ScriptedServer>();
            m_productServer->addReply(httpReply(200, "OK", "alive"));
            if (c.answer) {
                m_statusService->add(*c.answer);
            }
            RecordingTab tab = productTab();
            if (c.answer) {
                run(*p, tab);
            } else {
                // A port on which nothing listens.
                CheckRunSettings unreachable = settings(tab);
                unreachable.statusEndpoint =
                    "http://127.0.0.1:" + std::to_string(test::refusingPort()) + "/v1/status";
                runCheck(*p, tab, service(), unreachable);
                EXPECT_EQ(m_pauses.back(), 1000ms);
            }

            const HalfOutcome& external = p->kind == CheckKind::Api   ? c.api
                                          : p->kind == CheckKind::Web ? c.web
                                                                      : c.whats;
            expectOutcome(tab, external, kInternalGreen);

            const auto statusRequests = m_statusService->requests();
            if (c.answer) {
                ASSERT_EQ(statusRequests.size(), 1u);
                expectStatusPost(
                    statusRequests[0], m_statusService->authority(),
                    bodyFor("http://" + std::string(kExternalField) + std::string(p->pathSuffix)));
            } else {
                EXPECT_TRUE(statusRequests.empty());
            }
            const auto productRequests = m_productServer->requests();
            ASSERT_EQ(productRequests.size(), 1u);
            expectInternalGet(productRequests[0], internalTarget(*p), m_productServer->authority());
        }
    }
}

// One internal probe: what the product server does and the verdict through each profile.
struct ProbeCase {
    const char* name;
    std::vector<Exchange> answers;  // empty: nothing listens
    HalfOutcome direct;
    HalfOutcome service;
};

TEST_F(CheckRunTest, GivesTheInternalVerdictOfEachProfile) {
    const std::vector<ProbeCase> cases = {
        {"200",
         {Exchange{httpReply(200, "OK", "<html>up</html>")}},
         kInternalGreen,
         kInternalGreen},
        {"200 without a body", {Exchange{httpReply(200, "OK")}}, kInternalGreen, kInternalGreen},
        {"204", {Exchange{httpReply(204, "No Content")}}, kInternalNone, kInternalNone},
        {"202", {Exchange{httpReply(202, "Accepted", "queued")}}, kInternalNone, kInternalNone},
        {"404", {Exchange{httpReply(404, "Not Found", "no")}}, kInternalRed, kInternalNone},
        {"500",
         {Exchange{httpReply(500, "Internal Server Error", "boom")}},
         kInternalRed,
         kInternalNone},
        {"503", {Exchange{httpReply(503, "Service Unavailable")}}, kInternalRed, kInternalNone},
        {"301 followed only by the service profile",
         {Exchange{httpReply(301, "Moved Permanently", "", "Location: /moved\r\n")},
          Exchange{httpReply(200, "OK", "moved")}},
         kInternalRed,
         kInternalGreen},
        {"closed without reply",
         {Exchange{"", Exchange::Action::Close}},
         kInternalRed,
         kInternalRed},
        {"reset", {Exchange{"", Exchange::Action::Reset}}, kInternalRed, kInternalRed},
        {"nothing listens", {}, kInternalRed, kInternalRed},
        // Only the status is judged, so the body is cut instead of waited for.
        {"200 with a body that never ends",
         {Exchange{.reply = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n",
                   .endlessBody = std::string(65536, 'x')}},
         kInternalGreen,
         kInternalGreen},
    };
    for (const ProbeCase& c : cases) {
        for (const Product* p : {&api(), &web(), &whats()}) {
            SCOPED_TRACE(std::string(c.name) + " on " + std::string(p->name));
            m_statusService = std::make_unique<ScriptedServer>();
            m_statusService->addReply(chainReply(R"("200")"));
            m_productServer = std::make_unique<ScriptedServer>();
            for (const Exchange& answer : c.answers) {
                m_productServer->add(answer);
            }
            RecordingTab tab =
                c.answers.empty()
                    ? RecordingTab(kExternalField,
                                   "127.0.0.1:" + std::to_string(test::refusingPort()), false)
                    : productTab();
            run(*p, tab);
            expectOutcome(tab, kGreenOk, p->probe == ProbeProfile::Direct ? c.direct : c.service);
            if (!c.answers.empty()) {
                const auto requests = m_productServer->requests();
                ASSERT_GE(requests.size(), 1u);
                expectInternalGet(requests[0], internalTarget(*p), m_productServer->authority());
                // The direct profile never follows a redirect.
                EXPECT_EQ(requests.size(),
                          p->probe == ProbeProfile::Direct ? 1u : c.answers.size());
            }
        }
    }
}

// Each half reports what led to its verdict just after the verdict: the deciding value, or
// the message of the error that ended the half, as the error wrote it.
TEST_F(CheckRunTest, ReportsEachHalfsCauseAfterItsVerdict) {
    m_statusService->addReply(chainReply("301"));
    m_productServer->addReply(httpReply(204, "No Content"));
    RecordingTab decided = productTab();
    run(web(), decided);
    EXPECT_EQ(decided.causes(), (std::vector<std::string>{
                                    R"(external: first chain statusCode is "301")",
                                    "after line:Conexão Externa - Erro",
                                    "internal: reply status 204",
                                    // A blank verdict: the pause was the last event.
                                    "after pause",
                                }));

    m_statusService->addReply(httpReply(200, "OK", R"({"response":{"code":"EPROTO"}})"));
    RecordingTab failed(kExternalField, "127.0.0.1:" + std::to_string(test::refusingPort()), false);
    m_productRequestsBefore = m_productServer->requests().size();
    run(api(), failed);
    EXPECT_EQ(failed.causes(), (std::vector<std::string>{
                                   R"(external: chain is empty and code is "EPROTO")",
                                   "after line:Problema com protocolo HTTPS, verifique se está "
                                   "correto.",
                                   "internal: " + test::socketFailure(test::SocketFailure::Refused),
                                   "after line:Conexão Interna - Erro",
                               }));
}

TEST_F(CheckRunTest, EmptyInternalFieldGivesTheInternalError) {
    for (const Product* p : {&api(), &web(), &whats()}) {
        SCOPED_TRACE(p->name);
        m_statusService->addReply(chainReply(R"("200")"));
        RecordingTab tab(kExternalField, "", false);
        m_productRequestsBefore = m_productServer->requests().size();
        run(*p, tab);
        expectOutcome(tab, kGreenOk, kInternalRed);
    }
    EXPECT_TRUE(m_productServer->requests().empty());
}

TEST_F(CheckRunTest, ExternalErrorLeavesTheInternalProbeToRun) {
    m_statusService->add(Exchange{"", Exchange::Action::Close});
    m_productServer->addReply(httpReply(200, "OK", "up"));
    RecordingTab tab = productTab();
    run(web(), tab);
    expectOutcome(tab, kRedError, kInternalGreen);
}

// A wrong quelvar.ini: every external check fails with the file's message and asks no one;
// the internal probe of each profile runs as usual.
TEST_F(CheckRunTest, AnEndpointFaultFailsTheExternalCheckOnly) {
    const std::string fault =
        "quelvar.ini, line 2: \"https://x/\" is not a host; write only the host and an "
        "optional port";
    for (const Product* p : {&api(), &web(), &whats()}) {
        SCOPED_TRACE(p->name);
        m_productServer->addReply(httpReply(200, "OK", "up"));
        RecordingTab tab = productTab();
        CheckRunSettings s = settings(tab);
        s.statusEndpointFault = fault;
        runCheck(*p, tab, service(), s);
        expectOutcome(tab, kRedError, kInternalGreen);
        EXPECT_EQ(tab.causes().front(), "external: " + fault);
    }
    EXPECT_TRUE(m_statusService->requests().empty());
}

TEST_F(CheckRunTest, BuildsBothUrlsFromTheBoxFieldAndSuffix) {
    struct Case {
        const char* name;
        const Product& product;
        const char* externalField;
        const char* externalUrl;
    };
    const Case cases[] = {
        {"web", web(), "portal.invalid:8080", "http://portal.invalid:8080/lumora_web/loja"},
        {"a field with its own scheme", api(), "https://portal.invalid",
         "http://https://portal.invalid/healthcheck"},
        {"blanks stay inside", whats(), " portal.invalid ", "http:// portal.invalid /api-docs/"},
        {"a quotation mark and a backslash", api(), "a\"b\\c", R"(http://a\"b\\c/healthcheck)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_statusService = std::make_unique<ScriptedServer>();
        m_statusService->addReply(chainReply(R"("200")"));
        m_productServer = std::make_unique<ScriptedServer>();
        m_productServer->addReply(httpReply(200, "OK"));
        RecordingTab tab(c.externalField, m_productServer->authority(), false);
        m_productRequestsBefore = 0;
        run(c.product, tab);
        expectOutcome(tab, kGreenOk, kInternalGreen);
        const auto statusRequests = m_statusService->requests();
        ASSERT_EQ(statusRequests.size(), 1u);
        expectStatusPost(statusRequests[0], m_statusService->authority(), bodyFor(c.externalUrl));
        const auto productRequests = m_productServer->requests();
        ASSERT_EQ(productRequests.size(), 1u);
        expectInternalGet(productRequests[0], internalTarget(c.product),
                          m_productServer->authority());
        // Each field once, the box once per URL; nothing is written back.
        EXPECT_EQ(tab.externalReads(), 1);
        EXPECT_EQ(tab.internalReads(), 1);
        EXPECT_EQ(tab.httpsReads(), 2);
    }
}

TEST_F(CheckRunTest, HttpsBoxGivesHttpsToBothUrls) {
    const test::Certificate certificate = test::makeCertificate();
    for (const Product* p : {&api(), &web(), &whats()}) {
        SCOPED_TRACE(p->name);
        m_statusService->addReply(chainReply(R"("200")"));
        // TLS 1.0 stays on offer for the direct profile.
        m_productServer = std::make_unique<ScriptedServer>(
            test::TlsSettings{certificate.certPem, certificate.keyPem, TLS1_VERSION, 0});
        m_productServer->addReply(httpReply(200, "OK", "secure"));
        RecordingTab tab = productTab(true);
        run(*p, tab);
        expectOutcome(tab, kGreenOk, kInternalGreen);
        const auto statusRequests = m_statusService->requests();
        ASSERT_FALSE(statusRequests.empty());
        expectStatusPost(
            statusRequests.back(), m_statusService->authority(),
            bodyFor("https://" + std::string(kExternalField) + std::string(p->pathSuffix)));
        const auto productRequests = m_productServer->requests();
        ASSERT_EQ(productRequests.size(), 1u);
        expectInternalGet(productRequests[0], internalTarget(*p), m_productServer->authority());
    }
}

TEST_F(CheckRunTest, AsksAStatusServiceOverTlsWithASelfSignedCertificate) {
    const test::Certificate certificate = test::makeCertificate();
    m_statusService = std::make_unique<ScriptedServer>(
        test::TlsSettings{certificate.certPem, certificate.keyPem});
    ASSERT_EQ(m_statusService->url("/v1/status").rfind("https://", 0), 0u);
    for (const Product* p : {&api(), &web(), &whats()}) {
        SCOPED_TRACE(p->name);
        m_statusService->addReply(codeReply(R"(,"code":"CERT_HAS_EXPIRED")"));
        m_productServer->addReply(httpReply(200, "OK"));
        RecordingTab tab = productTab();
        run(*p, tab);
        expectOutcome(tab, {Shown::Red, kExpired}, kInternalGreen);
        const auto statusRequests = m_statusService->requests();
        ASSERT_FALSE(statusRequests.empty());
        expectStatusPost(
            statusRequests.back(), m_statusService->authority(),
            bodyFor("http://" + std::string(kExternalField) + std::string(p->pathSuffix)));
    }
}

TEST_F(CheckRunTest, WhatsAppRunLeavesNothingForTheNextStatusRequest) {
    m_statusService->addReply(chainReply(R"("200")"));
    m_statusService->addReply(chainReply(R"("200")"));
    m_productServer->addReply(httpReply(200, "OK"));
    m_productServer->addReply(httpReply(200, "OK"));

    RecordingTab whatsTab = productTab();
    run(whats(), whatsTab);
    expectOutcome(whatsTab, kGreenOk, kInternalGreen);
    // The service profile stays set for the internal GET.
    EXPECT_EQ(m_client.baseURL(), "http://" + m_productServer->authority() + "/api-docs");
    EXPECT_EQ(m_request.method(), RestMethod::Get);
    EXPECT_TRUE(m_request.parameters().empty());
    EXPECT_EQ(m_client.contentType(), "");

    RecordingTab apiTab = productTab();
    run(api(), apiTab);
    expectOutcome(apiTab, kGreenOk, kInternalGreen);

    const auto statusRequests = m_statusService->requests();
    ASSERT_EQ(statusRequests.size(), 2u);
    expectStatusPost(statusRequests[0], m_statusService->authority(),
                     bodyFor("http://" + std::string(kExternalField) + "/api-docs/"));
    expectStatusPost(statusRequests[1], m_statusService->authority(),
                     bodyFor("http://" + std::string(kExternalField) + "/healthcheck"));
    const auto productRequests = m_productServer->requests();
    ASSERT_EQ(productRequests.size(), 2u);
    expectInternalGet(productRequests[0], "/api-docs", m_productServer->authority());
    expectInternalGet(productRequests[1], "/healthcheck", m_productServer->authority());
    EXPECT_EQ(m_request.method(), RestMethod::Post);
    ASSERT_EQ(m_request.parameters().size(), 1u);
    EXPECT_EQ(m_request.parameters()[0].name, "body");
    EXPECT_EQ(m_request.parameters()[0].encoding, ParameterEncoding::DoNotEncode);
    EXPECT_EQ(m_request.parameters()[0].contentType, "application/json");
}

TEST_F(CheckRunTest, StatusRequestDropsEarlierParameters) {
    m_statusService->addReply(chainReply(R"("200")"));
    m_productServer->addReply(httpReply(200, "OK"));
    m_request.addParameter(RestParameter{"stale", "left over", ParameterKind::RequestBody,
                                         ParameterEncoding::DoNotEncode, "text/plain"});
    m_client.setContentType("text/plain");
    RecordingTab tab = productTab();
    run(web(), tab);
    expectOutcome(tab, kGreenOk, kInternalGreen);
    ASSERT_EQ(m_request.parameters().size(), 1u);
    EXPECT_EQ(m_request.parameters()[0].name, "body");
    const auto statusRequests = m_statusService->requests();
    ASSERT_EQ(statusRequests.size(), 1u);
    expectStatusPost(statusRequests[0], m_statusService->authority(),
                     bodyFor("http://" + std::string(kExternalField) + "/lumora_web/loja"));
}

TEST_F(CheckRunTest, EveryRunStartsFromAnEmptyLogAndHiddenIndicators) {
    m_statusService->add(Exchange{"", Exchange::Action::Close});
    m_statusService->addReply(chainReply(R"("200")"));
    m_productServer->addReply(httpReply(200, "OK"));
    m_productServer->addReply(httpReply(404, "Not Found"));

    RecordingTab tab = productTab();
    run(api(), tab);
    expectOutcome(tab, kRedError, kInternalGreen);
    m_productRequestsBefore = m_productServer->requests().size();
    run(api(), tab);
    expectOutcome(tab, kGreenOk, kInternalRed);

    const std::vector<std::string> expected = {
        "clear",
        "hide:ExternalGreen",
        "hide:ExternalRed",
        "hide:InternalGreen",
        "hide:InternalRed",
        "line:Testando Conexão Externa...",
        "show:ExternalGreen",
        "line:Conexão Externa - ok",
        "line:-----------------------------",
        "line:\r\n",
        "line:Testando Conexão Interna...",
        "pause",
        "show:InternalRed",
        "line:Conexão Interna - Erro",
    };
    ASSERT_EQ(tab.events().size(), 28u);
    EXPECT_EQ(std::vector<std::string>(tab.events().begin() + 14, tab.events().end()), expected);
}

TEST_F(CheckRunTest, WithoutASleepFunctionTheRunSleepsThePause) {
    m_statusService->addReply(chainReply(R"("200")"));
    m_productServer->addReply(httpReply(200, "OK"));
    RecordingTab tab = productTab();
    CheckRunSettings s = settings(tab);
    s.sleep = nullptr;
    s.pause = 50ms;
    const auto start = std::chrono::steady_clock::now();
    runCheck(api(), tab, service(), s);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
    expectOutcome(tab, kGreenOk, kInternalGreen);
}

TEST_F(CheckRunTest, AFailingPauseIsAnInternalError) {
    m_statusService->addReply(chainReply(R"("200")"));
    RecordingTab tab = productTab();
    CheckRunSettings s = settings(tab);
    s.sleep = [](std::chrono::milliseconds) { throw std::runtime_error("interrupted"); };
    runCheck(whats(), tab, service(), s);
    expectOutcome(tab, kGreenOk, kInternalRed);
    EXPECT_TRUE(m_productServer->requests().empty());
}

}  // namespace
}  // namespace quelvar
