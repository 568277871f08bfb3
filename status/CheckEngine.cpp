#include "status/CheckEngine.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "status/CheckUrl.h"
#include "status/FailureCode.h"
#include "status/ServiceError.h"
#include "text/Ascii.h"

namespace quelvar::status {

namespace {

constexpr const char* kUserAgent = "quelvar-status/1.0";
// Bounds what one reply may make the service hold.
constexpr std::size_t kMaxStatusMessageBytes = 256;
// The header block of one reply, interim replies included. Larger than any real server sends
// (Node.js refuses more than 16 KiB) and below libcurl's own bounds, so that an overflow is
// always recognised here.
constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

using Clock = std::chrono::steady_clock;

std::chrono::microseconds micros(curl_off_t value) {
    return std::chrono::microseconds(std::max<curl_off_t>(0, value));
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::once_flag g_curlInit;

// Records the days until the peer certificate of the hop's TLS session expires. The session is
// inspected while the transfer runs, so that a reused connection's certificate is seen as well
// as a new one's.
template <typename CheckType>
void inspectCertificate(CheckType& check) {
    const curl_tlssessioninfo* session = nullptr;
    if (curl_easy_getinfo(check.easy, CURLINFO_TLS_SSL_PTR, &session) != CURLE_OK ||
        session == nullptr || session->backend != CURLSSLBACKEND_OPENSSL ||
        session->internals == nullptr) {
        return;
    }
    const X509* peer = SSL_get0_peer_certificate(static_cast<const SSL*>(session->internals));
    int days = 0;
    int seconds = 0;
    if (peer != nullptr &&
        ASN1_TIME_diff(&days, &seconds, nullptr, X509_get0_notAfter(peer)) == 1) {
        check.certificateDays = days;
    }
}

}  // namespace

// The state of one check and of its current hop.
struct CheckEngine::Check {
    CheckEngine* engine = nullptr;
    Ticket ticket = 0;
    CheckResult result;
    Completion done;
    Clock::time_point started;
    Clock::time_point deadline;
    int redirects = 0;

    CURL* easy = nullptr;
    std::string hopUrl;
    std::string statusMessage;
    // The next header line is the status line of a reply (the first, or one after an interim
    // 1xx reply).
    bool expectStatusLine = true;
    bool headersComplete = false;
    std::size_t headerBytes = 0;
    bool headerOverflow = false;
    bool switchedProtocols = false;  // the reply was a 101, which a GET never asked for
    bool tlsInspected = false;
    std::optional<long> certificateDays;
    std::size_t bodyBytes = 0;
    bool bodyAbandoned = false;
    bool blocked = false;
};

CheckEngine::CheckEngine(EngineSettings settings) : m_settings(std::move(settings)) {
    std::call_once(g_curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (!m_settings.caFile.empty()) {
        m_extraAnchors = TrustAnchors(m_settings.caFile);
    }
    m_multi = curl_multi_init();
    // Idle connections kept for reuse by later hops and checks.
    curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, 256L);
    m_thread = std::thread([this] { run(); });
}

CheckEngine::~CheckEngine() {
    stop();
    for (CURL* easy : m_spareHandles) {
        curl_easy_cleanup(easy);
    }
    curl_multi_cleanup(m_multi);
}

CheckEngine::Ticket CheckEngine::submit(std::string url, Completion done) {
    Ticket ticket = 0;
    {
        std::lock_guard lock(m_mutex);
        ticket = m_nextTicket++;
        if (!m_stopping) {
            ++m_inFlight;
            m_incoming.push_back({ticket, std::move(url), std::move(done)});
            // The loop takes the whole queue at once: a queue that held a submission already
            // has its wake-up on the way.
            if (m_incoming.size() == 1 && m_cancelled.empty()) {
                curl_multi_wakeup(m_multi);
            }
            return ticket;
        }
    }
    CheckResult result;
    result.requestUrl = std::move(url);
    result.code = std::string(kCancelledCode);
    done(std::move(result));
    return ticket;
}

void CheckEngine::cancel(Ticket ticket) {
    std::lock_guard lock(m_mutex);
    if (!m_stopping) {
        m_cancelled.push_back(ticket);
        if (m_cancelled.size() == 1 && m_incoming.empty()) {
            curl_multi_wakeup(m_multi);
        }
    }
}

void CheckEngine::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    curl_multi_wakeup(m_multi);
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CheckEngine::run() {
    for (;;) {
        std::deque<Submission> incoming;
        std::vector<Ticket> cancelled;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping) {
                break;
            }
            incoming.swap(m_incoming);
            cancelled.swap(m_cancelled);
        }
        for (Submission& submission : incoming) {
            try {
                begin(submission);
            } catch (...) {
                // Out of memory: the check still ends, and its connection is answered.
                const auto it = m_byTicket.find(submission.ticket);
                if (it != m_byTicket.end() && m_checks.count(it->second) != 0) {
                    complete(*it->second, std::string(FailureCode::kOutOfMemory));
                } else if (submission.done) {
                    m_byTicket.erase(submission.ticket);
                    CheckResult result;
                    result.code = std::string(FailureCode::kOutOfMemory);
                    --m_inFlight;
                    try {
                        submission.done(std::move(result));
                    } catch (...) {
                    }
                }
            }
        }
        // After the submissions, so that a check cancelled at once is found.
        for (const Ticket ticket : cancelled) {
            const auto it = m_byTicket.find(ticket);
            if (it != m_byTicket.end()) {
                complete(*it->second, std::string(kCancelledCode));
            }
        }
        int running = 0;
        curl_multi_perform(m_multi, &running);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                finishHop(message->easy_handle, message->data.result);
            }
        }
        // Waits for socket activity, libcurl's own next time-out, or a wake-up from submit().
        curl_multi_poll(m_multi, nullptr, 0, 1000, nullptr);
    }
    cancelAll();
}

