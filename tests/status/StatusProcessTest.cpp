// The quelvar-status executable: command line, start-up lines, demo mode and SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <future>
#include <regex>

#include "tests/fixtures/Certificates.h"
#include "tests/fixtures/ScriptedServer.h"
#include "tests/fixtures/TestFiles.h"
#include "tests/status/StatusProcess.h"
#include "tests/status/StatusTestSupport.h"

using namespace quelvar::test;
using namespace std::chrono_literals;

namespace {

HttpReply postCheck(const std::string& base, const std::string& url, const std::string& ca = {}) {
    return httpRequest("POST", base + "/v1/status", statusBody(url),
                       {"Content-Type: application/json"}, ca);
}

}  // namespace

TEST(StatusProcessTest, HelpListsEveryOption) {
    StatusProcess process({"--help"});
    EXPECT_EQ(process.waitForExit(), 0);
    const std::string help = process.readStdout();
    for (const char* option : {"--listen ADDR:PORT",   "--tls-cert FILE",
                               "--tls-key FILE",       "--ca-file FILE",
                               "--allow-private",      "--max-checks N",
                               "--rate-per-minute N",  "--connect-timeout-ms N",
                               "--check-timeout-ms N", "--demo",
                               "--health-listen",      "--grace-ms N",
                               "--header-timeout-s N", "--ipv6-prefix-length N",
                               "--log-level LEVEL",    "--max-connections-per-client N",
                               "--idle-timeout-s N",   "--self-signed-if-missing",
                               "--state-dir DIR",      "--public-name NAME",
                               "--print-client-config"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

TEST(StatusProcessTest, BadOptionExitsWith2AndSaysWhy) {
    StatusProcess process({"--max-checks", "none"});
    EXPECT_FALSE(process
                     .waitForLine(std::regex("^quelvar-status: --max-checks needs a number from 1 "
                                             "to 1000000, not \"none\"$"))
                     .empty());
    EXPECT_EQ(process.waitForExit(), 2);
}

TEST(StatusProcessTest, PortInUseExitsWith1) {
    ScriptedServer occupant;
    StatusProcess process({"--listen", occupant.authority()});
    EXPECT_FALSE(process.waitForLine(std::regex("cannot listen on 127\\.0\\.0\\.1:")).empty());
    EXPECT_EQ(process.waitForExit(), 1);
}

TEST(StatusProcessTest, SigtermFinishesTheRunningCheckAndExitsZero) {
    ScriptedServer slow;
    slow.setFallback([] {
        Exchange exchange;
        exchange.reply = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
        exchange.delay = 500ms;
        return exchange;
    }());
    StatusProcess process({"--listen", "127.0.0.1:0", "--allow-private", "--rate-per-minute", "0",
                           "--check-timeout-ms", "3000"});
    const std::uint16_t port = process.waitForPort("http");
    ASSERT_NE(port, 0);
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    auto pending = std::async(std::launch::async, [&] { return postCheck(base, slow.url("/x")); });
    ASSERT_TRUE(slow.waitForRequests(1, 3s));
    process.signal(SIGTERM);
    const HttpReply reply = pending.get();
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(chainStatuses(parseJson(reply.body)), std::vector<int>{200});
    EXPECT_EQ(process.waitForExit(), 0);
    process.waitForLine(std::regex("^$^"), 1s);  // reads the rest up to the end
    const auto& lines = process.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.starts_with("WARNING: --allow-private is on");
    }));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "received SIGTERM, finishing 1 running checks"),
              lines.end());
    EXPECT_EQ(lines.back(), "stopped");
    const std::regex checkLine(
        "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ check client=127\\.0\\.0\\.1 url=" +
        std::regex_replace(slow.url("/x"), std::regex("[.]"), "\\.") +
        " code=- chain=200 duration_ms=\\d+\\.\\d{3}$");
    EXPECT_TRUE(std::any_of(process.lines().begin(), process.lines().end(),
                            [&](const std::string& l) { return std::regex_match(l, checkLine); }));
}

