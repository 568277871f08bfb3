#include <gtest/gtest.h>

#include "status/ServiceError.h"
#include "status/ServiceOptions.h"
#include "tests/fixtures/ThrowMessage.h"

using quelvar::status::ServiceError;
using quelvar::status::ServiceOptions;

TEST(ServiceOptionsTest, DefaultsAreTheDocumentedOnes) {
    const ServiceOptions o = ServiceOptions::parse({});
    EXPECT_EQ(o.listen.toString(), "127.0.0.1:8080");
    EXPECT_FALSE(o.healthListen);
    EXPECT_FALSE(o.allowPrivate);
    EXPECT_EQ(o.maxChecks, 512u);
    EXPECT_EQ(o.ratePerMinute, 60u);
    EXPECT_EQ(o.connectTimeout.count(), 10000);
    EXPECT_EQ(o.checkTimeout.count(), 20000);
    EXPECT_EQ(o.idleTimeoutSeconds, 15u);
    EXPECT_EQ(o.graceTime.count(), 25000);
    EXPECT_EQ(o.headerTimeout.count(), 10000);
    EXPECT_EQ(o.ipv6PrefixLength, 64);
    EXPECT_EQ(o.logLevel, quelvar::status::LogLevel::Info);
    EXPECT_FALSE(o.demo);
}

TEST(ServiceOptionsTest, ReadsEveryOption) {
    const ServiceOptions o = ServiceOptions::parse({"--listen",
                                                    "[::]:443",
                                                    "--tls-cert",
                                                    "c.pem",
                                                    "--tls-key",
                                                    "k.pem",
                                                    "--ca-file",
                                                    "ca.pem",
                                                    "--allow-private",
                                                    "--max-checks",
                                                    "7",
                                                    "--rate-per-minute",
                                                    "0",
                                                    "--connect-timeout-ms",
                                                    "50",
                                                    "--check-timeout-ms",
                                                    "90",
                                                    "--health-listen",
                                                    "127.0.0.1:0",
                                                    "--grace-ms",
                                                    "0",
                                                    "--max-connections",
                                                    "9",
                                                    "--max-connections-per-client",
                                                    "3",
                                                    "--idle-timeout-s",
                                                    "2",
                                                    "--header-timeout-s",
                                                    "4",
                                                    "--ipv6-prefix-length",
                                                    "56",
                                                    "--log-level",
                                                    "debug",
                                                    "--self-signed-if-missing",
                                                    "--state-dir",
                                                    "/var/lib/x",
                                                    "--public-name",
                                                    "status.example.test",
                                                    "--print-client-config"});
    EXPECT_TRUE(o.selfSignedIfMissing);
    EXPECT_EQ(o.stateDirectory, "/var/lib/x");
    EXPECT_EQ(o.publicName, "status.example.test");
    EXPECT_TRUE(o.printClientConfig);
    EXPECT_EQ(o.headerTimeout.count(), 4000);
    EXPECT_EQ(o.ipv6PrefixLength, 56);
    EXPECT_EQ(o.logLevel, quelvar::status::LogLevel::Debug);
    EXPECT_EQ(o.listen.address, "::");
    EXPECT_EQ(o.listen.port, 443);
    EXPECT_EQ(o.listen.toString(), "[::]:443");
    EXPECT_EQ(o.tlsCertFile, "c.pem");
    EXPECT_EQ(o.tlsKeyFile, "k.pem");
    EXPECT_EQ(o.caFile, "ca.pem");
    EXPECT_TRUE(o.allowPrivate);
    EXPECT_EQ(o.maxChecks, 7u);
    EXPECT_EQ(o.ratePerMinute, 0u);
    EXPECT_EQ(o.connectTimeout.count(), 50);
    EXPECT_EQ(o.checkTimeout.count(), 90);
    ASSERT_TRUE(o.healthListen);
    EXPECT_EQ(o.healthListen->toString(), "127.0.0.1:0");
    EXPECT_EQ(o.graceTime.count(), 0);
    EXPECT_EQ(o.maxConnections, 9u);
    EXPECT_EQ(o.maxConnectionsPerClient, 3u);
    EXPECT_EQ(o.idleTimeoutSeconds, 2u);
}

