// Quelvar's own external check (service profile, reply mapping and decision) asking a real
// quelvar-status about real loopback targets, down to the verdict line and indicator.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "checks/ExternalCheck.h"
#include "checks/Product.h"
#include "http/RestClient.h"
#include "http/RestRequest.h"
#include "http/RestResponse.h"
#include "status/SelfSignedCertificate.h"
#include "tests/fixtures/ScriptedServer.h"
#include "tests/fixtures/TestFiles.h"
#include "tests/status/StatusTestSupport.h"

using namespace quelvar::test;
using namespace std::chrono_literals;
using quelvar::CheckKind;
using quelvar::Indicator;

namespace {

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";

// What the check did to its tab.
class RecordedTab : public quelvar::CheckTab {
public:
    std::string externalText() override { return {}; }
    std::string internalText() override { return {}; }
    bool httpsChecked() override { return false; }
    void clearLog() override { lines.clear(); }
    void appendLine(const std::string& line) override { lines.push_back(line); }
    void setIndicatorVisible(Indicator indicator, bool visible) override {
        indicators[indicator] = visible;
    }
    // Returns "green", "red" or "none" for the external pair.
    std::string external() const {
        const bool green = indicators.count(Indicator::ExternalGreen) != 0 &&
                           indicators.at(Indicator::ExternalGreen);
        const bool red =
            indicators.count(Indicator::ExternalRed) != 0 && indicators.at(Indicator::ExternalRed);
        return green && red ? "both" : green ? "green" : red ? "red" : "none";
    }

    std::vector<std::string> lines;
    std::map<Indicator, bool> indicators;
};

struct Verdict {
    const char* indicator;
    const char* line;
};

struct ClientCase {
    const char* name;
    // Returns the external URL; the holder keeps its servers alive.
    std::function<std::string(std::vector<std::shared_ptr<void>>&)> target;
    Verdict api;
    Verdict web;
    // The service's limits for the connection (TLS handshake included) and the whole check:
    // short only where the target never answers, so that a slow machine (sanitizers, other
    // builds) never turns an answer into a time-out.
    std::chrono::milliseconds checkTimeout = std::chrono::milliseconds(10000);
};

std::shared_ptr<ScriptedServer> plainServer(std::vector<std::shared_ptr<void>>& holder) {
    auto server = std::make_shared<ScriptedServer>();
    holder.push_back(server);
    return server;
}

const Certificate& testCa() {
    static const Certificate ca = [] {
        CertificateSettings settings;
        settings.commonName = "Client Test CA";
        settings.isCa = true;
        return makeCertificate(settings);
    }();
    return ca;
}

Certificate signedCertificate(long notBeforeOffset, long notAfterOffset) {
    CertificateSettings settings;
    settings.notBeforeOffset = notBeforeOffset;
    settings.notAfterOffset = notAfterOffset;
    settings.issuer = &testCa();
    return makeCertificate(settings);
}

const Verdict kOffline{"none", "Serviço de teste de conexão externa fora do ar."};

const ClientCase kCases[] = {
    {"target answers 200",
     [](auto& holder) {
         auto server = plainServer(holder);
         server->setFallback(Exchange{kOk});
         return server->url("/healthcheck");
     },
     {"green", "Conexão Externa - ok"},
     {"green", "Conexão Externa - ok"}},
    {"target redirects first",
     [](auto& holder) {
         auto server = plainServer(holder);
         server->addReply(
             "HTTP/1.1 301 Moved Permanently\r\nLocation: /loja\r\nContent-Length: "
             "0\r\n\r\n");
         server->addReply(kOk);
         return server->url("/");
     },
     kOffline,
     {"red", "Conexão Externa - Erro"}},
    {"target answers 404",
     [](auto& holder) {
         auto server = plainServer(holder);
         server->setFallback(Exchange{"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"});
         return server->url("/");
     },
     kOffline,
     {"red", "Conexão Externa - Erro"}},
    {"target never answers",
     [](auto& holder) {
         auto server = plainServer(holder);
         Exchange hang;
         hang.action = Exchange::Action::Hang;
         server->setFallback(hang);
         return server->url("/");
     },
     {"red", "API não está respondendo"},
     {"red", "API não está respondendo"},
     std::chrono::milliseconds(700)},
    {"https to a plain port",
     [](auto& holder) {
         auto server = plainServer(holder);
         Exchange early;
         early.reply = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
         early.readRequest = false;
         server->add(early);
         return "https" + server->url("/").substr(4);
     },
     {"red", "Problema com protocolo HTTPS, verifique se está correto."},
     {"red", "Problema com protocolo HTTPS, verifique se está correto."}},
    {"expired certificate",
     [](auto& holder) {
         const Certificate cert = signedCertificate(-864000, -86400);
         auto server = std::make_shared<ScriptedServer>(TlsSettings{cert.certPem, cert.keyPem});
         server->setFallback(Exchange{kOk});
         holder.push_back(server);
         return server->url("/");
     },
     {"red", "Certificado HTTPS está expirado."},
     {"red", "Certificado HTTPS está expirado."}},
    {"port refuses",
     [](auto&) { return "http://127.0.0.1:" + std::to_string(refusingPort()) + "/"; }, kOffline,
     kOffline},
};

// The client asks the service directly, whatever proxy the environment names.
void clearProxyEnvironment() {
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        unsetenv(name);
    }
}