TEST(StatusProcessTest, DemoServesHttpsWithAKeptCertificateAndPlainHealth) {
    TempDir state;
    ScriptedServer target;
    target.setFallback(Exchange{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"});
    const std::vector<std::string> arguments{"--demo", "--listen", "127.0.0.1:0", "--health-listen",
                                             "127.0.0.1:0"};
    std::string firstCert;
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start);
        StatusProcess process(arguments, {"XDG_STATE_HOME=" + state.path()});
        const std::string certPath = state.path() + "/quelvar-status/demo-cert.pem";
        EXPECT_FALSE(process
                         .waitForLine(std::regex(std::string(start == 0 ? "made" : "using") +
                                                 " the demo certificate " + certPath))
                         .empty());
        const std::uint16_t port = process.waitForPort("https");
        ASSERT_NE(port, 0);
        const std::smatch health = process.waitForLine(
            std::regex("health check on http://127\\.0\\.0\\.1:(\\d+)/healthcheck"));
        ASSERT_FALSE(health.empty());
        // The demo certificate names 127.0.0.1, so the client can verify it.
        const HttpReply reply =
            postCheck("https://127.0.0.1:" + std::to_string(port), target.url(), certPath);
        EXPECT_EQ(reply.status, 200) << reply.error;
        EXPECT_EQ(chainStatuses(parseJson(reply.body)), std::vector<int>{200})
            << "--demo allows loopback targets";
        EXPECT_EQ(
            httpRequest("GET", "http://127.0.0.1:" + health[1].str() + "/healthcheck", "").status,
            200);
        std::ifstream in(certPath);
        const std::string cert((std::istreambuf_iterator<char>(in)), {});
        if (start == 0) {
            firstCert = cert;
        } else {
            EXPECT_EQ(cert, firstCert) << "the second start keeps the certificate";
        }
        process.signal(SIGINT);
        EXPECT_EQ(process.waitForExit(), 0);
    }
}

TEST(StatusProcessTest, AbortedTlsHandshakesStayOutOfTheDefaultLog) {
    TempDir state;
    for (const bool debug : {false, true}) {
        SCOPED_TRACE(debug ? "debug" : "default level");
        std::vector<std::string> arguments{"--demo",          "--listen",    "127.0.0.1:0",
                                           "--health-listen", "127.0.0.1:0", "--state-dir",
                                           state.path()};
        if (debug) {
            arguments.insert(arguments.end(), {"--log-level", "debug"});
        }
        StatusProcess process(arguments);
        const std::uint16_t port = process.waitForPort("https");
        ASSERT_NE(port, 0);
        for (int i = 0; i < 3; ++i) {
            // What a client that gives up on the certificate leaves: a hello, then nothing.
            RawConnection client(port);
            client.send(std::string("\x16\x03\x01\x00\x05\x01\x00\x00\x01\x00", 10));
            client.close();
        }
        std::this_thread::sleep_for(300ms);
        process.signal(SIGTERM);
        EXPECT_EQ(process.waitForExit(), 0);
        process.waitForLine(std::regex("^$^"), 1s);  // reads the rest up to the end
        const auto& lines = process.lines();
        const auto aborted = std::count(lines.begin(), lines.end(),
                                        std::string("http: TLS handshake aborted by client"));
        EXPECT_EQ(aborted, debug ? 3 : 0);
        for (const std::string& line : lines) {
            EXPECT_EQ(line.find("out of context"), std::string::npos) << line;
        }
    }
}

TEST(StatusProcessTest, SighupRenewsTheCertificateUnderLoadWithoutLosingACheck) {
    TempDir files;
    // Issued by a CA, as a real certificate is: the log says nothing of self-signing.
    CertificateSettings caSettings;
    caSettings.commonName = "Renewal Test CA";
    caSettings.isCa = true;
    const Certificate ca = makeCertificate(caSettings);
    const auto pairFor = [&ca](const char* name) {
        CertificateSettings settings;
        settings.commonName = name;
        settings.dnsNames = {name};
        settings.issuer = &ca;
        return makeCertificate(settings);
    };
    const Certificate before = pairFor("before.example.test");
    const Certificate after = pairFor("after.example.test");
    const std::string certFile = files.write("fullchain.pem", before.certPem);
    const std::string keyFile = files.write("privkey.pem", before.keyPem);
    ScriptedServer slow;
    slow.setFallback([] {
        Exchange exchange;
        exchange.reply = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
        exchange.delay = 1500ms;
        return exchange;
    }());
    StatusProcess process({"--listen", "127.0.0.1:0", "--tls-cert", certFile, "--tls-key", keyFile,
                           "--allow-private", "--rate-per-minute", "0",
                           "--max-connections-per-client", "0", "--check-timeout-ms", "8000"});
    const std::smatch first = process.waitForLine(
        std::regex("^serving the certificate \\S+ for before\\.example\\.test, SHA-256 "
                   "fingerprint ([0-9A-F:]{95})$"));
    ASSERT_FALSE(first.empty()) << ::testing::PrintToString(process.lines());
    const std::string beforeFingerprint = first[1];
    const std::uint16_t port = process.waitForPort("https");
    ASSERT_NE(port, 0);

    const auto startChecks = [&](int count) {
        std::vector<std::future<TlsExchange>> checks;
        for (int i = 0; i < count; ++i) {
            checks.push_back(std::async(std::launch::async, [&slow, port, i] {
                return tlsExchange(port,
                                   checkRequest(statusBody(slow.url("/" + std::to_string(i)))), 8s);
            }));
        }
        return checks;
    };
    constexpr int kInFlight = 16;
    std::vector<std::future<TlsExchange>> early = startChecks(kInFlight);
    // Every early check has its handshake done and waits for the slow target.
    ASSERT_TRUE(slow.waitForRequests(kInFlight, 5s));
    {
        std::ofstream(certFile) << after.certPem;
        std::ofstream(keyFile) << after.keyPem;
    }
    process.signal(SIGHUP);
    const std::smatch renewed = process.waitForLine(
        std::regex("^serving the certificate \\S+ for after\\.example\\.test, SHA-256 "
                   "fingerprint ([0-9A-F:]{95})$"));
    ASSERT_FALSE(renewed.empty()) << ::testing::PrintToString(process.lines());
    std::vector<std::future<TlsExchange>> late = startChecks(4);

    for (auto* batch : {&early, &late}) {
        const bool isEarly = batch == &early;
        for (auto& check : *batch) {
            const TlsExchange exchange = check.get();
            SCOPED_TRACE(isEarly ? "started before SIGHUP" : "started after SIGHUP");
            EXPECT_EQ(exchange.fingerprint, isEarly ? beforeFingerprint : renewed[1].str());
            ASSERT_TRUE(exchange.reply.starts_with("HTTP/1.1 200 ")) << exchange.reply;
            EXPECT_EQ(chainStatuses(
                          parseJson(exchange.reply.substr(exchange.reply.find("\r\n\r\n") + 4))),
                      std::vector<int>{200});
        }
    }
    EXPECT_EQ(tlsExchange(port).fingerprint, renewed[1].str());
    process.signal(SIGTERM);
    EXPECT_EQ(process.waitForExit(), 0);
}

