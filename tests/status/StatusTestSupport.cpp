#include "tests/status/StatusTestSupport.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sys/time.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace quelvar::test {

namespace {

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

}  // namespace

HttpReply httpRequest(const std::string& method, const std::string& url, const std::string& body,
                      const std::vector<std::string>& headers, const std::string& caFile,
                      std::chrono::milliseconds timeout) {
    HttpReply reply;
    CURL* easy = curl_easy_init();
    curl_slist* list = nullptr;
    for (const std::string& header : headers) {
        list = curl_slist_append(list, header.c_str());
    }
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    }
    if (!body.empty() || method == "POST") {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &collect);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &reply.headers);
    if (!caFile.empty()) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.c_str());
    }
    const CURLcode result = curl_easy_perform(easy);
    if (result == CURLE_OK) {
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &reply.status);
    } else {
        reply.error = curl_easy_strerror(result);
    }
    curl_slist_free_all(list);
    curl_easy_cleanup(easy);
    return reply;
}

std::string statusBody(const std::string& requestUrl) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("requestUrl");
    writer.String(requestUrl.data(), static_cast<rapidjson::SizeType>(requestUrl.size()));
    writer.EndObject();
    return buffer.GetString();
}

std::string checkRequest(const std::string& body) {
    return "POST /v1/status HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
           "Connection: close\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

rapidjson::Document parseJson(const std::string& text) {
    rapidjson::Document document;
    document.Parse(text.data(), text.size());
    EXPECT_FALSE(document.HasParseError()) << "not JSON: " << text;
    return document;
}

status::ServiceSettings testSettings() {
    status::ServiceSettings settings;
    settings.engine.policy = status::AddressPolicy::allowAll();
    // Generous, so that a TLS handshake on a loaded machine (or in a sanitizer build) ends
    // within them; a test of a time-out sets the one it measures.
    settings.engine.connectTimeout = std::chrono::milliseconds(10000);
    settings.engine.checkTimeout = std::chrono::milliseconds(10000);
    settings.server.address = "127.0.0.1";
    settings.server.port = 0;
    settings.server.ratePerMinute = 0;
    settings.server.maxConnectionsPerClient = 0;
    settings.server.idleTimeoutSeconds = 2;
    return settings;
}

ServiceUnderTest::ServiceUnderTest(status::ServiceSettings settings) {
    auto mutex = m_logMutex;
    auto log = m_log;
    m_service = std::make_unique<status::StatusService>(
        std::move(settings), [mutex, log](status::LogLevel level, const std::string& line) {
            std::lock_guard lock(*mutex);
            log->push_back((level == status::LogLevel::Debug ? "debug: " : "") + line);
        });
}

std::string ServiceUnderTest::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port()) + path;
}

HttpReply ServiceUnderTest::post(const std::string& requestUrl) const {
    return httpRequest("POST", url(), statusBody(requestUrl), {"Content-Type: application/json"});
}

rapidjson::Document ServiceUnderTest::check(const std::string& requestUrl) const {
    const HttpReply reply = post(requestUrl);
    EXPECT_EQ(reply.status, 200) << reply.error << reply.body;
    rapidjson::Document document = parseJson(reply.body);
    EXPECT_TRUE(document.IsObject() && document.HasMember("response")) << reply.body;
    return document;
}

std::vector<std::string> ServiceUnderTest::logLines() const {
    std::lock_guard lock(*m_logMutex);
    return *m_log;
}

std::vector<int> chainStatuses(const rapidjson::Document& reply) {
    std::vector<int> statuses;
    if (!reply.IsObject() || !reply.HasMember("response")) {
        return statuses;
    }
    for (const auto& entry : reply["response"]["chain"].GetArray()) {
        statuses.push_back(entry["statusCode"].GetInt());
    }
    return statuses;
}

std::string jsonText(const rapidjson::Value& value) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    return buffer.GetString();
}

std::string replyCode(const rapidjson::Document& reply) {
    if (!reply.IsObject() || !reply.HasMember("response")) {
        return "<no response>";
    }
    const auto& code = reply["response"]["code"];
    return code.IsString() ? code.GetString() : "null";
}

RawConnection::RawConnection(std::uint16_t port, const std::string& from)
    : m_socket(LoopbackSocket::connectTo(from.find(':') == std::string::npos ? "127.0.0.1" : "::1",
                                         port, LoopbackSocket::Connect::Done, from)) {}

RawConnection::~RawConnection() = default;

bool RawConnection::send(const std::string& bytes) {
    return m_socket.send(bytes.data(), bytes.size()) == static_cast<long>(bytes.size());
}

