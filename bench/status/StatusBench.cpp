// Measures quelvar-status on loopback: checks per second against a fast target, and pending
// checks held against a target that never answers, with the service's memory and the latency
// of /healthcheck meanwhile. When prometheus-blackbox-exporter is installed, the same two
// measurements are taken of it in the same run, probing the same targets, and the ratios are
// printed. Usage: status_bench [checks] [concurrency] [pending]
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

#include "tests/fixtures/ScriptedServer.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kBlackbox = "/usr/bin/prometheus-blackbox-exporter";

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

Process startQuelvarStatus() {
    int err = -1;
    Process service;
    service.pid =
        spawn({QUELVAR_STATUS_BINARY, "--listen", "127.0.0.1:0", "--allow-private",
               "--rate-per-minute", "0", "--max-connections-per-client", "0", "--max-connections",
               "30000", "--max-checks", "30000", "--check-timeout-ms", "20000"},
              err);
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

struct Figures {
    // Against the target that keeps its connections open, and the one that closes each.
    double probesPerSecond = 0;
    int succeeded = 0;
    double closingProbesPerSecond = 0;
    int closingSucceeded = 0;
    long idleKiB = 0;
    long beforeKiB = 0;
    long pendingKiB = 0;
    std::size_t pending = 0;
    long threads = 0;
    std::vector<double> healthLatencies;

    double kibPerPending() const {
        return pending == 0 ? 0 : static_cast<double>(pendingKiB - beforeKiB) / pending;
    }
};

Figures measure(const Peer& peer, const std::string& fastTarget, const std::string& closingTarget,
                int checks, int concurrency, int pending, const std::string& healthUrl) {
    Figures figures;
    figures.idleKiB = procStatus(peer.process.pid, "VmRSS");
    runProbes(peer, fastTarget, 200, concurrency);  // warm-up
    auto started = Clock::now();
    figures.succeeded = runProbes(peer, fastTarget, checks, concurrency);
    figures.probesPerSecond =
        checks / std::chrono::duration<double>(Clock::now() - started).count();
    started = Clock::now();
    figures.closingSucceeded = runProbes(peer, closingTarget, checks, concurrency);
    figures.closingProbesPerSecond =
        checks / std::chrono::duration<double>(Clock::now() - started).count();

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

void print(const Peer& peer, const Figures& f, int checks, int concurrency) {
    std::printf("%s: fast target: %d probes (%d successful), concurrency %d: %.0f probes/s\n",
                peer.name.c_str(), checks, f.succeeded, concurrency, f.probesPerSecond);
    std::printf(
        "%s: fast target closing each connection: %d probes (%d successful): "
        "%.0f probes/s\n",
        peer.name.c_str(), checks, f.closingSucceeded, f.closingProbesPerSecond);
    std::printf(
        "%s: silent target: %zu pending probes, RSS idle %ld KiB, before %ld KiB, "
        "pending %ld KiB (%.1f KiB per pending probe), threads %ld\n",
        peer.name.c_str(), f.pending, f.idleKiB, f.beforeKiB, f.pendingKiB, f.kibPerPending(),
        f.threads);
    if (!f.healthLatencies.empty()) {
        const auto& l = f.healthLatencies;
        std::printf("%s: /healthcheck under that load: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                    peer.name.c_str(), l[l.size() / 2], l[l.size() * 99 / 100], l.back());
    }
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

    // One fast target for both peers: a plain 200 on a connection kept open for more.
    quelvar::test::ScriptedServer fast;
    quelvar::test::Exchange ok;
    ok.reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    ok.closeAfter = false;
    fast.setFallback(ok);
    const std::string fastTarget = fast.url("/healthcheck");
    // The same reply, with the connection closed after it: every probe connects anew.
    quelvar::test::ScriptedServer closing;
    ok.closeAfter = true;
    closing.setFallback(ok);
    const std::string closingTarget = closing.url("/healthcheck");

    Peer quelvar = quelvarPeer(startQuelvarStatus());
    const Figures ours =
        measure(quelvar, fastTarget, closingTarget, checks, concurrency, pending,
                "http://127.0.0.1:" + std::to_string(quelvar.process.port) + "/healthcheck");
    stop(quelvar.process);
    print(quelvar, ours, checks, concurrency);

    std::optional<Process> exporter = startBlackbox();
    if (!exporter) {
        std::printf("%s not found: no comparison (apt-get install prometheus-blackbox-exporter)\n",
                    kBlackbox);
    } else {
        Peer blackbox = blackboxPeer(*exporter);
        const Figures theirs =
            measure(blackbox, fastTarget, closingTarget, checks, concurrency, pending, "");
        stop(blackbox.process);
        print(blackbox, theirs, checks, concurrency);
        std::printf(
            "ratio quelvar-status / blackbox-exporter: probes/s %.2f (closing target "
            "%.2f), memory per pending probe %.2f\n",
            ours.probesPerSecond / theirs.probesPerSecond,
            ours.closingProbesPerSecond / theirs.closingProbesPerSecond,
            ours.kibPerPending() / theirs.kibPerPending());
    }
    std::fflush(stdout);
    std::_Exit(0);
}
