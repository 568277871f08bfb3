#include "status/AddressPolicy.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "status/ServiceError.h"

namespace quelvar::status {

namespace {

using Bytes16 = std::array<std::uint8_t, 16>;

// An address prefix: the leading bits of the address that must match.
struct Prefix4 {
    std::uint32_t network;
    int length;
};

bool inPrefix(std::uint32_t address, const Prefix4& prefix) {
    if (prefix.length == 0) {
        return true;
    }
    const std::uint32_t mask = prefix.length == 32 ? 0xffffffffu : ~(0xffffffffu >> prefix.length);
    return (address & mask) == (prefix.network & mask);
}

constexpr std::uint32_t ip4(int a, int b, int c, int d) {
    return (static_cast<std::uint32_t>(a) << 24) | (static_cast<std::uint32_t>(b) << 16) |
           (static_cast<std::uint32_t>(c) << 8) | static_cast<std::uint32_t>(d);
}

// IANA IPv4 special-purpose registry (RFC 6890 and its updates) and the multicast, reserved
// and broadcast blocks.
constexpr Prefix4 kNonPublic4[] = {
    {ip4(0, 0, 0, 0), 8},        // "this network", 0.0.0.0 included
    {ip4(10, 0, 0, 0), 8},       // private, RFC 1918
    {ip4(100, 64, 0, 0), 10},    // shared address space (CGNAT), RFC 6598
    {ip4(127, 0, 0, 0), 8},      // loopback
    {ip4(169, 254, 0, 0), 16},   // link-local, cloud metadata at 169.254.169.254
    {ip4(172, 16, 0, 0), 12},    // private
    {ip4(192, 0, 0, 0), 24},     // IETF protocol assignments
    {ip4(192, 0, 2, 0), 24},     // documentation TEST-NET-1
    {ip4(192, 31, 196, 0), 24},  // AS112
    {ip4(192, 52, 193, 0), 24},  // AMT
    {ip4(192, 88, 99, 0), 24},   // deprecated 6to4 relay anycast
    {ip4(192, 168, 0, 0), 16},   // private
    {ip4(192, 175, 48, 0), 24},  // direct delegation AS112
    {ip4(198, 18, 0, 0), 15},    // benchmarking
    {ip4(198, 51, 100, 0), 24},  // documentation TEST-NET-2
    {ip4(203, 0, 113, 0), 24},   // documentation TEST-NET-3
    {ip4(224, 0, 0, 0), 4},      // multicast
    {ip4(240, 0, 0, 0), 4},      // reserved, 255.255.255.255 broadcast included
    // Addresses in public space that reach the cloud host's own platform services rather than
    // anything on the internet. (Their metadata services at 169.254.169.254, Alibaba's at
    // 100.100.100.200 and the IPv6 ones of AWS and Google, fd00:ec2::254 and fd20:ce::254,
    // are link-local, shared or unique-local and refused above.)
    {ip4(168, 63, 129, 16), 32},  // Azure WireServer: VM agent, health probes, DNS, DHCP
    {ip4(161, 26, 0, 0), 16},     // IBM Cloud service network: DNS resolvers, NTP, mirrors
};

bool isPublic4(std::uint32_t address) {
    return std::none_of(std::begin(kNonPublic4), std::end(kNonPublic4),
                        [address](const Prefix4& p) { return inPrefix(address, p); });
}

std::uint32_t load4(const std::uint8_t* bytes) {
    return ip4(bytes[0], bytes[1], bytes[2], bytes[3]);
}

bool startsWith(const Bytes16& a, std::initializer_list<std::uint8_t> prefix, int bits) {
    int index = 0;
    for (const std::uint8_t byte : prefix) {
        const int remaining = bits - index * 8;
        if (remaining <= 0) {
            break;
        }
        const std::uint8_t mask =
            remaining >= 8 ? 0xff : static_cast<std::uint8_t>(0xff << (8 - remaining));
        if ((a[static_cast<std::size_t>(index)] & mask) != (byte & mask)) {
            return false;
        }
        ++index;
    }
    return true;
}

bool isPublic6(const Bytes16& a) {
    const bool firstTwelveZero =
        std::all_of(a.begin(), a.begin() + 12, [](auto b) { return b == 0; });
    // ::/96 holds the unspecified and loopback addresses and the deprecated IPv4-compatible
    // form; an IPv4-compatible address is judged by its IPv4 part and is refused either way.
    if (firstTwelveZero) {
        return false;
    }
    // ::ffff:0:0/96, IPv4-mapped: judged by the embedded IPv4 address.
    if (std::all_of(a.begin(), a.begin() + 10, [](auto b) { return b == 0; }) && a[10] == 0xff &&
        a[11] == 0xff) {
        return isPublic4(load4(&a[12]));
    }
    // ::ffff:0:0:0/96, IPv4-translated (SIIT).
    if (std::all_of(a.begin(), a.begin() + 8, [](auto b) { return b == 0; }) && a[8] == 0xff &&
        a[9] == 0xff && a[10] == 0 && a[11] == 0) {
        return isPublic4(load4(&a[12]));
    }
    // 64:ff9b::/96, the well-known NAT64 prefix, reaches the embedded IPv4 address.
    if (startsWith(a, {0x00, 0x64, 0xff, 0x9b, 0, 0, 0, 0, 0, 0, 0, 0}, 96)) {
        return isPublic4(load4(&a[12]));
    }
    // 64:ff9b:1::/48, local-use NAT64.
    if (startsWith(a, {0x00, 0x64, 0xff, 0x9b, 0x00, 0x01}, 48)) {
        return false;
    }
    // 2002::/16, 6to4: judged by the IPv4 address in bits 16 to 47.
    if (startsWith(a, {0x20, 0x02}, 16)) {
        return isPublic4(load4(&a[2]));
    }
    struct Prefix6 {
        std::initializer_list<std::uint8_t> bytes;
        int bits;
    };
    const Prefix6 refused[] = {
        {{0x01, 0x00, 0, 0, 0, 0, 0, 0}, 64},  // discard-only
        {{0x20, 0x01, 0x00}, 23},              // IETF protocol assignments (Teredo included)
        {{0x20, 0x01, 0x0d, 0xb8}, 32},        // documentation
        {{0x3f, 0xff}, 20},                    // documentation (RFC 9637)
        {{0x5f, 0x00}, 16},                    // segment routing SIDs
        {{0xfc}, 7},                           // unique local
        {{0xfe, 0x80}, 10},                    // link-local
        {{0xfe, 0xc0}, 10},                    // deprecated site-local
        {{0xff}, 8},                           // multicast
    };
    for (const Prefix6& p : refused) {
        if (startsWith(a, p.bytes, p.bits)) {
            return false;
        }
    }
    // Only global unicast 2000::/3 is public; everything else is reserved by IANA.
    return (a[0] & 0xe0) == 0x20;
}

bool toBytes16(const sockaddr* address, socklen_t length, Bytes16& out) {
    if (address == nullptr) {
        return false;
    }
    if (address->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        out.fill(0);
        out[10] = 0xff;
        out[11] = 0xff;
        std::memcpy(&out[12], &in->sin_addr, 4);
        return true;
    }
    if (address->sa_family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
        std::memcpy(out.data(), &in6->sin6_addr, 16);
        return true;
    }
    return false;
}

bool parseNumeric(std::string_view text, sockaddr_storage& storage, socklen_t& length) {
    const std::string copy(text);
    storage = {};
    auto* in = reinterpret_cast<sockaddr_in*>(&storage);
    if (inet_pton(AF_INET, copy.c_str(), &in->sin_addr) == 1) {
        in->sin_family = AF_INET;
        length = sizeof(sockaddr_in);
        return true;
    }
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (inet_pton(AF_INET6, copy.c_str(), &in6->sin6_addr) == 1) {
        in6->sin6_family = AF_INET6;
        length = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

}  // namespace

AddressPolicy::AddressPolicy(Mode mode) : m_mode(mode) {
    if (m_mode == Mode::PublicOnly) {
        m_hostAddresses = std::make_shared<HostAddresses>();
    }
}

AddressPolicy& AddressPolicy::withHostAddresses(std::shared_ptr<HostAddresses> hostAddresses) {
    m_hostAddresses = std::move(hostAddresses);
    return *this;
}

AddressPolicy& AddressPolicy::allow(std::string_view numericAddress) {
    sockaddr_storage storage;
    socklen_t length = 0;
    Bytes16 bytes;
    if (!parseNumeric(numericAddress, storage, length) ||
        !toBytes16(reinterpret_cast<const sockaddr*>(&storage), length, bytes)) {
        throw ServiceError("not a numeric address: " + std::string(numericAddress));
    }
    m_allowed.emplace_back(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return *this;
}

bool AddressPolicy::permits(const sockaddr* address, socklen_t length) const {
    if (m_mode == Mode::AllowAll) {
        return true;
    }
    Bytes16 bytes;
    if (!toBytes16(address, length, bytes)) {
        return false;
    }
    // The host's own addresses reach every service bound to all its interfaces, from inside
    // any firewall in front of it.
    if (m_hostAddresses && m_hostAddresses->contains(bytes)) {
        return false;
    }
    const std::string key(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (std::find(m_allowed.begin(), m_allowed.end(), key) != m_allowed.end()) {
        return true;
    }
    return isPublic(address, length);
}

bool AddressPolicy::permits(std::string_view numericAddress) const {
    sockaddr_storage storage;
    socklen_t length = 0;
    if (!parseNumeric(numericAddress, storage, length)) {
        return false;
    }
    return permits(reinterpret_cast<const sockaddr*>(&storage), length);
}

bool AddressPolicy::isPublic(const sockaddr* address, socklen_t length) {
    Bytes16 bytes;
    if (!toBytes16(address, length, bytes)) {
        return false;
    }
    return isPublic6(bytes);
}

}  // namespace quelvar::status
