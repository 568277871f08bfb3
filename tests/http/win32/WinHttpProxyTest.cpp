// The service profile's proxy on Windows: the current user's Internet Settings, read anew for
// every request, as the Internet Options dialogue leaves them. The scripted server acts as the
// proxy, and as the host of a configuration script.

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <winhttp.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/Error.h"
#include "http/RestClient.h"
#include "http/RestRequest.h"
#include "http/RestResponse.h"
#include "http/win32/ProxyResolver.h"
#include "tests/fixtures/ScriptedServer.h"
#include "tests/fixtures/ThrowMessage.h"
#include "tests/fixtures/Wine.h"
#include "tests/http/ServiceTransport.h"
#include "tests/http/win32/InternetSettings.h"
#include "text/win32/WideText.h"

namespace quelvar {
namespace {

using namespace std::chrono_literals;
using test::InternetSettings;
using test::ScriptedServer;

std::string reply(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The WhatsApp tab's GET through the window's service-profile members.
struct ServiceProfile {
    ServiceProfile()
        : client(RestClient::Timeouts{3000ms, 3000ms, 3000ms}), request(client, response) {}

    void get(const std::string& url) {
        client.setBaseURL(url);
        request.setMethod(RestMethod::Get);
        request.clearParameters();
        client.setContentType("");
        request.execute();
    }

    RestClient client;
    RestResponse response;
    RestRequest request;
};

class WinHttpProxyTest : public ::testing::Test {
protected:
    // Sets the current user's configuration for the requests that follow.
    static void configure(const InternetSettings& settings) {
        test::writeConnectionSettings(settings.encoded());
    }

    // Wine's WinHTTP takes the proxy of a session from WinHttpOpen only; the per-request
    // WINHTTP_OPTION_PROXY that the profile sets is accepted and ignored there.
    static bool requestProxyIgnored() { return test::runsUnderWine(); }

    test::UserProxyIsolation m_isolation;
};

// The choice from the configuration alone, which Wine makes as Windows does.
TEST_F(WinHttpProxyTest, ChoiceFollowsTheUserConfiguration) {
    ScriptedServer scripts;
    const std::string script =
        "function FindProxyForURL(url, host) { return \"PROXY 127.0.0.1:3128\"; }";
    scripts.setFallback(test::Exchange{
        .reply = "HTTP/1.1 200 OK\r\nContent-Type: application/x-ns-proxy-autoconfig\r\n"
                 "Content-Length: " +
                 std::to_string(script.size()) + "\r\n\r\n" + script});

    struct Case {
        const char* name;
        InternetSettings settings;
        std::optional<ProxyChoice> choice;
    };
    InternetSettings direct;
    InternetSettings named;
    named.flags = InternetSettings::kProxy;
    named.proxy = "127.0.0.1:3128";
    InternetSettings withBypass = named;
    withBypass.bypass = "*.lumora.example;<local>";
    InternetSettings perScheme = named;
    perScheme.proxy = "http=127.0.0.1:3128;https=127.0.0.1:3129";
    InternetSettings detectOnly;
    detectOnly.flags = InternetSettings::kDirect | InternetSettings::kAutoDetect;
    InternetSettings scripted;
    scripted.flags = InternetSettings::kDirect | InternetSettings::kScript;
    scripted.scriptUrl = scripts.url("/proxy.pac");
    InternetSettings scriptBeforeStatic = scripted;
    scriptBeforeStatic.flags |= InternetSettings::kProxy;
    scriptBeforeStatic.proxy = "127.0.0.1:9999";
    const Case cases[] = {
        {"direct", direct, std::nullopt},
        {"static proxy", named, ProxyChoice{L"127.0.0.1:3128", L""}},
        {"static proxy with bypass list", withBypass,
         ProxyChoice{L"127.0.0.1:3128", L"*.lumora.example;<local>"}},
        {"proxy per scheme", perScheme,
         ProxyChoice{L"http=127.0.0.1:3128;https=127.0.0.1:3129", L""}},
        {"automatic detection alone looks nothing up", detectOnly, std::nullopt},
        {"configuration script", scripted, ProxyChoice{L"127.0.0.1:3128", L""}},
        {"the script wins over the static proxy", scriptBeforeStatic,
         ProxyChoice{L"127.0.0.1:3128", L""}},
    };
    HINTERNET session = WinHttpOpen(L"", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    ASSERT_NE(session, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        configure(c.settings);
        const auto choice = ProxyResolver::proxyFor(session, L"http://lumora.example/api-docs");
        ASSERT_EQ(choice.has_value(), c.choice.has_value());
        if (choice) {
            EXPECT_EQ(fromWide(choice->proxy), fromWide(c.choice->proxy));
            EXPECT_EQ(fromWide(choice->bypass), fromWide(c.choice->bypass));
        }
    }
    WinHttpCloseHandle(session);
    EXPECT_FALSE(scripts.requests().empty()) << "the script is fetched";
}

TEST_F(WinHttpProxyTest, StaticProxyAndBypassListAreReadForEveryRequest) {
    if (requestProxyIgnored()) {
        GTEST_SKIP() << "Wine ignores the proxy set on a request (WINHTTP_OPTION_PROXY)";
    }
    ScriptedServer proxy;
    ScriptedServer target;
    const std::string targetUrl = target.url("/api-docs/");

    struct Case {
        const char* name;
        InternetSettings settings;
        bool viaProxy;
    };
    InternetSettings direct;
    InternetSettings named;
    named.flags = InternetSettings::kProxy;
    named.proxy = proxy.authority();
    InternetSettings perScheme = named;
    perScheme.proxy = "http=" + proxy.authority() + ";https=127.0.0.1:9";
    InternetSettings bypassed = named;
    bypassed.bypass = "127.0.0.1;<local>";
    InternetSettings otherBypassed = named;
    otherBypassed.bypass = "lumora.example";
    InternetSettings detectOnly;
    detectOnly.flags = InternetSettings::kDirect | InternetSettings::kAutoDetect;
    const Case cases[] = {
        {"proxy for every scheme", named, true},
        {"no proxy", direct, false},
        {"proxy per scheme", perScheme, true},
        {"bypass list names the host", bypassed, false},
        {"bypass list names another host", otherBypassed, true},
        {"automatic detection alone looks nothing up", detectOnly, false},
    };
    ServiceProfile profile;  // one session: the configuration is read anew every time
    std::size_t proxied = 0;
    std::size_t directly = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        configure(c.settings);
        (c.viaProxy ? proxy : target).addReply(reply(c.name));
        profile.get(targetUrl);
        EXPECT_EQ(profile.response.content(), c.name);
        if (c.viaProxy) {
            ASSERT_EQ(proxy.requests().size(), ++proxied);
            const std::string request = proxy.requests().back();
            EXPECT_TRUE(
                request.starts_with("GET http://" + target.authority() + "/api-docs HTTP/1.1\r\n"))
                << request;
            EXPECT_NE(request.find("\r\nHost: " + target.authority() + "\r\n"), std::string::npos)
                << request;
            EXPECT_NE(request.find("\r\nAccept-Charset: UTF-8, *;q=0.8\r\n"), std::string::npos)
                << request;
        } else {
            ASSERT_EQ(target.requests().size(), ++directly);
        }
    }
}

TEST_F(WinHttpProxyTest, ConfigurationScriptChoosesTheProxy) {
    if (requestProxyIgnored()) {
        GTEST_SKIP() << "Wine ignores the proxy set on a request (WINHTTP_OPTION_PROXY)";
    }
    ScriptedServer proxy;
    ScriptedServer scripts;
    ScriptedServer target;
    const std::string script =
        "function FindProxyForURL(url, host) { return \"PROXY " + proxy.authority() + "\"; }";
    scripts.setFallback(test::Exchange{
        .reply = "HTTP/1.1 200 OK\r\nContent-Type: application/x-ns-proxy-autoconfig\r\n"
                 "Content-Length: " +
                 std::to_string(script.size()) + "\r\n\r\n" + script});
    InternetSettings settings;
    settings.flags = InternetSettings::kDirect | InternetSettings::kScript;
    settings.scriptUrl = scripts.url("/proxy.pac");
    configure(settings);

    proxy.addReply(reply("through the script's proxy"));
    ServiceProfile profile;
    profile.get(target.url("/api-docs/"));
    EXPECT_EQ(profile.response.content(), "through the script's proxy");
    ASSERT_FALSE(scripts.requests().empty());
    EXPECT_TRUE(scripts.requests()[0].starts_with("GET /proxy.pac HTTP/1.1\r\n"))
        << scripts.requests()[0];
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_TRUE(proxy.requests()[0].starts_with("GET http://" + target.authority() + "/api-docs "))
        << proxy.requests()[0];
    EXPECT_TRUE(target.requests().empty());
}

TEST_F(WinHttpProxyTest, HttpsGoesThroughTheProxyTunnel) {
    if (requestProxyIgnored()) {
        GTEST_SKIP() << "Wine ignores the proxy set on a request (WINHTTP_OPTION_PROXY)";
    }
    ScriptedServer proxy;
    InternetSettings settings;
    settings.flags = InternetSettings::kProxy;
    settings.proxy = proxy.authority();
    configure(settings);
    proxy.addReply("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
    ServiceProfile profile;
    const std::string error =
        test::thrownMessage<Error>([&] { profile.get("https://127.0.0.1:9/v1/status"); });
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_TRUE(proxy.requests()[0].starts_with("CONNECT 127.0.0.1:9 HTTP/1.1\r\n"))
        << proxy.requests()[0];
    EXPECT_TRUE(error.starts_with("REST request failed: Error sending data: (")) << error;
}

}  // namespace
}  // namespace quelvar
