// Measures quelvar-status on loopback beside two peers that do the same work per request: an
// nginx reverse proxy (one process, upstream keep-alive), whose inbound exchange, outbound
// fetch and reply are the structural limit, and prometheus-blackbox-exporter. The target is
// nginx as well, once keeping its connections and once closing each. The peers are measured
// in alternation, several rounds, and the ratios of the best rounds are printed as
// "ratio-proxy-keep R", "ratio-proxy-close R" and "ratio-exporter R". Then pending checks are
// held against a target that never answers, with the memory per pending check and the latency
// of /healthcheck meanwhile, and the share of /healthcheck probes answered while one attacker
// trickles request heads from 200 addresses. A peer that is not installed is skipped with a
// message.
// Rates are taken with wrk where it is installed, else with this program's libcurl client.
// Usage: status_bench [checks] [concurrency] [pending] [rounds] [seconds per wrk run]
#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/status/HeadTrickler.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kBlackbox = "/usr/bin/prometheus-blackbox-exporter";
constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr const char* kWrk = "/usr/bin/wrk";

struct Process {
    pid_t pid = -1;
    int port = 0;
};

void stop(Process& process) {
    if (process.pid > 0) {
        kill(process.pid, SIGKILL);
        waitpid(process.pid, nullptr, 0);
        process.pid = -1;
    }
}

