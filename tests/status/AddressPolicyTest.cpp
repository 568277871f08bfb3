#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "status/AddressPolicy.h"
#include "status/HostAddresses.h"
#include "status/ServiceError.h"
#include "tests/fixtures/ThrowMessage.h"

using quelvar::status::AddressPolicy;
using quelvar::status::HostAddresses;

namespace {

struct PolicyCase {
    const char* name;
    const char* address;
    bool publicAddress;
};

// Only classified here, never connected to.
const PolicyCase kCases[] = {
    {"public IPv4", "93.184.216.34", true},
    {"public IPv4 next to 10/8", "11.0.0.1", true},
    {"public IPv4 next to 172.16/12", "172.32.0.1", true},
    {"public IPv4 next to CGNAT", "100.128.0.1", true},
    {"unspecified", "0.0.0.0", false},
    {"this network", "0.1.2.3", false},
    {"private 10/8", "10.1.2.3", false},
    {"private 172.16/12 low", "172.16.0.1", false},
    {"private 172.16/12 high", "172.31.255.255", false},
    {"private 192.168/16", "192.168.1.1", false},
    {"CGNAT", "100.64.0.1", false},
    {"CGNAT high", "100.127.255.254", false},
    {"loopback", "127.0.0.1", false},
    {"loopback elsewhere in 127/8", "127.255.0.2", false},
    {"link-local", "169.254.1.1", false},
    {"cloud metadata", "169.254.169.254", false},
    {"IETF assignments", "192.0.0.8", false},
    {"documentation 1", "192.0.2.1", false},
    {"documentation 2", "198.51.100.7", false},
    {"documentation 3", "203.0.113.9", false},
    {"benchmarking", "198.19.0.1", false},
    {"multicast", "224.0.0.1", false},
    {"multicast high", "239.255.255.250", false},
    {"reserved", "240.0.0.1", false},
    {"broadcast", "255.255.255.255", false},
    {"public IPv6", "2606:4700::1111", true},
    {"IPv6 unspecified", "::", false},
    {"IPv6 loopback", "::1", false},
    {"IPv4-mapped loopback", "::ffff:127.0.0.1", false},
    {"IPv4-mapped private", "::ffff:10.0.0.1", false},
    {"IPv4-mapped metadata", "::ffff:169.254.169.254", false},
    {"IPv4-mapped public", "::ffff:93.184.216.34", true},
    {"IPv4-compatible loopback", "::127.0.0.1", false},
    {"IPv4-compatible public", "::93.184.216.34", false},
    {"NAT64 of loopback", "64:ff9b::7f00:1", false},
    {"NAT64 of public", "64:ff9b::5db8:d822", true},
    {"6to4 of private", "2002:c0a8:0101::1", false},
    {"6to4 of public", "2002:5db8:d822::1", true},
    {"unique local fc", "fc00::1", false},
    {"unique local fd", "fd12:3456::1", false},
    {"IPv6 link-local", "fe80::1", false},
    {"IPv6 site-local", "fec0::1", false},
    {"IPv6 multicast", "ff02::1", false},
    {"IPv6 documentation", "2001:db8::1", false},
    {"Teredo", "2001:0:4136:e378::1", false},
    {"discard-only", "100::1", false},
    {"outside global unicast", "4000::1", false},
    {"Azure WireServer", "168.63.129.16", false},
    {"next to the Azure WireServer", "168.63.129.17", true},
    {"IPv4-mapped Azure WireServer", "::ffff:168.63.129.16", false},
    {"IBM Cloud service network DNS", "161.26.0.10", false},
    {"next to the IBM Cloud service network", "161.27.0.1", true},
    {"Alibaba Cloud metadata", "100.100.100.200", false},
    {"AWS metadata over IPv6", "fd00:ec2::254", false},
    {"Google metadata over IPv6", "fd20:ce::254", false},
};

// A policy whose host has the given addresses, read through the same path as the interfaces.
AddressPolicy onHost(std::vector<std::string> addresses) {
    return AddressPolicy().withHostAddresses(
        std::make_shared<HostAddresses>([addresses] { return addresses; }));
}

}  // namespace