std::string RawConnection::readAll(std::chrono::milliseconds wait) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || LoopbackSocket::waitReadable(
                                     {m_socket.handle()}, static_cast<int>(left.count())) <= 0) {
            return text;
        }
        char buffer[16384];
        const long n = m_socket.receive(buffer, sizeof buffer);
        if (n <= 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

bool RawConnection::closedWithin(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || LoopbackSocket::waitReadable(
                                     {m_socket.handle()}, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char buffer[4096];
        if (m_socket.receive(buffer, sizeof buffer) <= 0) {
            return true;
        }
    }
}

void RawConnection::reset() {
    if (m_socket.isOpen()) {
        m_socket.resetOnClose();
        m_socket.close();
    }
}

void RawConnection::close() {
    m_socket.close();
}

double metricValue(const std::string& metrics, const std::string& sample) {
    const std::string needle = "\n" + sample + " ";
    const auto at = ("\n" + metrics).find(needle);
    if (at == std::string::npos) {
        return -1;
    }
    return std::strtod(metrics.c_str() + at + needle.size() - 1, nullptr);
}

ChainTlsServer::ChainTlsServer(const std::vector<const Certificate*>& chain,
                               const std::string& keyPem) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    m_context = context;
    for (std::size_t i = 0; i < chain.size(); ++i) {
        BIO* bio =
            BIO_new_mem_buf(chain[i]->certPem.data(), static_cast<int>(chain[i]->certPem.size()));
        X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        if (i == 0) {
            SSL_CTX_use_certificate(context, cert);
            X509_free(cert);
        } else {
            SSL_CTX_add_extra_chain_cert(context, cert);  // takes ownership
        }
    }
    BIO* bio = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    SSL_CTX_use_PrivateKey(context, key);
    EVP_PKEY_free(key);
    m_listener = LoopbackSocket::listenOn("127.0.0.1", 16);
    m_port = m_listener.localPort();
    if (pipe(m_wake) != 0) {
        throw std::runtime_error("pipe failed");
    }
    m_thread = std::thread([this] { serve(); });
}

ChainTlsServer::~ChainTlsServer() {
    (void)write(m_wake[1], "x", 1);
    m_thread.join();
    close(m_wake[0]);
    close(m_wake[1]);
    SSL_CTX_free(static_cast<SSL_CTX*>(m_context));
}

void ChainTlsServer::serve() {
    for (;;) {
        pollfd fds[2] = {{static_cast<int>(m_listener.handle()), POLLIN, 0},
                         {m_wake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) <= 0 || (fds[1].revents & POLLIN) != 0) {
            return;
        }
        const int fd = accept(static_cast<int>(m_listener.handle()), nullptr, nullptr);
        if (fd < 0) {
            continue;
        }
        timeval limit{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        SSL* ssl = SSL_new(static_cast<SSL_CTX*>(m_context));
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const int n = SSL_read(ssl, buffer, sizeof buffer);
                if (n <= 0) {
                    break;
                }
                request.append(buffer, static_cast<std::size_t>(n));
            }
            const std::string reply =
                "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            SSL_write(ssl, reply.data(), static_cast<int>(reply.size()));
            SSL_shutdown(ssl);
        }
        SSL_free(ssl);
        close(fd);
    }
}

TlsExchange tlsExchange(std::uint16_t port, const std::string& request,
                        std::chrono::milliseconds wait) {
    TlsExchange result;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    // Every read and write of the exchange is bounded by the wait.
    timeval limit{static_cast<time_t>(wait.count() / 1000),
                  static_cast<suseconds_t>(wait.count() % 1000 * 1000)};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return result;
    }
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()),
                                                              &SSL_CTX_free);
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(context.get()), &SSL_free);
    SSL_set_fd(ssl.get(), fd);
    if (SSL_connect(ssl.get()) == 1) {
        result.handshake = true;
        std::unique_ptr<X509, decltype(&X509_free)> cert(SSL_get1_peer_certificate(ssl.get()),
                                                         &X509_free);
        if (cert) {
            unsigned char digest[EVP_MAX_MD_SIZE];
            unsigned size = 0;
            X509_digest(cert.get(), EVP_sha256(), digest, &size);
            static constexpr char kHex[] = "0123456789ABCDEF";
            for (unsigned i = 0; i < size; ++i) {
                result.fingerprint +=
                    std::string(i != 0 ? ":" : "") + kHex[digest[i] >> 4] + kHex[digest[i] & 0xf];
            }
            result.selfSigned = X509_self_signed(cert.get(), 1) == 1;
            auto* names = static_cast<GENERAL_NAMES*>(
                X509_get_ext_d2i(cert.get(), NID_subject_alt_name, nullptr, nullptr));
            for (int i = 0; names != nullptr && i < sk_GENERAL_NAME_num(names); ++i) {
                const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
                if (name->type == GEN_DNS) {
                    result.dnsNames.emplace_back(
                        reinterpret_cast<const char*>(ASN1_STRING_get0_data(name->d.dNSName)),
                        static_cast<std::size_t>(ASN1_STRING_length(name->d.dNSName)));
                }
            }
            GENERAL_NAMES_free(names);
        }
        if (!request.empty() &&
            SSL_write(ssl.get(), request.data(), static_cast<int>(request.size())) > 0) {
            char chunk[4096];
            int n;
            while ((n = SSL_read(ssl.get(), chunk, sizeof chunk)) > 0) {
                result.reply.append(chunk, static_cast<std::size_t>(n));
            }
        }
    }
    ssl.reset();
    ::close(fd);
    return result;
}

}  // namespace quelvar::test