// Runs the program with its stderr on a pipe; stdout goes to /dev/null.
pid_t spawn(const std::vector<std::string>& argv, int& errFd) {
    int err[2];
    if (pipe(err) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(err[1], 2);
        const int devnull = ::open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        close(err[0]);
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(err[1]);
    errFd = err[0];
    return pid;
}

// Reads and drops the process's log on a thread, so that it never blocks on a full pipe.
void drain(int fd) {
    std::thread([fd] {
        char sink[65536];
        while (read(fd, sink, sizeof sink) > 0) {
        }
        close(fd);
    }).detach();
}

// Starts the service with its default connection limits (1024, 32 per client) when asked.
Process startQuelvarStatus(bool defaultLimits = false) {
    int err = -1;
    Process service;
    std::vector<std::string> arguments = {
        QUELVAR_STATUS_BINARY, "--listen", "127.0.0.1:0",        "--allow-private",
        "--rate-per-minute",   "0",        "--check-timeout-ms", "20000"};
    if (!defaultLimits) {
        for (const char* option : {"--max-connections-per-client", "0", "--max-connections",
                                   "30000", "--max-checks", "30000"}) {
            arguments.push_back(option);
        }
    }
    service.pid = spawn(arguments, err);
    std::string text;
    const std::regex listening("listening on http://127\\.0\\.0\\.1:(\\d+)");
    std::smatch match;
    char chunk[1024];
    while (!std::regex_search(text, match, listening)) {
        const ssize_t n = read(err, chunk, sizeof chunk);
        if (n <= 0) {
            std::fprintf(stderr, "quelvar-status did not start: %s\n", text.c_str());
            std::exit(1);
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
    service.port = std::stoi(match[1]);
    drain(err);
    return service;
}

int freeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

std::size_t append(char* data, std::size_t size, std::size_t count, void* text) {
    static_cast<std::string*>(text)->append(data, size * count);
    return size * count;
}

// Returns the body of a GET, or nothing when the exchange failed.
std::optional<std::string> fetch(const std::string& url) {
    CURL* easy = curl_easy_init();
    std::string body;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, 5000L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &append);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    const CURLcode result = curl_easy_perform(easy);
    curl_easy_cleanup(easy);
    return result == CURLE_OK ? std::optional(body) : std::nullopt;
}

// The exporter with one HTTP module whose time-out matches the service's check time-out.
std::optional<Process> startBlackbox() {
    if (access(kBlackbox, X_OK) != 0) {
        return std::nullopt;
    }
    char path[] = "/tmp/status_bench_blackbox_XXXXXX.yml";
    const int fd = mkstemps(path, 4);
    const std::string config =
        "modules:\n  http_2xx:\n    prober: http\n    timeout: 20s\n"
        "    http:\n      preferred_ip_protocol: ip4\n";
    if (fd < 0 || write(fd, config.data(), config.size()) != static_cast<ssize_t>(config.size())) {
        std::perror("blackbox config");
        std::exit(1);
    }
    close(fd);
    Process exporter;
    exporter.port = freeLoopbackPort();
    int err = -1;
    exporter.pid = spawn(
        {kBlackbox, std::string("--config.file=") + path,
         "--web.listen-address=127.0.0.1:" + std::to_string(exporter.port), "--log.level=error"},
        err);
    drain(err);
    const std::string healthy = "http://127.0.0.1:" + std::to_string(exporter.port) + "/-/healthy";
    for (int i = 0; i < 100 && !fetch(healthy); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    unlink(path);
    if (!fetch(healthy)) {
        std::fprintf(stderr, "prometheus-blackbox-exporter did not start\n");
        stop(exporter);
        return std::nullopt;
    }
    return exporter;
}

// A temporary directory for one nginx, removed with its files when the run ends.
std::string makeNginxDirectory() {
    char path[] = "/tmp/status_bench_nginx_XXXXXX";
    if (mkdtemp(path) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    return path;
}

// Runs nginx in the foreground as one process (no master, so one worker) with the http block
// given, its files in a directory of its own; waits until the URL answers.
std::optional<Process> startNginx(const std::string& name, const std::string& http,
                                  const std::string& readyUrl) {
    const std::string directory = makeNginxDirectory();
    const std::string config = directory + "/nginx.conf";
    std::ofstream(config) << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
                          << "pid " << directory << "/nginx.pid;\n"
                          << "error_log " << directory << "/error.log error;\n"
                          << "worker_rlimit_nofile 65536;\n"
                          << "events { worker_connections 16384; }\n"
                          << "http {\n  access_log off;\n"
                          << "  client_body_temp_path " << directory << "/body;\n"
                          << "  proxy_temp_path " << directory << "/proxy;\n"
                          << "  fastcgi_temp_path " << directory << "/fastcgi;\n"
                          << "  uwsgi_temp_path " << directory << "/uwsgi;\n"
                          << "  scgi_temp_path " << directory << "/scgi;\n"
                          << http << "}\n";
    int err = -1;
    Process nginx;
    nginx.pid = spawn({kNginx, "-p", directory, "-c", config, "-e", directory + "/error.log"}, err);
    drain(err);
    for (int i = 0; i < 100 && !fetch(readyUrl); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!fetch(readyUrl)) {
        std::fprintf(stderr, "nginx (%s) did not start; see %s/error.log\n", name.c_str(),
                     directory.c_str());
        stop(nginx);
        return std::nullopt;
    }
    return nginx;
}

long procStatus(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(field + ":")) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return -1;
}

// How one peer is asked to probe a target.
struct Peer {
    std::string name;
    Process process;
    // Sets up a handle that asks the peer to probe the target URL.
    std::function<void(CURL*, const std::string& target)> prepare;
    // What a body reporting a successful probe contains.
    std::string success;
    // The URL that asks the peer to probe the target, and the POST body (none for a GET).
    std::function<std::pair<std::string, std::string>(const std::string& target)> request;
};

Peer quelvarPeer(Process process) {
    Peer peer;
    peer.name = "quelvar-status";
    peer.process = process;
    peer.prepare = [port = process.port](CURL* easy, const std::string& target) {
        static curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
        const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/v1/status";
        const std::string body = "{\"requestUrl\":\"" + target + "\"}";
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, body.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    };
    peer.success = "\"statusCode\":200";
    peer.request = [port = process.port](const std::string& target) {
        return std::pair("http://127.0.0.1:" + std::to_string(port) + "/v1/status",
                         "{\"requestUrl\":\"" + target + "\"}");
    };
    return peer;
}

Peer blackboxPeer(Process process) {
    Peer peer;
    peer.name = "blackbox-exporter";
    peer.process = process;
    peer.prepare = [port = process.port](CURL* easy, const std::string& target) {
        char* escaped = curl_easy_escape(easy, target.c_str(), static_cast<int>(target.size()));
        const std::string url =
            "http://127.0.0.1:" + std::to_string(port) + "/probe?module=http_2xx&target=" + escaped;
        curl_free(escaped);
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    };
    peer.success = "\nprobe_success 1\n";
    peer.request = [port = process.port](const std::string& target) {
        CURL* easy = curl_easy_init();
        char* escaped = curl_easy_escape(easy, target.c_str(), static_cast<int>(target.size()));
        std::string url =
            "http://127.0.0.1:" + std::to_string(port) + "/probe?module=http_2xx&target=" + escaped;
        curl_free(escaped);
        curl_easy_cleanup(easy);
        return std::pair(url, std::string());
    };
    return peer;
}

// The reverse proxy: each target has a path of its own on the proxy.
Peer proxyPeer(Process process, std::vector<std::pair<std::string, std::string>> paths) {
    Peer peer;
    peer.name = "nginx-proxy";
    peer.process = process;
    peer.prepare = [port = process.port, paths](CURL* easy, const std::string& target) {
        for (const auto& [url, path] : paths) {
            if (url == target) {
                const std::string proxied = "http://127.0.0.1:" + std::to_string(port) + path;
                curl_easy_setopt(easy, CURLOPT_URL, proxied.c_str());
            }
        }
    };
    peer.success = "ok";
    peer.request = [port = process.port, paths](const std::string& target) {
        for (const auto& [url, path] : paths) {
            if (url == target) {
                return std::pair("http://127.0.0.1:" + std::to_string(port) + path, std::string());
            }
        }
        return std::pair(std::string(), std::string());
    };
    return peer;
}

struct Request {
    CURL* easy = nullptr;
    std::string body;
};

Request* makeRequest(const Peer& peer, const std::string& target) {
    auto* request = new Request;
    request->easy = curl_easy_init();
    CURL* easy = request->easy;
    peer.prepare(easy, target);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &append);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &request->body);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, request);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, 60000L);
    return request;
}