class ClientSideTest : public ::testing::TestWithParam<ClientCase> {
protected:
    void SetUp() override { clearProxyEnvironment(); }
};

}  // namespace

TEST_P(ClientSideTest, ExternalCheckReadsTheServiceReplyToTheVerdict) {
    const ClientCase& c = GetParam();
    // The service answers over HTTPS like a deployed one, with a certificate of its own.
    const Certificate serviceCert = signedCertificate(-3600, 30L * 86400);
    TempDir dir;
    quelvar::status::ServiceSettings settings = testSettings();
    settings.engine.caFile = dir.write("ca.pem", testCa().certPem);
    settings.engine.connectTimeout = c.checkTimeout;
    settings.engine.checkTimeout = c.checkTimeout;
    settings.server.tlsCertPem = serviceCert.certPem;
    settings.server.tlsKeyPem = serviceCert.keyPem;
    ServiceUnderTest service(settings);
    const std::string endpoint =
        "https://127.0.0.1:" + std::to_string(service.port()) + "/v1/status";

    for (const auto& [kind, expected] :
         {std::pair{CheckKind::Api, c.api}, std::pair{CheckKind::Web, c.web},
          std::pair{CheckKind::Whats, c.api}}) {
        SCOPED_TRACE(std::string(quelvar::product(kind).name));
        // A fresh target per product, since a target's script is used up by one check.
        std::vector<std::shared_ptr<void>> holder;
        const std::string externalUrl = c.target(holder);
        quelvar::RestClient client;
        quelvar::RestResponse response;
        quelvar::RestRequest request(client, response);
        RecordedTab tab;
        quelvar::checkExternal(quelvar::product(kind), tab, {client, request, response}, endpoint,
                               externalUrl);
        EXPECT_EQ(tab.lines,
                  (std::vector<std::string>{"Testando Conexão Externa...", expected.line}))
            << response.content();
        EXPECT_EQ(tab.external(), expected.indicator);
    }
}

INSTANTIATE_TEST_SUITE_P(Verdicts, ClientSideTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) {
                                     ch = '_';
                                 }
                             }
                             return name;
                         });

TEST(ClientSideSelfSignedTest, RepeatedAttemptAcceptsTheCertificateMadeForTheHost) {
    clearProxyEnvironment();
    // What a fresh host serves before it has a real certificate: self-signed, and for a name
    // other than the address the client connects to.
    TempDir state;
    const auto made = quelvar::status::SelfSignedCertificate::loadOrCreateForHost(
        state.path(), "status.example.test");
    quelvar::status::ServiceSettings settings = testSettings();
    settings.server.tlsCertPem = made.certPem();
    settings.server.tlsKeyPem = made.keyPem();
    ServiceUnderTest service(settings);
    ScriptedServer target;
    target.setFallback(Exchange{kOk});

    quelvar::RestClient client;
    quelvar::RestResponse response;
    quelvar::RestRequest request(client, response);
    RecordedTab tab;
    quelvar::checkExternal(quelvar::product(CheckKind::Web), tab, {client, request, response},
                           "https://127.0.0.1:" + std::to_string(service.port()) + "/v1/status",
                           target.url("/healthcheck"));
    EXPECT_EQ(tab.lines,
              (std::vector<std::string>{"Testando Conexão Externa...", "Conexão Externa - ok"}))
        << response.content();
    EXPECT_EQ(tab.external(), "green");
}
