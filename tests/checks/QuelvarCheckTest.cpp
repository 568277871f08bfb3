#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/checks/HttpMessages.h"
#include "tests/checks/ProgramRun.h"
#include "tests/fixtures/Certificates.h"
#include "tests/fixtures/ScriptedServer.h"
#include "tests/fixtures/TestFiles.h"

namespace quelvar {
namespace {

using namespace std::chrono_literals;
using test::Exchange;
using test::httpReply;
using test::parseRequest;
using test::runProgram;
using test::ScriptedServer;
using test::statusReply;

// Every run takes the real one-second pause; the limit bounds a fault, not the run.
constexpr std::chrono::milliseconds kLimit = 20000ms;

const std::string kGreenReply = statusReply(R"({"response":{"chain":[{"statusCode":200}]}})");

test::ProgramResult check(const std::vector<std::string>& arguments) {
    return runProgram(QUELVAR_CHECK_PROGRAM, arguments, kLimit);
}

// Returns the output of a run: the log lines, the CR LF line as two empty lines, then the
// indicator states.
std::string expectedOutput(const std::string& externalLine, const std::string& internalLine,
                           const std::string& external, const std::string& internal) {
    std::string out = "Testando Conexão Externa...\n" + externalLine +
                      "\n"
                      "-----------------------------\n"
                      "\n"
                      "\n"
                      "Testando Conexão Interna...\n";
    if (!internalLine.empty()) {
        out += internalLine + "\n";
    }
    return out + "[external] " + external + "\n[internal] " + internal + "\n";
}

TEST(QuelvarCheckTest, ApiRunBothGreen) {
    ScriptedServer statusService;
    statusService.addReply(kGreenReply);
    ScriptedServer apiServer;
    apiServer.addReply(httpReply(200, "OK", "healthy"));

    const auto result =
        check({"api", "--external", "portal.invalid:10446", "--internal", apiServer.authority(),
               "--status-url", statusService.url("/v1/status")});
    EXPECT_EQ(result.out,
              expectedOutput("Conexão Externa - ok", "Conexão Interna - ok", "green", "green"));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitStatus, 0);

