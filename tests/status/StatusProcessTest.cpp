// The quelvar-status executable: command line, start-up lines, demo mode and SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <future>
#include <regex>

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
    for (const char* option :
         {"--listen ADDR:PORT", "--tls-cert FILE", "--tls-key FILE", "--ca-file FILE",
          "--allow-private", "--max-checks N", "--rate-per-minute N", "--connect-timeout-ms N",
          "--check-timeout-ms N", "--demo", "--health-listen", "--grace-ms N",
          "--header-timeout-s N", "--ipv6-prefix-length N", "--log-level LEVEL",
          "--max-connections-per-client N", "--idle-timeout-s N"}) {
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
