// Two quelvar-status programs behind an nginx upstream on loopback, as the README sets them up:
// the checks spread over both, and one of them stopped with SIGTERM while checks run on it
// loses none: each gets its 200, or a 503 with Retry-After. Skipped when nginx is missing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "tests/fixtures/ScriptedServer.h"
#include "tests/status/StatusProcess.h"
#include "tests/status/StatusTestSupport.h"

using namespace quelvar::test;
using namespace std::chrono_literals;

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

// An nginx in the foreground, one process, with its configuration and files in a temporary
// directory of its own.
class Nginx {
public:
    // Starts nginx with the http block and waits until the port answers; throws
    // std::runtime_error when it does not.
    Nginx(const std::string& http, std::uint16_t port) {
        char path[] = "/tmp/quelvar_balancer_XXXXXX";
        if (mkdtemp(path) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        m_directory = path;
        const std::string config = m_directory + "/nginx.conf";
        std::ofstream(config) << "daemon off;\nmaster_process off;\n"
                              << "pid " << m_directory << "/nginx.pid;\n"
                              << "error_log " << m_directory << "/error.log warn;\n"
                              << "events { worker_connections 256; }\n"
                              << "http {\n  access_log off;\n"
                              << "  client_body_temp_path " << m_directory << "/body;\n"
                              << "  proxy_temp_path " << m_directory << "/proxy;\n"
                              << "  fastcgi_temp_path " << m_directory << "/fastcgi;\n"
                              << "  uwsgi_temp_path " << m_directory << "/uwsgi;\n"
                              << "  scgi_temp_path " << m_directory << "/scgi;\n"
                              << http << "}\n";
        m_pid = fork();
        if (m_pid == 0) {
            execl(kNginx, kNginx, "-p", m_directory.c_str(), "-c", config.c_str(), "-e",
                  (m_directory + "/error.log").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/healthcheck";
        for (int i = 0; i < 100; ++i) {
            if (httpRequest("GET", url, "", {}, {}, 500ms).status != 0) {
                return;
            }
            std::this_thread::sleep_for(50ms);
        }
        throw std::runtime_error("nginx did not start: " + errorLog());
    }
    ~Nginx() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        std::error_code ignored;
        std::filesystem::remove_all(m_directory, ignored);
    }
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    std::string errorLog() const {
        std::ifstream log(m_directory + "/error.log");
        return std::string(std::istreambuf_iterator<char>(log), {});
    }

private:
    pid_t m_pid = -1;
    std::string m_directory;
};

std::uint16_t freePort() {
    ScriptedServer probe;  // binds 127.0.0.1:0; the port is free again once it stops
    return static_cast<std::uint16_t>(std::stoi(probe.authority().substr(10)));
}

// Returns how many check lines the program has written so far.
std::size_t checkLines(StatusProcess& process) {
    process.waitForLine(std::regex("^$"), 50ms);  // reads what has come
    std::size_t count = 0;
    for (const std::string& line : process.lines()) {
        count += line.find(" check client=") != std::string::npos;
    }
    return count;
}

}  // namespace

TEST(BalancerTest, ChecksSpreadOverTwoInstancesAndADrainedOneLosesNone) {
    if (access(kNginx, X_OK) != 0) {
        GTEST_SKIP() << kNginx << " is missing (scripts/install-deps installs nginx-light)";
    }
    const std::vector<std::string> options = {
        "--listen",   "127.0.0.1:0", "--allow-private", "--rate-per-minute", "0",
        "--grace-ms", "3000"};
    StatusProcess first(options);
    StatusProcess second(options);
    const std::uint16_t firstPort = first.waitForPort("http");
    const std::uint16_t secondPort = second.waitForPort("http");
    ASSERT_NE(firstPort, 0);
    ASSERT_NE(secondPort, 0);
    const std::uint16_t port = freePort();
    // The README's configuration, on loopback ports.
    const Nginx nginx(
        "  upstream quelvar_status {\n"
        "    server 127.0.0.1:" +
            std::to_string(firstPort) +
            ";\n"
            "    server 127.0.0.1:" +
            std::to_string(secondPort) +
            ";\n  }\n"
            "  limit_req_zone $binary_remote_addr zone=checks:1m rate=6000r/m;\n"
            "  server {\n    listen 127.0.0.1:" +
            std::to_string(port) +
            ";\n"
            "    location / {\n"
            "      limit_req zone=checks burst=100 nodelay;\n"
            "      proxy_pass http://quelvar_status;\n"
            "      proxy_set_header X-Forwarded-For $remote_addr;\n"
            "    }\n  }\n",
        port);
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/v1/status";
    const std::vector<std::string> json = {"Content-Type: application/json"};

    ScriptedServer fast;
    fast.setFallback(Exchange{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"});
    for (int i = 0; i < 10; ++i) {
        const HttpReply reply = httpRequest("POST", url, statusBody(fast.url()), json);
        ASSERT_EQ(reply.status, 200) << reply.error << reply.body << nginx.errorLog();
    }
    EXPECT_EQ(checkLines(first), 5u) << "round robin over both";
    EXPECT_EQ(checkLines(second), 5u);

    // Checks that take 600 ms each, on both instances, when the first one is told to stop.
    ScriptedServer slow;
    Exchange late{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"};
    late.delay = 600ms;
    slow.setFallback(late);
    std::vector<std::future<HttpReply>> replies;
    for (int i = 0; i < 8; ++i) {
        replies.push_back(std::async(std::launch::async, [&] {
            return httpRequest("POST", url, statusBody(slow.url()), json, {}, 10s);
        }));
    }
    ASSERT_TRUE(slow.waitForRequests(8, 5s));
    first.signal(SIGTERM);
    // And more while it drains: nginx takes the refused connection to the other one.
    std::this_thread::sleep_for(100ms);
    for (int i = 0; i < 4; ++i) {
        replies.push_back(std::async(std::launch::async, [&] {
            return httpRequest("POST", url, statusBody(slow.url()), json, {}, 10s);
        }));
    }
    int answered = 0;
    for (auto& pending : replies) {
        const HttpReply reply = pending.get();
        if (reply.status == 503) {
            EXPECT_NE(reply.headers.find("Retry-After: "), std::string::npos) << reply.headers;
        } else {
            EXPECT_EQ(reply.status, 200) << reply.error << reply.body << nginx.errorLog();
            ++answered;
        }
    }
    EXPECT_EQ(first.waitForExit(), 0);
    EXPECT_EQ(answered, 12) << "within the grace time every check is answered";
    EXPECT_GE(checkLines(first), 5u + 4u) << "the first one finished the checks it had";
    EXPECT_EQ(httpRequest("POST", url, statusBody(fast.url()), json).status, 200)
        << "the other one answers on alone";
}
