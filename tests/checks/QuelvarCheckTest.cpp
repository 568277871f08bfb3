#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/checks/HttpMessages.h"
#include "tests/checks/ProgramRun.h"
#include "tests/fixtures/Certificates.h"
#include "tests/fixtures/ScriptedServer.h"
#include "tests/fixtures/TestFiles.h"
#include "tests/http/SocketTransport.h"

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

// Returns the platform's refused-connection socket error with its line break as a blank, as
// --verbose prints it.
std::string refusedOnOneLine() {
    std::string text = test::socketFailure(test::SocketFailure::Refused);
    const auto lineBreak = text.find("\r\n");
    return text.replace(lineBreak, 2, " ");
}

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
                               "127.0.0.1:" + std::to_string(test::refusingPort()), "--status-url",
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

// "--config" without a file reads the window's own: config.js beside the program.
TEST(QuelvarCheckTest, ApiRunFromTheSettingsFileBesideTheProgram) {
    ScriptedServer statusService;
    statusService.addReply(kGreenReply);
    ScriptedServer apiServer;
    apiServer.addReply(httpReply(200, "OK"));
    const std::filesystem::path config =
        std::filesystem::path(QUELVAR_CHECK_PROGRAM).parent_path() / "config.js";
    ASSERT_FALSE(std::filesystem::exists(config)) << "left from another run: " << config;
    {
        std::ofstream file(config, std::ios::binary);
        file << "const USA_HTTPS = false;\r\nconst IP_EXTERNO = 'portal.invalid';\r\n"
                "const IP_INTERNO = '"
             << apiServer.authority() << "';\r\n";
    }
    const auto result = check({"api", "--config", "--status-url", statusService.url("/v1/status")});
    std::filesystem::remove(config);
    EXPECT_EQ(result.out,
              expectedOutput("Conexão Externa - ok", "Conexão Interna - ok", "green", "green"));
    EXPECT_EQ(result.exitStatus, 0);
    ASSERT_EQ(statusService.requests().size(), 1u);
    EXPECT_EQ(parseRequest(statusService.requests()[0]).body,
              R"({"requestUrl":"http://portal.invalid/healthcheck"})");
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
         std::nullopt, "status service replied with status 503", refusedOnOneLine()},
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
                : "http://127.0.0.1:" + std::to_string(test::refusingPort()) + "/v1/status";
        const std::string internal = c.internalAnswer
                                         ? internalServer.authority()
                                         : "127.0.0.1:" + std::to_string(test::refusingPort());
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
        {"repeated json", {"api", "--json", "--json"}, "--json given more than once"},
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

// The members of a JSON object, in order.
std::vector<std::string> memberNames(const rapidjson::Value& object) {
    std::vector<std::string> names;
    for (auto member = object.MemberBegin(); member != object.MemberEnd(); ++member) {
        names.emplace_back(member->name.GetString(), member->name.GetStringLength());
    }
    return names;
}

struct JsonHalf {
    const char* verdict;
    std::optional<std::string> line;
    std::string cause;
};

// Checks one half of the report against its form and the expected values.
void expectHalf(const rapidjson::Value& half, const JsonHalf& expected) {
    ASSERT_TRUE(half.IsObject());
    EXPECT_EQ(memberNames(half),
              (std::vector<std::string>{"verdict", "line", "cause", "durationMs"}));
    ASSERT_TRUE(half["verdict"].IsString());
    EXPECT_EQ(std::string(half["verdict"].GetString()), expected.verdict);
    if (expected.line) {
        ASSERT_TRUE(half["line"].IsString());
        EXPECT_EQ(std::string(half["line"].GetString()), *expected.line);
    } else {
        EXPECT_TRUE(half["line"].IsNull());
    }
    ASSERT_TRUE(half["cause"].IsString());
    EXPECT_EQ(std::string(half["cause"].GetString(), half["cause"].GetStringLength()),
              expected.cause);
    ASSERT_TRUE(half["durationMs"].IsInt64());
    EXPECT_GE(half["durationMs"].GetInt64(), 0);
}

// --json: one object on standard output, nothing else, for every pair of verdicts; causes with
// quotation marks and non-ASCII text arrive as written.
TEST(QuelvarCheckTest, JsonReportsEveryPairOfVerdicts) {
    const std::string greenReply = kGreenReply;
    const std::string redReply =
        statusReply(R"({"response":{"chain":[{"statusCode":301},{"statusCode":200}]}})");
    const std::string noneReply = httpReply(503, "Service Unavailable");
    const std::string quotedReply =
        statusReply(R"({"response":{"chain":[{"statusCode":"\"Não\" 200"}]}})");
    const JsonHalf externalGreen{"green", "Conexão Externa - ok",
                                 R"(first chain statusCode is "200")"};
    const JsonHalf externalRed{"red", "Conexão Externa - Erro",
                               R"(first chain statusCode is "301")"};
    const JsonHalf externalNone{"none", "Serviço de teste de conexão externa fora do ar.",
                                "status service replied with status 503"};
    const JsonHalf externalQuoted{"red", "Conexão Externa - Erro",
                                  R"(first chain statusCode is ""Não" 200")"};
    const JsonHalf internalGreen{"green", "Conexão Interna - ok", "reply status 200"};
    const JsonHalf internalRed{"red", "Conexão Interna - Erro", refusedOnOneLine()};
    const JsonHalf internalNone{"none", std::nullopt, "reply status 204"};
    struct Case {
        const char* name;
        std::string statusAnswer;
        std::optional<std::string> internalAnswer;  // nothing: the internal port refuses
        JsonHalf external;
        JsonHalf internal;
    };
    const Case cases[] = {
        {"green, green", greenReply, httpReply(200, "OK"), externalGreen, internalGreen},
        {"green, red", greenReply, std::nullopt, externalGreen, internalRed},
        {"green, none", greenReply, httpReply(204, "No Content"), externalGreen, internalNone},
        {"red, green", redReply, httpReply(200, "OK"), externalRed, internalGreen},
        {"red, red", redReply, std::nullopt, externalRed, internalRed},
        {"red, none", redReply, httpReply(204, "No Content"), externalRed, internalNone},
        {"none, green", noneReply, httpReply(200, "OK"), externalNone, internalGreen},
        {"none, red", noneReply, std::nullopt, externalNone, internalRed},
        {"none, none", noneReply, httpReply(204, "No Content"), externalNone, internalNone},
        {"quotes and non-ASCII in the cause", quotedReply, httpReply(200, "OK"), externalQuoted,
         internalGreen},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer statusService;
        statusService.addReply(c.statusAnswer);
        ScriptedServer internalServer;
        if (c.internalAnswer) {
            internalServer.addReply(*c.internalAnswer);
        }
        const std::string internal = c.internalAnswer
                                         ? internalServer.authority()
                                         : "127.0.0.1:" + std::to_string(test::refusingPort());
        const std::string statusUrl = statusService.url("/v1/status");
        const auto result = check({"web", "--external", "portal.invalid", "--internal", internal,
                                   "--status-url", statusUrl, "--json"});
        const bool green = std::string(c.external.verdict) == "green" &&
                           std::string(c.internal.verdict) == "green";
        EXPECT_EQ(result.exitStatus, green ? 0 : 1);
        EXPECT_EQ(result.err, "");
        ASSERT_TRUE(result.out.ends_with("}\n")) << result.out;
        EXPECT_EQ(result.out.find('\n'), result.out.size() - 1) << result.out;

        rapidjson::Document report;
        report.Parse(result.out.c_str());
        ASSERT_FALSE(report.HasParseError()) << result.out;
        ASSERT_TRUE(report.IsObject());
        EXPECT_EQ(memberNames(report),
                  (std::vector<std::string>{"tab", "statusEndpoint", "statusEndpointSource",
                                            "external", "internal", "durationMs"}));
        EXPECT_EQ(std::string(report["tab"].GetString()), "web");
        EXPECT_EQ(std::string(report["statusEndpoint"].GetString()), statusUrl);
        EXPECT_EQ(std::string(report["statusEndpointSource"].GetString()), "--status-url");
        expectHalf(report["external"], c.external);
        expectHalf(report["internal"], c.internal);
        // The whole run holds both halves and the one-second pause, which the internal
        // half's own time leaves out.
        ASSERT_TRUE(report["durationMs"].IsInt64());
        EXPECT_GE(report["durationMs"].GetInt64(), report["external"]["durationMs"].GetInt64() +
                                                       report["internal"]["durationMs"].GetInt64() +
                                                       1000);
    }
}

