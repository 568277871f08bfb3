// Median per-GET time of DirectClient (a new client per GET, as the program makes one per
// probe) next to libcurl's easy interface (a new handle per GET), so that both open a fresh
// loopback connection every time. Usage: direct_bench [count], 2000 GETs each by default.

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "http/DirectClient.h"

namespace {

constexpr int kDefaultCount = 2000;
constexpr char kReply[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

// A loopback server answering every request with kReply and closing; one connection at a
// time, as the GETs run one after another.
class LoopbackServer {
public:
    LoopbackServer() {
        m_listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listenFd, 128) != 0)
            throw std::runtime_error("cannot listen on loopback");
        socklen_t length = sizeof address;
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { acceptLoop(); });
    }
    ~LoopbackServer() {
        m_stopping = true;
        m_thread.join();
        ::close(m_listenFd);
    }
    int port() const { return m_port; }

private:
    void acceptLoop() {
        while (!m_stopping) {
            pollfd waiting{m_listenFd, POLLIN, 0};
            if (::poll(&waiting, 1, 100) <= 0)
                continue;
            int fd = ::accept(m_listenFd, nullptr, nullptr);
            if (fd < 0)
                continue;
            serve(fd);
        }
    }
    // Reads the whole request head before answering, so that closing never meets unread
    // bytes (which would reset the connection).
    static void serve(int fd) {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            request.append(buffer, static_cast<std::size_t>(n));
        }
        ::send(fd, kReply, sizeof kReply - 1, MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
    }

    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

std::size_t keepBody(char* data, std::size_t size, std::size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

double medianMicroseconds(int count, const std::function<void()>& get) {
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        auto start = std::chrono::steady_clock::now();
        get();
        auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
    int count = argc > 1 ? std::atoi(argv[1]) : kDefaultCount;
    if (count <= 0)
        count = kDefaultCount;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    LoopbackServer server;
    std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/";

    auto directGet = [&] {
        quelvar::DirectClient client;
        if (client.get(url) != "ok")
            throw std::runtime_error("DirectClient: unexpected body");
    };
    auto curlGet = [&] {
        CURL* handle = curl_easy_init();
        std::string body;
        curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle, CURLOPT_PROXY, "");
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, keepBody);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
        CURLcode result = curl_easy_perform(handle);
        curl_easy_cleanup(handle);
        if (result != CURLE_OK)
            throw std::runtime_error(std::string("libcurl: ") + curl_easy_strerror(result));
        if (body != "ok")
            throw std::runtime_error("libcurl: unexpected body");
    };

    // A few GETs of each first, so that neither pays the first-use costs in the figures.
    for (int i = 0; i < 20; ++i) {
        directGet();
        curlGet();
    }
    double direct = medianMicroseconds(count, directGet);
    double curl = medianMicroseconds(count, curlGet);
    std::printf("GETs each: %d (fresh loopback connection per GET)\n", count);
    std::printf("DirectClient median: %.1f us\n", direct);
    std::printf("libcurl median:      %.1f us\n", curl);
    std::printf("ratio DirectClient/libcurl: %.2f\n", direct / curl);
    curl_global_cleanup();
    return 0;
}