// Asks the peer for total probes of the target, concurrency at a time; returns the number
// reported successful.
int runProbes(const Peer& peer, const std::string& target, int total, int concurrency) {
    CURLM* multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, static_cast<long>(concurrency));
    int started = 0;
    int ok = 0;
    int running = 0;
    while (started < concurrency && started < total) {
        curl_multi_add_handle(multi, makeRequest(peer, target)->easy);
        ++started;
    }
    do {
        curl_multi_perform(multi, &running);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE) {
                continue;
            }
            Request* request = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &request);
            long status = 0;
            curl_easy_getinfo(message->easy_handle, CURLINFO_RESPONSE_CODE, &status);
            ok += status == 200 && request->body.find(peer.success) != std::string::npos;
            curl_multi_remove_handle(multi, message->easy_handle);
            curl_easy_cleanup(message->easy_handle);
            delete request;
            if (started < total) {
                curl_multi_add_handle(multi, makeRequest(peer, target)->easy);
                ++started;
                ++running;
            }
        }
        curl_multi_poll(multi, nullptr, 0, 100, nullptr);
    } while (running > 0 || started < total);
    curl_multi_cleanup(multi);
    return ok;
}

// A target that accepts every connection and never answers: each probe waits for its reply
// until the peer's time-out. Counts the connections it holds.
class SilentTarget {
public:
    SilentTarget() {
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_listen, 4096);
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            pollfd poller{m_listen, POLLIN, 0};
            while (!m_stop) {
                if (poll(&poller, 1, 50) <= 0) {
                    continue;
                }
                const int fd = accept(m_listen, nullptr, nullptr);
                if (fd >= 0) {
                    std::lock_guard lock(m_mutex);
                    m_held.push_back(fd);
                }
            }
        });
    }
    ~SilentTarget() {
        m_stop = true;
        m_thread.join();
        close(m_listen);
        release();
    }

    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }
    std::size_t held() const {
        std::lock_guard lock(m_mutex);
        return m_held.size();
    }
    // Closes every held connection.
    void release() {
        std::lock_guard lock(m_mutex);
        for (const int fd : m_held) {
            close(fd);
        }
        m_held.clear();
    }

private:
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<int> m_held;
};