void CheckEngine::begin(Submission& submission) {
    auto owned = std::make_unique<Check>();
    Check& check = *owned;
    check.engine = this;
    check.ticket = submission.ticket;
    check.started = Clock::now();
    check.deadline = check.started + m_settings.checkTimeout;
    m_byTicket.emplace(check.ticket, &check);
    m_checks.emplace(&check, std::move(owned));
    // Taken over only once the check is registered, so that a failure before leaves the
    // submission whole for the loop to complete.
    check.result.requestUrl = std::move(submission.url);
    check.done = std::move(submission.done);
    const std::string url = normaliseCheckUrl(check.result.requestUrl);
    if (url.empty()) {
        complete(check, std::string(FailureCode::kInvalidUrl));
        return;
    }
    if (!startHop(check, url)) {
        complete(check, std::string(FailureCode::kOutOfMemory));
    }
}

CURL* CheckEngine::takeHandle() {
    if (m_spareHandles.empty()) {
        return curl_easy_init();
    }
    CURL* easy = m_spareHandles.back();
    m_spareHandles.pop_back();
    // Every option a hop uses is set again below; the reset clears those of the last hop.
    curl_easy_reset(easy);
    return easy;
}

void CheckEngine::releaseHandle(CURL* easy) {
    curl_multi_remove_handle(m_multi, easy);
    // As many as were busy at once, within a bound, so that a burst of checks leaves no lasting
    // memory behind.
    constexpr std::size_t kMaxSpareHandles = 64;
    if (m_spareHandles.size() < kMaxSpareHandles) {
        try {
            m_spareHandles.push_back(easy);
            return;
        } catch (...) {
        }
    }
    curl_easy_cleanup(easy);
}

bool CheckEngine::startHop(Check& check, const std::string& url) {
    CURL* easy = takeHandle();
    if (easy == nullptr) {
        return false;
    }
    check.easy = easy;
    check.hopUrl = url;
    check.statusMessage.clear();
    check.expectStatusLine = true;
    check.headersComplete = false;
    check.headerBytes = 0;
    check.headerOverflow = false;
    check.switchedProtocols = false;
    check.tlsInspected = false;
    check.certificateDays.reset();
    check.bodyBytes = 0;
    check.bodyAbandoned = false;
    check.blocked = false;

    const auto remaining =
        std::chrono::duration_cast<std::chrono::milliseconds>(check.deadline - Clock::now());
    const long total = std::max<long>(1, static_cast<long>(remaining.count()));
    const long connect =
        std::min<long>(total, static_cast<long>(m_settings.connectTimeout.count()));

    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &check);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    // Redirects are followed here, hop by hop, so that every hop is recorded and every hop's
    // connection passes the address policy.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // A proxy from the environment would make the policy judge the proxy, not the target.
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, connect);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, total);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &CheckEngine::onOpenSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, &check);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CheckEngine::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &check);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CheckEngine::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &check);
    if (!m_extraAnchors.empty()) {
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &CheckEngine::onSslContext);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this);
    }
    if (curl_multi_add_handle(m_multi, easy) != CURLM_OK) {
        curl_easy_cleanup(easy);
        check.easy = nullptr;
        return false;
    }
    return true;
}