    const auto statusRequests = statusService.requests();
    ASSERT_EQ(statusRequests.size(), 1u);
    const auto post = parseRequest(statusRequests[0]);
    EXPECT_EQ(post.requestLine, "POST /v1/status HTTP/1.1");
    EXPECT_EQ(post.header("Content-type"), "application/json");
    EXPECT_EQ(post.body, R"({"requestUrl":"http://portal.invalid:10446/healthcheck"})");
    const auto apiRequests = apiServer.requests();
    ASSERT_EQ(apiRequests.size(), 1u);
    EXPECT_EQ(parseRequest(apiRequests[0]).requestLine, "GET /healthcheck HTTP/1.1");
}

TEST(QuelvarCheckTest, WebRunOverHttpsWithBothHalvesRed) {
    const test::Certificate certificate = test::makeCertificate();
    ScriptedServer statusService(test::TlsSettings{certificate.certPem, certificate.keyPem});
    // A first status other than "200" is red on the web tab only.
    statusService.addReply(statusReply(R"({"response":{"chain":[{"statusCode":"301"}]}})"));

    const auto result = check({"web", "--https", "--external=portal.invalid", "--internal",
                               "127.0.0.1:" + std::to_string(test::unusedPort()), "--status-url",
                               statusService.url("/v1/status")});
    EXPECT_EQ(result.out,
              expectedOutput("Conexão Externa - Erro", "Conexão Interna - Erro", "red", "red"));
    EXPECT_EQ(result.exitStatus, 1);
    const auto statusRequests = statusService.requests();
    ASSERT_EQ(statusRequests.size(), 1u);
    EXPECT_EQ(parseRequest(statusRequests[0]).body,
              R"({"requestUrl":"https://portal.invalid/lumora_web/loja"})");
}

TEST(QuelvarCheckTest, WhatsRunWithBlankVerdicts) {
    ScriptedServer statusService;
    statusService.addReply(httpReply(503, "Service Unavailable"));
    ScriptedServer whatsServer;
    whatsServer.addReply(httpReply(204, "No Content"));

    const auto result = check({"--internal", whatsServer.authority(), "whats", "--external",
                               "a\"b\\c", "--status-url", statusService.url("/v1/status")});
    EXPECT_EQ(result.out, expectedOutput("Serviço de teste de conexão externa fora do ar.", "",
                                         "none", "none"));
    EXPECT_EQ(result.exitStatus, 1);
    const auto statusRequests = statusService.requests();
    ASSERT_EQ(statusRequests.size(), 1u);
    EXPECT_EQ(parseRequest(statusRequests[0]).body, R"({"requestUrl":"http://a\"b\\c/api-docs/"})");
    const auto whatsRequests = whatsServer.requests();
    ASSERT_EQ(whatsRequests.size(), 1u);
    EXPECT_EQ(parseRequest(whatsRequests[0]).requestLine, "GET /api-docs HTTP/1.1");
}

TEST(QuelvarCheckTest, OmittedFieldsAreEmpty) {
    ScriptedServer statusService;
    statusService.addReply(kGreenReply);
    const auto result = check({"web", "--status-url", statusService.url("/v1/status")});
    EXPECT_EQ(result.out,
              expectedOutput("Conexão Externa - ok", "Conexão Interna - Erro", "green", "red"));
    EXPECT_EQ(result.exitStatus, 1);
    const auto statusRequests = statusService.requests();
    ASSERT_EQ(statusRequests.size(), 1u);
    EXPECT_EQ(parseRequest(statusRequests[0]).body, R"({"requestUrl":"http:///lumora_web/loja"})");
}

TEST(QuelvarCheckTest, ApiRunFromASettingsFile) {
    ScriptedServer statusService;
    statusService.addReply(kGreenReply);
    ScriptedServer apiServer;
    apiServer.addReply(httpReply(200, "OK"));
    const test::TempDir dir;
    const std::string config = dir.write("config.js",
                                         "const USA_HTTPS = false;\r\n"
                                         "const IP_EXTERNO = 'portal.invalid:10446';\r\n"
                                         "const IP_INTERNO = '" +
                                             apiServer.authority() + "';\r\n");

    const auto result =
        check({"api", "--config", config, "--status-url", statusService.url("/v1/status")});
    EXPECT_EQ(result.out,
              expectedOutput("Conexão Externa - ok", "Conexão Interna - ok", "green", "green"));
    EXPECT_EQ(result.exitStatus, 0);
    const auto statusRequests = statusService.requests();
    ASSERT_EQ(statusRequests.size(), 1u);
    EXPECT_EQ(parseRequest(statusRequests[0]).body,
              R"({"requestUrl":"http://portal.invalid:10446/healthcheck"})");
    EXPECT_EQ(apiServer.requests().size(), 1u);
}

TEST(QuelvarCheckTest, UnreadableSettingsFileRunsNothing) {
    ScriptedServer statusService;
    const test::TempDir dir;
    const std::string missing = dir.path() + "/config.js";
    const auto result =
        check({"api", "--config", missing, "--status-url", statusService.url("/v1/status")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("quelvar-check: Cannot open file \"" + missing + "\". ", 0), 0u)
        << result.err;
    EXPECT_TRUE(statusService.requests().empty());
}

// With --verbose each half's cause follows its verdict on standard error, one line each;
// standard output stays as without it. A cause ending in "..." is compared up to there.
TEST(QuelvarCheckTest, VerbosePrintsEachHalfsCause) {
    struct Case {
        const char* name;
        const char* product;
        std::optional<std::string> statusAnswer;    // nothing: no status service listens
        std::optional<std::string> internalAnswer;  // nothing: the internal port refuses
        std::string externalCause;
        std::string internalCause;
    };
    const Case cases[] = {
        {"both green", "api", kGreenReply, httpReply(200, "OK"),
         R"(first chain statusCode is "200")", "reply status 200"},
        {"first statusCode on the web tab", "web",
         statusReply(R"({"response":{"chain":[{"statusCode":301},{"statusCode":200}]}})"),
         httpReply(200, "OK"), R"(first chain statusCode is "301")", "reply status 200"},
        {"status service down, internal refused", "web", httpReply(503, "Service Unavailable"),
         std::nullopt, "status service replied with status 503",
         "Socket Error # 111 Connection refused"},
        {"service code, blank internal verdict", "whats",
         statusReply(R"({"response":{"chain":[],"code":"ETIMEDOUT"}})"),
         httpReply(204, "No Content"), R"(chain is empty and code is "ETIMEDOUT")",
         "reply status 204"},
        {"mapping error with line breaks flattened", "api", statusReply(R"({"response":"a\r\nb"})"),
         httpReply(500, "Internal Server Error"),
         "Internal: Value a b cannot be converted to be assigned to field response in type "
         "TRetornoTesteExterno",
         "HTTP/1.1 500 Internal Server Error"},
        {"both unreachable through the service profile", "whats", std::nullopt, std::nullopt,
         "REST request failed: ...", "REST request failed: ..."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer statusService;
        if (c.statusAnswer) {
            statusService.addReply(*c.statusAnswer);
        }
        ScriptedServer internalServer;
        if (c.internalAnswer) {
            internalServer.addReply(*c.internalAnswer);
        }
        const std::string statusUrl =
            c.statusAnswer
                ? statusService.url("/v1/status")
                : "http://127.0.0.1:" + std::to_string(test::unusedPort()) + "/v1/status";
        const std::string internal = c.internalAnswer
                                         ? internalServer.authority()
                                         : "127.0.0.1:" + std::to_string(test::unusedPort());
        const std::vector<std::string> arguments = {c.product,    "--external", "portal.invalid",
                                                    "--internal", internal,     "--status-url",
                                                    statusUrl};
        std::vector<std::string> verbose = arguments;
        verbose.push_back("--verbose");
        const auto quiet = check(arguments);
        if (c.statusAnswer) {
            statusService.addReply(*c.statusAnswer);
        }
        if (c.internalAnswer) {
            internalServer.addReply(*c.internalAnswer);
        }
        const auto result = check(verbose);

        EXPECT_EQ(result.out, quiet.out);
        EXPECT_EQ(result.exitStatus, quiet.exitStatus);
        EXPECT_EQ(quiet.err, "");
        const auto expectLine = [](const std::string& line, const std::string& expected) {
            if (expected.ends_with("...")) {
                const std::string prefix = expected.substr(0, expected.size() - 3);
                EXPECT_EQ(line.substr(0, prefix.size()), prefix) << line;
                EXPECT_GT(line.size(), prefix.size());
            } else {
                EXPECT_EQ(line, expected);
            }
        };
        const auto firstEnd = result.err.find('\n');
        ASSERT_NE(firstEnd, std::string::npos) << result.err;
        ASSERT_EQ(result.err.find('\n', firstEnd + 1), result.err.size() - 1) << result.err;
        ASSERT_EQ(result.err.find('\r'), std::string::npos) << result.err;
        expectLine(result.err.substr(0, firstEnd), "external: " + c.externalCause);
        expectLine(result.err.substr(firstEnd + 1, result.err.size() - firstEnd - 2),
                   "internal: " + c.internalCause);
    }
}

TEST(QuelvarCheckTest, HelpPrintsTheUsage) {
    const auto result = check({"--help"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out.rfind("Usage: quelvar-check api|web|whats [--external TEXT] "
                               "[--internal TEXT] [--https]\n",
                               0),
              0u)
        << result.out;
    EXPECT_NE(result.out.find(QUELVAR_STATUS_URL), std::string::npos);
    EXPECT_EQ(result.err, "");
}

TEST(QuelvarCheckTest, RejectsMalformedCommandLines) {
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"no product", {}, "no product given (api, web or whats)"},
        {"unknown product", {"API"}, "unknown product API (api, web or whats)"},
        {"two products", {"api", "web"}, "more than one product: web"},
        {"unknown option", {"api", "--verbosity"}, "unknown option --verbosity"},
        {"repeated verbose", {"api", "--verbose", "--verbose"}, "--verbose given more than once"},
        {"missing value", {"api", "--external"}, "--external needs a value"},
        {"repeated option",
         {"web", "--internal", "a", "--internal", "b"},
         "--internal given more than once"},
        {"repeated flag", {"web", "--https", "--https"}, "--https given more than once"},
        {"config on another product",
         {"web", "--config", "config.js"},
         "--config belongs to the api product only"},
        {"config with a field",
         {"api", "--config", "config.js", "--https"},
         "--config fills the fields and the HTTPS box; give none of them"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = check(c.arguments);
        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind(std::string("quelvar-check: ") + c.message + "\n\nUsage: ", 0),
                  0u)
            << result.err;
    }
}

}  // namespace
}  // namespace quelvar