double healthMs(const std::string& url) {
    const auto started = Clock::now();
    fetch(url);
    return std::chrono::duration<double, std::milli>(Clock::now() - started).count();
}

// What a peer held against a target that never answers.
struct Pending {
    long beforeKiB = 0;
    long pendingKiB = 0;
    std::size_t pending = 0;
    long threads = 0;
    std::vector<double> healthLatencies;

    double kibPerPending() const {
        return pending == 0 ? 0 : static_cast<double>(pendingKiB - beforeKiB) / pending;
    }
};

// Returns probes per second for checks probes of the target, and counts the successful ones.
double probeRate(const Peer& peer, const std::string& target, int checks, int concurrency,
                 int& succeeded) {
    const auto started = Clock::now();
    succeeded = runProbes(peer, target, checks, concurrency);
    return checks / std::chrono::duration<double>(Clock::now() - started).count();
}

// Runs wrk (two threads, the connections given) against the peer for the seconds given and
// returns its requests per second, or 0 when a reply was not 2xx or a socket failed.
double wrkRate(const Peer& peer, const std::string& target, int connections, int seconds) {
    const auto [url, body] = peer.request(target);
    char script[] = "/tmp/status_bench_wrk_XXXXXX.lua";
    const int fd = mkstemps(script, 4);
    std::string lua;
    if (!body.empty()) {
        lua = "wrk.method = \"POST\"\nwrk.body = '" + body +
              "'\nwrk.headers[\"Content-Type\"] = \"application/json\"\n";
    }
    if (fd < 0 || write(fd, lua.data(), lua.size()) != static_cast<ssize_t>(lua.size())) {
        std::perror("wrk script");
        std::exit(1);
    }
    close(fd);
    const std::string command = std::string(kWrk) + " -t2 -c" + std::to_string(connections) +
                                " -d" + std::to_string(seconds) + "s -s " + script + " '" + url +
                                "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char chunk[4096];
    while (pipe != nullptr && std::fgets(chunk, sizeof chunk, pipe) != nullptr) {
        output += chunk;
    }
    if (pipe != nullptr) {
        pclose(pipe);
    }
    unlink(script);
    std::smatch match;
    if (output.find("Non-2xx") != std::string::npos ||
        output.find("Socket errors") != std::string::npos ||
        !std::regex_search(output, match, std::regex("Requests/sec:\\s+([0-9.]+)"))) {
        std::fprintf(stderr, "%s: wrk: %s\n", peer.name.c_str(), output.c_str());
        return 0;
    }
    return std::stod(match[1]);
}