void CheckEngine::finishHop(CURL* easy, CURLcode result) {
    Check* checkPointer = nullptr;
    curl_easy_getinfo(easy, CURLINFO_PRIVATE, reinterpret_cast<char**>(&checkPointer));
    Check& check = *checkPointer;

    if (check.switchedProtocols) {
        complete(check, std::string(FailureCode::kProtocol));
        return;
    }
    // A hop whose status line and headers arrived has been answered, even when its body was
    // abandoned, cut short or too slow.
    if (result != CURLE_OK && !check.headersComplete) {
        TransferFailure failure;
        failure.curlCode = result;
        curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &failure.tlsVerifyResult);
        long osErrno = 0;
        curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
        failure.osErrno = static_cast<int>(osErrno);
        failure.blockedByPolicy = check.blocked;
        // libcurl reports a single header line above its own bound as running out of memory;
        // it is the reply's fault either way, never the service's.
        failure.headerOverflow = check.headerOverflow || result == CURLE_OUT_OF_MEMORY;
        complete(check, failureCode(failure));
        return;
    }

    ChainEntry entry;
    entry.url = check.hopUrl;
    long responseCode = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &responseCode);
    entry.statusCode = static_cast<int>(responseCode);
    entry.statusMessage = check.statusMessage.empty()
                              ? std::string(ChainEntry::standardReasonPhrase(entry.statusCode))
                              : check.statusMessage;
    char* redirect = nullptr;
    bool redirectTooLong = false;
    if (curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &redirect) == CURLE_OK &&
        redirect != nullptr) {
        // A cut URL is one the server never sent: neither reported nor fetched.
        if (std::strlen(redirect) > kMaxCheckUrlBytes) {
            redirectTooLong = true;
        } else {
            entry.redirectUrl = std::string(redirect);
        }
    }
    curl_off_t dns = 0, connect = 0, tls = 0, firstByte = 0, total = 0;
    curl_easy_getinfo(easy, CURLINFO_NAMELOOKUP_TIME_T, &dns);
    curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connect);
    curl_easy_getinfo(easy, CURLINFO_APPCONNECT_TIME_T, &tls);
    curl_easy_getinfo(easy, CURLINFO_STARTTRANSFER_TIME_T, &firstByte);
    curl_easy_getinfo(easy, CURLINFO_TOTAL_TIME_T, &total);
    entry.timings.dns = micros(dns);
    entry.timings.connect = connect > 0 ? micros(connect - dns) : std::chrono::microseconds(0);
    entry.timings.tls = tls > 0 ? micros(tls - connect) : std::chrono::microseconds(0);
    entry.timings.firstByte = micros(firstByte - std::max({dns, connect, tls}));
    entry.timings.total = micros(total);
    entry.certificateExpiresInDays = check.certificateDays;
    check.result.chain.push_back(std::move(entry));
    const ChainEntry& last = check.result.chain.back();

    releaseHandle(easy);
    check.easy = nullptr;

    if (isRedirect(last.statusCode) && redirectTooLong) {
        complete(check, std::string(FailureCode::kRedirectTooLong));
        return;
    }
    if (!isRedirect(last.statusCode) || !last.redirectUrl) {
        complete(check, std::nullopt);
        return;
    }
    if (check.redirects >= m_settings.maxRedirects) {
        // The name Node.js's redirect follower gives to this failure.
        complete(check, std::string(FailureCode::kTooManyRedirects));
        return;
    }
    const std::string next = normaliseCheckUrl(*last.redirectUrl);
    if (next.empty()) {
        complete(check, std::string(FailureCode::kInvalidUrl));
        return;
    }
    if (Clock::now() >= check.deadline) {
        complete(check, std::string(FailureCode::kTimedOut));
        return;
    }
    ++check.redirects;
    if (!startHop(check, next)) {
        complete(check, std::string(FailureCode::kOutOfMemory));
    }
}

void CheckEngine::complete(Check& check, std::optional<std::string> code) {
    if (check.easy != nullptr) {
        releaseHandle(check.easy);
        check.easy = nullptr;
    }
    check.result.code = std::move(code);
    check.result.duration =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - check.started);
    Completion done = std::move(check.done);
    CheckResult result = std::move(check.result);
    m_byTicket.erase(check.ticket);
    m_checks.erase(&check);
    --m_inFlight;
    try {
        done(std::move(result));
    } catch (...) {
        // The completion answers its own failures; one that escapes must not end the loop
        // thread, and with it every other check.
    }
}