TEST(AddressPolicyTest, PublicOnlyRefusesEveryNonPublicAddress) {
    const AddressPolicy policy = onHost({});
    for (const PolicyCase& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(policy.permits(c.address), c.publicAddress) << c.address;
    }
}

TEST(AddressPolicyTest, AllowAllPermitsEverything) {
    const AddressPolicy policy = AddressPolicy::allowAll();
    for (const PolicyCase& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(policy.permits(c.address));
    }
}

TEST(AddressPolicyTest, AllowedAddressPassesAloneAndInEveryForm) {
    AddressPolicy policy;
    policy.allow("127.0.0.2");
    EXPECT_TRUE(policy.permits("127.0.0.2"));
    EXPECT_TRUE(policy.permits("::ffff:127.0.0.2"));
    EXPECT_FALSE(policy.permits("127.0.0.3"));
    EXPECT_FALSE(policy.permits("::1"));
    EXPECT_FALSE(policy.permits("10.0.0.1"));
    EXPECT_TRUE(policy.permits("93.184.216.34"));
}

TEST(AddressPolicyTest, RefusesTextThatIsNoNumericAddress) {
    const AddressPolicy policy = AddressPolicy::allowAll();
    EXPECT_FALSE(AddressPolicy().permits("localhost"));
    EXPECT_TRUE(policy.permits("127.0.0.1"));
    AddressPolicy refusing;
    EXPECT_THROW_MESSAGE(refusing.allow("localhost"), quelvar::status::ServiceError,
                         "not a numeric address: localhost");
}

TEST(AddressPolicyTest, RefusesTheHostsOwnAddressesInEveryForm) {
    const AddressPolicy policy = onHost({"93.184.216.34", "2606:4700::1111", "10.0.0.5", "junk"});
    EXPECT_FALSE(policy.permits("93.184.216.34"));
    EXPECT_FALSE(policy.permits("::ffff:93.184.216.34"));
    EXPECT_FALSE(policy.permits("2606:4700::1111"));
    EXPECT_FALSE(policy.permits("10.0.0.5"));
    EXPECT_TRUE(policy.permits("93.184.216.35"));
    EXPECT_TRUE(policy.permits("2606:4700::1112"));

    AddressPolicy allowing = onHost({"198.51.100.1"});
    allowing.allow("198.51.100.1").allow("198.51.100.2");
    EXPECT_FALSE(allowing.permits("198.51.100.1")) << "allowed as public, still the host's";
    EXPECT_TRUE(allowing.permits("198.51.100.2"));
    EXPECT_TRUE(AddressPolicy::allowAll().permits("93.184.216.34"));
}

TEST(AddressPolicyTest, ReadsTheHostsAddressesAgainWhenTheyAreOld) {
    std::vector<std::string> current{"93.184.216.34"};
    int reads = 0;
    HostAddresses host(
        [&] {
            ++reads;
            return current;
        },
        std::chrono::seconds(2));
    auto bytes = [](const char* text) {
        HostAddresses::Bytes16 b{};
        b[10] = 0xff;
        b[11] = 0xff;
        EXPECT_EQ(inet_pton(AF_INET, text, &b[12]), 1);
        return b;
    };
    const auto t0 = HostAddresses::Clock::time_point{} + std::chrono::hours(1);
    EXPECT_TRUE(host.contains(bytes("93.184.216.34"), t0));
    current = {"93.184.216.99"};
    EXPECT_TRUE(host.contains(bytes("93.184.216.34"), t0 + std::chrono::seconds(1)));
    EXPECT_EQ(reads, 1);
    EXPECT_FALSE(host.contains(bytes("93.184.216.34"), t0 + std::chrono::seconds(2)));
    EXPECT_TRUE(host.contains(bytes("93.184.216.99"), t0 + std::chrono::seconds(2)));
    EXPECT_EQ(reads, 2);
}

TEST(AddressPolicyTest, InterfaceListHoldsLoopback) {
    const std::vector<std::string> addresses = HostAddresses::interfaceAddresses();
    EXPECT_NE(std::find(addresses.begin(), addresses.end(), "127.0.0.1"), addresses.end());
}