Pending measurePending(const Peer& peer, int pending, const std::string& healthUrl) {
    Pending figures;
    SilentTarget silent;
    figures.beforeKiB = procStatus(peer.process.pid, "VmRSS");
    std::thread load([&] { runProbes(peer, silent.url(), pending, pending); });
    // Waits until every probe has connected to the target and sent its request.
    for (int i = 0; i < 400 && silent.held() < static_cast<std::size_t>(pending); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    figures.pending = silent.held();
    figures.pendingKiB = procStatus(peer.process.pid, "VmRSS");
    figures.threads = procStatus(peer.process.pid, "Threads");
    if (!healthUrl.empty()) {
        for (int i = 0; i < 200; ++i) {
            figures.healthLatencies.push_back(healthMs(healthUrl));
        }
        std::sort(figures.healthLatencies.begin(), figures.healthLatencies.end());
    }
    // Closing the held connections ends every pending probe, and with it the load thread.
    silent.release();
    load.join();
    return figures;
}

// One attacker with 200 addresses, each trickling 25 request heads at one byte a second (within
// the per-client limit of 32; together five times the 1,024 slots), against a service with its
// default limits; meanwhile a fresh address asks for /healthcheck 241 times, then for a check.
void measureAttack(const std::string& target) {
    Process service = startQuelvarStatus(true);
    std::vector<std::string> addresses;
    for (int i = 1; i <= 200; ++i) {
        addresses.push_back("127.0.1." + std::to_string(i));
    }
    quelvar::test::HeadTrickler attack(static_cast<std::uint16_t>(service.port), addresses, 25,
                                       std::chrono::seconds(1));
    // Until the slots are taken, and a while longer.
    for (int i = 0; i < 100 && attack.open() < 1024; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const std::string health = "http://127.0.0.1:" + std::to_string(service.port) + "/healthcheck";
    constexpr int kProbes = 241;
    int answered = 0;
    for (int i = 0; i < kProbes; ++i) {
        CURL* easy = curl_easy_init();
        std::string body;
        curl_easy_setopt(easy, CURLOPT_URL, health.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        curl_easy_setopt(easy, CURLOPT_INTERFACE, "127.0.3.1");
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, 2000L);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &append);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
        long status = 0;
        if (curl_easy_perform(easy) == CURLE_OK) {
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        }
        curl_easy_cleanup(easy);
        answered += status == 200;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Peer peer = quelvarPeer(service);
    CURL* easy = nullptr;
    Request* request = makeRequest(peer, target);
    easy = request->easy;
    curl_easy_setopt(easy, CURLOPT_INTERFACE, "127.0.3.1");
    long status = 0;
    if (curl_easy_perform(easy) == CURLE_OK) {
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    }
    const bool checked = status == 200 && request->body.find(peer.success) != std::string::npos;
    curl_easy_cleanup(easy);
    delete request;
    std::printf(
        "attack: 200 addresses x 25 slow heads (%d connections open, %d closed by the "
        "service): /healthcheck answered %d of %d from a fresh address; a check from it "
        "%s\n",
        attack.open(), attack.closedByService(), answered, kProbes,
        checked ? "succeeded" : "failed");
    std::printf("attack-health-percent %.1f\n", 100.0 * answered / kProbes);
    stop(service);
}

void printPending(const Peer& peer, const Pending& f) {
    std::printf(
        "%s: silent target: %zu pending probes, RSS before %ld KiB, pending %ld KiB (%.1f KiB "
        "per pending probe), threads %ld\n",
        peer.name.c_str(), f.pending, f.beforeKiB, f.pendingKiB, f.kibPerPending(), f.threads);
    if (!f.healthLatencies.empty()) {
        const auto& l = f.healthLatencies;
        std::printf("%s: /healthcheck under that load: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                    peer.name.c_str(), l[l.size() / 2], l[l.size() * 99 / 100], l.back());
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int checks = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int concurrency = argc > 2 ? std::atoi(argv[2]) : 32;
    const int pending = argc > 3 ? std::atoi(argv[3]) : 2000;
    const int rounds = argc > 4 ? std::atoi(argv[4]) : 3;
    const int seconds = argc > 5 ? std::atoi(argv[5]) : 5;
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    signal(SIGPIPE, SIG_IGN);
    curl_global_init(CURL_GLOBAL_DEFAULT);

    if (access(kNginx, X_OK) != 0) {
        std::printf(
            "%s not found: no nginx target and no proxy to compare with "
            "(apt-get install nginx-light)\n",
            kNginx);
        return 0;
    }
    // One nginx target, one process: "ok" on a connection kept open for more, and on one
    // closed after each reply.
    const int keepPort = freeLoopbackPort();
    const int closePort = freeLoopbackPort();
    const std::string keepTarget = "http://127.0.0.1:" + std::to_string(keepPort) + "/";
    const std::string closeTarget = "http://127.0.0.1:" + std::to_string(closePort) + "/";
    std::optional<Process> target =
        startNginx("target",
                   "  server { listen 127.0.0.1:" + std::to_string(keepPort) +
                       "; keepalive_requests 1000000; location / { return 200 \"ok\"; } }\n"
                       "  server { listen 127.0.0.1:" +
                       std::to_string(closePort) +
                       "; keepalive_timeout 0; location / { return 200 \"ok\"; } }\n",
                   keepTarget);
    if (!target) {
        return 1;
    }

    // The reverse proxy: one process, kept upstream connections where the target keeps them.
    Process proxyProcess;
    proxyProcess.port = freeLoopbackPort();
    std::optional<Process> proxy = startNginx(
        "proxy",
        "  upstream keep { server 127.0.0.1:" + std::to_string(keepPort) +
            "; keepalive 64; }\n"
            "  upstream close { server 127.0.0.1:" +
            std::to_string(closePort) +
            "; }\n"
            "  server { listen 127.0.0.1:" +
            std::to_string(proxyProcess.port) +
            "; keepalive_requests 1000000;\n"
            "    location /keep { proxy_pass http://keep/; proxy_http_version 1.1; "
            "proxy_set_header Connection \"\"; }\n"
            "    location /close { proxy_pass http://close/; proxy_http_version 1.1; } }\n",
        "http://127.0.0.1:" + std::to_string(proxyProcess.port) + "/keep");
    if (!proxy) {
        stop(*target);
        return 1;
    }
    proxyProcess.pid = proxy->pid;

    std::vector<Peer> peers;
    peers.push_back(quelvarPeer(startQuelvarStatus()));
    peers.push_back(proxyPeer(proxyProcess, {{keepTarget, "/keep"}, {closeTarget, "/close"}}));
    std::optional<Process> exporter = startBlackbox();
    if (exporter) {
        peers.push_back(blackboxPeer(*exporter));
    } else {
        std::printf(
            "%s not found: no exporter figures (apt-get install "
            "prometheus-blackbox-exporter)\n",
            kBlackbox);
    }

    // Best rate of each peer on each target over the rounds, measured in alternation so that
    // a slower moment of the machine falls on every peer alike.
    struct Variant {
        const char* name;
        std::string target;
    };
    const Variant variants[] = {{"keep", keepTarget}, {"close", closeTarget}};
    std::vector<std::array<double, 2>> best(peers.size(), {0, 0});
    for (const Peer& peer : peers) {
        int ignored = 0;
        probeRate(peer, keepTarget, 500, concurrency, ignored);  // warm-up
    }
    // Every peer's probes succeed on both targets, checked by reading each reply; wrk, which
    // only sees the status, then measures the rate where it is installed (its two threads
    // load the peers harder than one libcurl multi handle can).
    const bool withWrk = access(kWrk, X_OK) == 0;
    if (!withWrk) {
        std::printf("%s not found: rates measured with libcurl (apt-get install wrk)\n", kWrk);
    }
    for (const Peer& peer : peers) {
        for (const Variant& variant : variants) {
            const int succeeded = runProbes(peer, variant.target, 500, concurrency);
            if (succeeded != 500) {
                std::printf("%s: only %d of 500 probes of the %s target succeeded\n",
                            peer.name.c_str(), succeeded, variant.name);
                return 1;
            }
        }
    }
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t v = 0; v < 2; ++v) {
            for (std::size_t p = 0; p < peers.size(); ++p) {
                int succeeded = checks;
                const double rate =
                    withWrk
                        ? wrkRate(peers[p], variants[v].target, concurrency, seconds)
                        : probeRate(peers[p], variants[v].target, checks, concurrency, succeeded);
                std::printf("round %d, target %s: %s %.0f probes/s\n", round + 1, variants[v].name,
                            peers[p].name.c_str(), rate);
                std::fflush(stdout);
                if (succeeded == checks) {
                    best[p][v] = std::max(best[p][v], rate);
                }
            }
        }
    }

    const Pending ours = measurePending(
        peers[0], pending,
        "http://127.0.0.1:" + std::to_string(peers[0].process.port) + "/healthcheck");
    printPending(peers[0], ours);
    if (exporter) {
        const Pending theirs = measurePending(peers[2], pending, "");
        printPending(peers[2], theirs);
        std::printf("memory per pending probe, quelvar-status / exporter: %.2f\n",
                    ours.kibPerPending() / theirs.kibPerPending());
    }

    measureAttack(keepTarget);
    std::printf("ratio-proxy-keep %.2f\n", best[0][0] / best[1][0]);
    std::printf("ratio-proxy-close %.2f\n", best[0][1] / best[1][1]);
    if (exporter) {
        std::printf("ratio-exporter %.2f\n", best[0][0] / best[2][0]);
        std::printf("ratio-exporter-close %.2f\n", best[0][1] / best[2][1]);
    }
    for (Peer& peer : peers) {
        stop(peer.process);
    }
    stop(*target);
    std::fflush(stdout);
    std::_Exit(0);
}