void CheckEngine::cancelAll() {
    std::deque<Submission> incoming;
    {
        std::lock_guard lock(m_mutex);
        incoming.swap(m_incoming);
    }
    for (Submission& submission : incoming) {
        CheckResult result;
        result.requestUrl = std::move(submission.url);
        result.code = std::string(kCancelledCode);
        --m_inFlight;
        try {
            submission.done(std::move(result));
        } catch (...) {
        }
    }
    while (!m_checks.empty()) {
        complete(*m_checks.begin()->first, std::string(kCancelledCode));
    }
}

std::size_t CheckEngine::onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& check = *static_cast<Check*>(user);
    const std::size_t length = size * count;
    // No exception may cross libcurl's C frames; a failure here fails the hop.
    try {
        return headerLine(check, std::string_view(data, length));
    } catch (...) {
        return 0;
    }
}

std::size_t CheckEngine::headerLine(Check& check, std::string_view line) {
    const std::size_t length = line.size();
    // Trailers of a chunked body come this way too; the reply was judged by then.
    if (check.headersComplete) {
        return length;
    }
    check.headerBytes += length;
    if (check.headerBytes > kMaxHeaderBytes) {
        check.headerOverflow = true;
        return 0;  // aborts the transfer
    }
    if (check.expectStatusLine) {
        // The first line of a reply, interim (1xx) or final: "HTTP/1.1 200 OK". libcurl has
        // parsed the code already (CURLINFO_RESPONSE_CODE); only the reason phrase is taken
        // from here, and from no other line, so that a header line that looks like a status
        // line changes nothing.
        check.expectStatusLine = false;
        check.statusMessage.clear();
        line = trimBlanksAndLineBreaks(line);
        const auto firstSpace = line.find(' ');
        const auto secondSpace =
            firstSpace == std::string_view::npos ? firstSpace : line.find(' ', firstSpace + 1);
        if (secondSpace != std::string_view::npos) {
            const std::string_view reason = trimBlanks(line.substr(secondSpace + 1));
            check.statusMessage = std::string(reason.substr(0, kMaxStatusMessageBytes));
        }
        if (!check.tlsInspected) {
            check.tlsInspected = true;
            inspectCertificate(check);
        }
    } else if (line == "\r\n" || line == "\n") {
        // The end of a reply's header block.
        long code = 0;
        curl_easy_getinfo(check.easy, CURLINFO_RESPONSE_CODE, &code);
        if (code >= 200) {
            check.headersComplete = true;
        } else if (code == 101) {
            // RFC 9110 section 15.2.2: a server switches only when the request asked to (an
            // Upgrade header), and this one never does. What follows is no HTTP reply, and
            // libcurl would wait for one until the check's time-out.
            check.switchedProtocols = true;
            return 0;  // aborts the transfer
        } else {
            check.expectStatusLine = true;
        }
    }
    return length;
}

std::size_t CheckEngine::onBody(char*, std::size_t size, std::size_t count, void* user) {
    auto& check = *static_cast<Check*>(user);
    const std::size_t length = size * count;
    check.bodyBytes += length;
    if (check.bodyBytes > check.engine->m_settings.maxBodyBytes) {
        // The status is known; a long or endless body is not worth the wait.
        check.bodyAbandoned = true;
        return 0;
    }
    return length;
}

curl_socket_t CheckEngine::onOpenSocket(void* user, curlsocktype purpose, curl_sockaddr* address) {
    auto& check = *static_cast<Check*>(user);
    bool permitted = false;
    try {
        permitted = purpose == CURLSOCKTYPE_IPCXN &&
                    check.engine->m_settings.policy.permits(&address->addr, address->addrlen);
    } catch (...) {
        // Reading the host's addresses failed: the address cannot be judged, so it is refused.
    }
    if (!permitted) {
        check.blocked = true;
        return CURL_SOCKET_BAD;
    }
    const int fd = socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    return fd < 0 ? CURL_SOCKET_BAD : fd;
}

CURLcode CheckEngine::onSslContext(CURL*, void* sslContext, void* user) {
    auto& engine = *static_cast<CheckEngine*>(user);
    engine.m_extraAnchors.addTo(static_cast<SSL_CTX*>(sslContext));
    return CURLE_OK;
}

}  // namespace quelvar::status