// A copy of quelvar-check in a folder of its own, so that a quelvar.ini can stand beside it.
class ProgramCopy {
public:
    ProgramCopy() {
        const std::filesystem::path original(QUELVAR_CHECK_PROGRAM);
        m_program = std::filesystem::path(m_dir.path()) / original.filename();
        std::filesystem::copy_file(original, m_program);
    }
    std::string program() const { return m_program.string(); }
    void writeIni(const std::string& bytes) const { m_dir.write("quelvar.ini", bytes); }
    test::ProgramResult check(const std::vector<std::string>& arguments) const {
        return runProgram(program(), arguments, kLimit);
    }

private:
    test::TempDir m_dir;
    std::filesystem::path m_program;
};

// Points the places after the program's own folder at an empty directory for the test's
// programs: $XDG_CONFIG_HOME on Linux (Windows looks beside the program only).
class EmptyConfigHome {
public:
    EmptyConfigHome() {
#ifndef _WIN32
        const char* old = std::getenv("XDG_CONFIG_HOME");
        if (old != nullptr) {
            m_old = old;
        }
        ::setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1);
#endif
    }
    ~EmptyConfigHome() {
#ifndef _WIN32
        if (m_old) {
            ::setenv("XDG_CONFIG_HOME", m_old->c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
#endif
    }
    EmptyConfigHome(const EmptyConfigHome&) = delete;
    EmptyConfigHome& operator=(const EmptyConfigHome&) = delete;

private:
    test::TempDir m_dir;
    std::optional<std::string> m_old;
};

const std::string kNotAHost =
    "quelvar.ini, line 2: \"https://x/\" is not a host; write only the host and an optional "
    "port.\n";

// A quelvar.ini beside the program points the run at a status service over HTTPS; a wrong one
// stops it before anything is asked, unless --status-url is given.
TEST(QuelvarCheckTest, QuelvarIniGivesTheStatusService) {
    const EmptyConfigHome configHome;
    const ProgramCopy copy;
    const test::Certificate certificate = test::makeCertificate();
    ScriptedServer statusService(test::TlsSettings{certificate.certPem, certificate.keyPem});
    const std::string endpoint = "https://" + statusService.authority() + "/v1/status";
    ScriptedServer internalServer;

    copy.writeIni("; the status service of this site\r\n[status]\r\nhost = " +
                  statusService.authority() + "\r\n");
    statusService.addReply(kGreenReply);
    internalServer.addReply(httpReply(200, "OK"));
    auto result = copy.check({"web", "--external", "portal.invalid", "--internal",
                              internalServer.authority(), "--verbose"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out,
              expectedOutput("Conexão Externa - ok", "Conexão Interna - ok", "green", "green"));
    ASSERT_EQ(statusService.requests().size(), 1u);
    EXPECT_EQ(parseRequest(statusService.requests()[0]).requestLine, "POST /v1/status HTTP/1.1");
    const std::string read = "quelvar.ini; status endpoint " + endpoint + "\n";
    const std::size_t readEnd = result.err.find('\n') + 1;
    EXPECT_EQ(result.err.rfind("read ", 0), 0u) << result.err;
    EXPECT_TRUE(result.err.substr(0, readEnd).ends_with(read)) << result.err;

    // The report names the file the endpoint came from.
    statusService.addReply(kGreenReply);
    internalServer.addReply(httpReply(200, "OK"));
    result = copy.check({"web", "--external", "portal.invalid", "--internal",
                         internalServer.authority(), "--json"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    rapidjson::Document report;
    report.Parse(result.out.c_str());
    ASSERT_FALSE(report.HasParseError()) << result.out;
    EXPECT_EQ(std::string(report["statusEndpoint"].GetString()), endpoint);
    EXPECT_TRUE(std::string(report["statusEndpointSource"].GetString()).ends_with("quelvar.ini"))
        << result.out;
    EXPECT_EQ(statusService.requests().size(), 2u);

    // A wrong file: its message on standard error, exit status 2, nothing asked.
    copy.writeIni("[status]\nhost = https://x/\n");
    for (const bool json : {false, true}) {
        SCOPED_TRACE(json ? "--json" : "log lines");
        std::vector<std::string> arguments{"web", "--internal", internalServer.authority()};
        if (json) {
            arguments.push_back("--json");
        }
        result = copy.check(arguments);
        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind("quelvar-check: ", 0), 0u) << result.err;
        EXPECT_TRUE(result.err.ends_with(kNotAHost)) << result.err;
        EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    }
    EXPECT_EQ(statusService.requests().size(), 2u);
    EXPECT_EQ(internalServer.requests().size(), 2u);

    // --status-url overrides the file, wrong or not, which is then not read at all.
    ScriptedServer other;
    other.addReply(kGreenReply);
    result = copy.check({"web", "--status-url", other.url("/v1/status"), "--verbose"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.err.find("quelvar.ini"), std::string::npos) << result.err;
    EXPECT_EQ(other.requests().size(), 1u);
}

TEST(QuelvarCheckTest, VerboseSaysWhenNoQuelvarIniIsFound) {
#ifndef _WIN32
    if (std::filesystem::exists("/etc/quelvar/quelvar.ini")) {
        GTEST_SKIP() << "this machine has an /etc/quelvar/quelvar.ini";
    }
#endif
    const EmptyConfigHome configHome;
    const ProgramCopy copy;
    const auto copied = copy.check(
        {"web", "--verbose", "--internal", "127.0.0.1:1", "--external", "portal.invalid"});
    EXPECT_EQ(copied.err.rfind("no quelvar.ini found; status endpoint " QUELVAR_STATUS_URL "\n", 0),
              0u)
        << copied.err;
}

}  // namespace
}  // namespace quelvar
