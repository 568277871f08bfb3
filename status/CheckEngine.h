#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "status/AddressPolicy.h"
#include "status/CheckResult.h"
#include "status/TrustAnchors.h"

namespace quelvar::status {

// What the engine fetches with and how long it may take.
struct EngineSettings {
    AddressPolicy policy;
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds checkTimeout{20000};
    // A PEM file of extra trust anchors, used beside the system store; empty for none.
    std::string caFile;
    // Redirects followed; the reply after the last of them ends the check either way.
    int maxRedirects = 10;
    // Body bytes read from each reply before the rest is abandoned.
    std::size_t maxBodyBytes = 64 * 1024;
};

// Fetches URLs for checks on one loop thread through the libcurl multi interface, following
// redirects itself, one easy handle per hop, connections shared between hops and checks.
// Every connection goes through the address policy at the moment it is opened.
class CheckEngine {
public:
    using Completion = std::function<void(CheckResult)>;
    // Names one submitted check, for cancel().
    using Ticket = std::uint64_t;

    // Starts the loop thread; throws ServiceError when the CA file has no usable certificate.
    explicit CheckEngine(EngineSettings settings);
    // Stops the loop, completing unfinished checks with "ECANCELED".
    ~CheckEngine();
    CheckEngine(const CheckEngine&) = delete;
    CheckEngine& operator=(const CheckEngine&) = delete;

    // Queues a check of the URL; calls done once, on the loop thread (or at once when the
    // engine has stopped), with its result. Safe to call from any thread.
    Ticket submit(std::string url, Completion done);
    // Ends the check soon with "ECANCELED", unless it has ended already. Safe to call from any
    // thread.
    void cancel(Ticket ticket);
    // Stops the loop thread, completing unfinished checks with "ECANCELED"; idempotent.
    void stop();
    // Returns the number of checks submitted and not yet completed.
    std::size_t inFlight() const { return m_inFlight.load(); }

    const EngineSettings& settings() const { return m_settings; }

private:
    struct Check;
    struct Submission {
        Ticket ticket;
        std::string url;
        Completion done;
    };

    void run();
    void begin(Submission& submission);
    bool startHop(Check& check, const std::string& url);
    void finishHop(CURL* easy, CURLcode result);
    void complete(Check& check, std::optional<std::string> code);
    void cancelAll();
    // Returns a handle for the next hop: a reset one that a finished hop left, or a new one.
    CURL* takeHandle();
    // Takes the handle out of the multi and keeps it for a later hop, or frees it.
    void releaseHandle(CURL* easy);

    static std::size_t headerLine(Check& check, std::string_view line);
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user);
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user);
    static curl_socket_t onOpenSocket(void* user, curlsocktype purpose, curl_sockaddr* address);
    static CURLcode onSslContext(CURL* easy, void* sslContext, void* user);

    EngineSettings m_settings;
    TrustAnchors m_extraAnchors;
    CURLM* m_multi = nullptr;

    std::mutex m_mutex;
    std::deque<Submission> m_incoming;
    std::vector<Ticket> m_cancelled;
    Ticket m_nextTicket = 1;
    bool m_stopping = false;
    std::atomic<std::size_t> m_inFlight{0};

    // Handles of finished hops, kept for reuse by the loop thread: a new handle costs an
    // allocation of several KiB, cleared, and libcurl's receive buffer on its first transfer.
    std::vector<CURL*> m_spareHandles;
    std::unordered_map<Check*, std::unique_ptr<Check>> m_checks;
    std::unordered_map<Ticket, Check*> m_byTicket;
    std::thread m_thread;
};

}  // namespace quelvar::status