TEST(StatusProcessTest, PrintClientConfigNamesTheHostClientsUse) {
    TempDir files;
    CertificateSettings settings;
    settings.commonName = "status.example.test";
    settings.dnsNames = {"status.example.test"};
    const Certificate cert = makeCertificate(settings);
    const std::string certFile = files.write("fullchain.pem", cert.certPem);
    const std::string keyFile = files.write("privkey.pem", cert.keyPem);
    const std::string missing = files.path() + "/missing";
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        int exitStatus;
        std::string output;  // stdout, or the stderr line when the exit status is not 0
    };
    const Case cases[] = {
        {"certificate's name, port 443 left out",
         {"--listen", "[::]:443", "--tls-cert", certFile, "--tls-key", keyFile},
         0,
         "[status]\nhost = status.example.test\n"},
        {"certificate's name and another port",
         {"--listen", "0.0.0.0:8443", "--tls-cert", certFile, "--tls-key", keyFile},
         0,
         "[status]\nhost = status.example.test:8443\n"},
        {"public name before the certificate's",
         {"--listen", "[::]:443", "--tls-cert", certFile, "--tls-key", keyFile, "--public-name",
          "other.example.test"},
         0,
         "[status]\nhost = other.example.test\n"},
        {"missing files: the self-signed certificate's name",
         {"--listen", "[::]:443", "--tls-cert", missing + "/c.pem", "--tls-key", missing + "/k.pem",
          "--self-signed-if-missing", "--state-dir", files.path() + "/state", "--public-name",
          "self.example.test"},
         0,
         "[status]\nhost = self.example.test\n"},
        {"IPv6 address in brackets",
         {"--listen", "[::]:8443", "--tls-cert", certFile, "--tls-key", keyFile, "--public-name",
          "2001:db8::7"},
         0,
         "[status]\nhost = [2001:db8::7]:8443\n"},
        {"behind a reverse proxy: its port 443",
         {"--listen", "127.0.0.1:8080", "--public-name", "status.example.test"},
         0,
         "[status]\nhost = status.example.test\n"},
        {"plain HTTP without a name",
         {"--listen", "127.0.0.1:8080"},
         1,
         "quelvar-status: no certificate to take the host name from: give --public-name NAME"},
        {"missing files without the fallback",
         {"--tls-cert", missing + "/c.pem", "--tls-key", missing + "/k.pem"},
         1,
         "quelvar-status: cannot read the TLS certificate " + missing +
             "/c.pem: No such file or directory"},
        {"not a host name",
         {"--public-name", "https://status.example.test/"},
         2,
         "quelvar-status: --public-name needs a host name or an IP address, not "
         "\"https://status.example.test/\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> arguments = c.arguments;
        arguments.push_back("--print-client-config");
        StatusProcess process(arguments, {"LC_ALL=C"});
        EXPECT_EQ(process.waitForExit(), c.exitStatus);
        if (c.exitStatus == 0) {
            EXPECT_EQ(process.readStdout(), c.output);
        } else {
            EXPECT_FALSE(process
                             .waitForLine(std::regex(
                                 "^" +
                                 std::regex_replace(c.output, std::regex(R"([.^$|()\[\]{}*+?\\])"),
                                                    R"(\$&)") +
                                 "$"))
                             .empty())
                << ::testing::PrintToString(process.lines());
        }
    }
}