TEST(ServiceOptionsTest, DemoFillsInOnlyWhatIsNotGiven) {
    const ServiceOptions plain = ServiceOptions::parse({"--demo"});
    EXPECT_TRUE(plain.allowPrivate);
    EXPECT_EQ(plain.listen.toString(), "127.0.0.1:8443");
    ASSERT_TRUE(plain.healthListen);
    EXPECT_EQ(plain.healthListen->toString(), "127.0.0.1:8080");
    const ServiceOptions moved = ServiceOptions::parse(
        {"--listen", "127.0.0.1:0", "--demo", "--health-listen", "127.0.0.1:0"});
    EXPECT_EQ(moved.listen.toString(), "127.0.0.1:0");
    EXPECT_EQ(moved.healthListen->toString(), "127.0.0.1:0");
}

TEST(ServiceOptionsTest, RefusesBadOptionsWithTheirName) {
    struct Case {
        std::vector<std::string> arguments;
        const char* message;
    };
    const Case cases[] = {
        {{"--bogus"}, "unknown option --bogus (see --help)"},
        {{"--listen"}, "--listen needs a value"},
        {{"--listen", "localhost:80"}, "not a numeric address: \"localhost\""},
        {{"--listen", "127.0.0.1"}, "not ADDR:PORT: \"127.0.0.1\""},
        {{"--listen", "127.0.0.1:70000"}, "the port needs a number from 0 to 65535, not \"70000\""},
        {{"--max-checks", "0"}, "--max-checks needs a number from 1 to 1000000, not \"0\""},
        {{"--check-timeout-ms", "-5"},
         "--check-timeout-ms needs a number from 1 to 600000, not \"-5\""},
        {{"--tls-cert", "c.pem"}, "--tls-cert and --tls-key go together"},
        {{"--ipv6-prefix-length", "129"},
         "--ipv6-prefix-length needs a number from 1 to 128, not \"129\""},
        {{"--header-timeout-s", "0"},
         "--header-timeout-s needs a number from 1 to 3600, not \"0\""},
        {{"--log-level", "loud"}, "--log-level needs debug, info, warning or error, not \"loud\""},
        {{"--self-signed-if-missing"}, "--self-signed-if-missing needs --tls-cert and --tls-key"},
        {{"--public-name", "status.example.test:8443"},
         "--public-name needs a host name or an IP address, not \"status.example.test:8443\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_THROW_MESSAGE(ServiceOptions::parse(c.arguments), ServiceError, c.message);
    }
}

TEST(ServiceOptionsTest, PublicNameIsAHostNameOrAnAddress) {
    struct Case {
        const char* text;
        bool accepted;
    };
    const Case cases[] = {
        {"status.example.test", true},
        {"Status-1.Example.TEST", true},
        {"localhost", true},
        {"192.0.2.7", true},
        {"2001:db8::7", true},
        {"xn--bcher-kva.example", true},
        {"", false},
        {"-status.example.test", false},
        {"status-.example.test", false},
        {"status..example.test", false},
        {"status.example.test.", false},
        {"status_1.example.test", false},
        {"b\xc3\xbc"
         "cher.example",
         false},
        {"status.example.test,DNS:evil.test", false},
        {"999.1.1.1", false},
        {"a.b c", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ServiceOptions::isPublicName(c.text), c.accepted);
    }
    EXPECT_TRUE(ServiceOptions::isPublicName(std::string(63, 'a') + ".test"));
    EXPECT_FALSE(ServiceOptions::isPublicName(std::string(64, 'a') + ".test"));
    EXPECT_EQ(ServiceOptions::parse({"--public-name", "[2001:db8::7]"}).publicName, "2001:db8::7");
}
