#pragma once

#include <rapidjson/document.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "status/StatusService.h"
#include "tests/fixtures/Certificates.h"
#include "tests/fixtures/LoopbackSocket.h"

namespace quelvar::test {

// One reply as a libcurl client saw it.
struct HttpReply {
    long status = 0;
    std::string headers;
    std::string body;
    std::string error;  // libcurl's message when no reply came
};

// Sends one request with libcurl; headers are "Name: value" lines. caFile, when given, is the
// trust anchor for an https URL.
HttpReply httpRequest(const std::string& method, const std::string& url, const std::string& body,
                      const std::vector<std::string>& headers = {}, const std::string& caFile = {},
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// Returns the body {"requestUrl":"<url>"} with the URL escaped for JSON.
std::string statusBody(const std::string& requestUrl);

// Returns the raw bytes of a POST /v1/status with the body that asks the service to close the
// connection after its reply.
std::string checkRequest(const std::string& body);

// Parses a JSON text; fails the test when it is not JSON.
rapidjson::Document parseJson(const std::string& text);

// Settings for a service on 127.0.0.1:0 with every address allowed, short time-outs and no
// rate limit.
status::ServiceSettings testSettings();

// A status service running in this process, with its log lines recorded.
class ServiceUnderTest {
public:
    explicit ServiceUnderTest(status::ServiceSettings settings = testSettings());

    std::uint16_t port() const { return m_service->port(); }
    std::string url(const std::string& path = "/v1/status") const;
    // POSTs a check of the URL and returns the whole reply.
    HttpReply post(const std::string& requestUrl) const;
    // POSTs a check, expects 200 and returns the parsed "response" object's document.
    rapidjson::Document check(const std::string& requestUrl) const;
    std::vector<std::string> logLines() const;
    status::StatusService& service() { return *m_service; }

private:
    std::shared_ptr<std::mutex> m_logMutex = std::make_shared<std::mutex>();
    std::shared_ptr<std::vector<std::string>> m_log = std::make_shared<std::vector<std::string>>();
    std::unique_ptr<status::StatusService> m_service;
};

// Returns the statusCode of every chain entry of a check reply.
std::vector<int> chainStatuses(const rapidjson::Document& reply);
// Returns the document as JSON text, for failure messages.
std::string jsonText(const rapidjson::Value& value);
// Returns response.code, or "null".
std::string replyCode(const rapidjson::Document& reply);

// A plain TCP client for what libcurl will not send: trickled, malformed or abandoned requests.
class RawConnection {
public:
    // Connects to the loopback port, from the given local address ("127.0.0.2", "::1"...; the
    // family follows it) and throws std::runtime_error when it cannot.
    explicit RawConnection(std::uint16_t port, const std::string& from = "127.0.0.1");
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // Sends the bytes; returns false once the peer has closed.
    bool send(const std::string& bytes);
    // Reads until the peer closes or the wait ends; returns everything read.
    std::string readAll(std::chrono::milliseconds wait = std::chrono::milliseconds(3000));
    // Returns whether the peer closes (or resets) the connection within the wait, reading and
    // dropping whatever comes before.
    bool closedWithin(std::chrono::milliseconds wait);
    // Closes with a TCP reset (SO_LINGER 0).
    void reset();
    // Closes normally (FIN).
    void close();

private:
    LoopbackSocket m_socket;
};

// Returns the value of one sample line of a Prometheus text ("name{labels} value"), or -1
// when the line is not there.
double metricValue(const std::string& metrics, const std::string& sample);

// What a TLS client saw of the server: the leaf certificate it was shown and the reply.
struct TlsExchange {
    bool handshake = false;   // whether the handshake completed
    std::string fingerprint;  // SHA-256 of the leaf, colon-separated hex pairs
    std::vector<std::string> dnsNames;
    bool selfSigned = false;
    std::string reply;  // everything read until the server closed
};

// Connects to 127.0.0.1:port with TLS (any certificate accepted, as Quelvar's repeated
// attempt does), sends the request bytes when there are any and reads the reply.
TlsExchange tlsExchange(std::uint16_t port, const std::string& request = {},
                        std::chrono::milliseconds wait = std::chrono::milliseconds(5000));

// A TLS listener that sends a whole certificate chain (leaf first), which the scripted server
// cannot, and answers every request with a fixed 200.
class ChainTlsServer {
public:
    ChainTlsServer(const std::vector<const Certificate*>& chain, const std::string& keyPem);
    ~ChainTlsServer();
    std::uint16_t port() const { return m_port; }

private:
    void serve();
    void* m_context = nullptr;
    LoopbackSocket m_listener;
    int m_wake[2] = {-1, -1};
    std::uint16_t m_port = 0;
    std::thread m_thread;
};

}  // namespace quelvar::test
