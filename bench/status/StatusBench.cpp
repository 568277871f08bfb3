// Measures quelvar-status on loopback: checks per second against a fast target, and pending
// checks held against a target that never answers, with the service's memory and the latency
// of /healthcheck meanwhile. Usage: status_bench [checks] [concurrency] [pending]
#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "ScriptedServer.h"

using Clock = std::chrono::steady_clock;

namespace {

struct Service {
    pid_t pid = -1;
    int port = 0;
};

Service startService() {
    int err[2];
    if (pipe(err) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    Service service;
    service.pid = fork();
    if (service.pid == 0) {
        dup2(err[1], 2);
        close(err[0]);
        execl(QUELVAR_STATUS_BINARY, QUELVAR_STATUS_BINARY, "--listen", "127.0.0.1:0",
              "--allow-private", "--rate-per-minute", "0", "--max-connections-per-client", "0",
              "--max-connections", "30000", "--max-checks", "30000", "--check-timeout-ms", "20000",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(err[1]);
    std::string text;
    const std::regex listening("listening on http://127\\.0\\.0\\.1:(\\d+)");
    std::smatch match;
    char chunk[1024];
    while (!std::regex_search(text, match, listening)) {
        const ssize_t n = read(err[0], chunk, sizeof chunk);
        if (n <= 0) {
            std::fprintf(stderr, "the service did not start: %s\n", text.c_str());
            std::exit(1);
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
    service.port = std::stoi(match[1]);
    // The check log goes on; a thread drains it so that the service never blocks on stderr.
    std::thread([fd = err[0]] {
        char sink[65536];
        while (read(fd, sink, sizeof sink) > 0) {
        }
    }).detach();
    return service;
}

long rssKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

std::size_t sink(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

CURL* makePost(const std::string& endpoint, const std::string& body, curl_slist* headers) {
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, endpoint.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, body.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &sink);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, 60000L);
    return easy;
}

// Runs total POSTs, concurrency at a time; returns the number answered 200.
int runChecks(const std::string& endpoint, const std::string& body, int total, int concurrency) {
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    CURLM* multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, static_cast<long>(concurrency));
    int started = 0;
    int ok = 0;
    int running = 0;
    while (started < concurrency && started < total) {
        curl_multi_add_handle(multi, makePost(endpoint, body, headers));
        ++started;
    }
    do {
        curl_multi_perform(multi, &running);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE) {
                continue;
            }
            long status = 0;
            curl_easy_getinfo(message->easy_handle, CURLINFO_RESPONSE_CODE, &status);
            ok += status == 200 ? 1 : 0;
            curl_multi_remove_handle(multi, message->easy_handle);
            curl_easy_cleanup(message->easy_handle);
            if (started < total) {
                curl_multi_add_handle(multi, makePost(endpoint, body, headers));
                ++started;
                ++running;
            }
        }
        curl_multi_poll(multi, nullptr, 0, 100, nullptr);
    } while (running > 0 || started < total);
    curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
    return ok;
}

double healthMs(const std::string& url) {
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &sink);
    const auto started = Clock::now();
    curl_easy_perform(easy);
    curl_easy_cleanup(easy);
    return std::chrono::duration<double, std::milli>(Clock::now() - started).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int checks = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int concurrency = argc > 2 ? std::atoi(argv[2]) : 64;
    const int pending = argc > 3 ? std::atoi(argv[3]) : 2000;
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    signal(SIGPIPE, SIG_IGN);
    curl_global_init(CURL_GLOBAL_DEFAULT);

    const Service service = startService();
    const std::string base = "http://127.0.0.1:" + std::to_string(service.port);
    std::printf("service pid %d, idle RSS %ld KiB\n", service.pid, rssKiB(service.pid));

    {
        quelvar::test::ScriptedServer fast;
        quelvar::test::Exchange ok;
        ok.reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
        ok.closeAfter = false;
        fast.setFallback(ok);
        const std::string body = "{\"requestUrl\":\"" + fast.url("/healthcheck") + "\"}";
        runChecks(base + "/v1/status", body, 200, concurrency);  // warm-up
        const auto started = Clock::now();
        const int answered = runChecks(base + "/v1/status", body, checks, concurrency);
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        std::printf("fast target: %d checks (%d answered 200), concurrency %d: %.0f checks/s\n",
                    checks, answered, concurrency, checks / seconds);
    }

    // A listener that never accepts: the kernel completes each handshake into its backlog and
    // the service's request is never read, so every check waits.
    const int silent = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(silent, 65535);
    getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string silentBody =
        "{\"requestUrl\":\"http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/\"}";
    std::thread load([&] { runChecks(base + "/v1/status", silentBody, pending, pending); });
    // Waits until the service reports the checks in flight.
    for (int i = 0; i < 200; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        CURL* easy = curl_easy_init();
        std::string metrics;
        curl_easy_setopt(easy, CURLOPT_URL, (base + "/metrics").c_str());
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        curl_easy_setopt(
            easy, CURLOPT_WRITEFUNCTION, +[](char* d, std::size_t s, std::size_t n, void* u) {
                static_cast<std::string*>(u)->append(d, s * n);
                return s * n;
            });
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &metrics);
        curl_easy_perform(easy);
        curl_easy_cleanup(easy);
        const auto at = metrics.find("\nquelvar_status_checks_in_flight ");
        if (at != std::string::npos && std::stoi(metrics.substr(at + 33)) >= pending) {
            break;
        }
    }
    std::vector<double> latencies;
    for (int i = 0; i < 200; ++i) {
        latencies.push_back(healthMs(base + "/healthcheck"));
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("silent target: %d pending checks, service RSS %ld KiB, threads %s\n", pending,
                rssKiB(service.pid),
                [&] {
                    std::ifstream status("/proc/" + std::to_string(service.pid) + "/status");
                    std::string line;
                    while (std::getline(status, line)) {
                        if (line.starts_with("Threads:")) {
                            return line.substr(8);
                        }
                    }
                    return std::string("?");
                }()
                    .c_str());
    std::printf("/healthcheck under that load: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                latencies[latencies.size() / 2], latencies[latencies.size() * 99 / 100],
                latencies.back());
    kill(service.pid, SIGKILL);
    waitpid(service.pid, nullptr, 0);
    close(silent);
    load.detach();
    std::fflush(stdout);
    std::_Exit(0);
}
