#include "status/ClientAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace quelvar::status {

ClientAddress::ClientAddress(const sockaddr* address, socklen_t length, int ipv6PrefixLength) {
    char text[INET6_ADDRSTRLEN] = "-";
    if (address != nullptr && address->sa_family == AF_INET &&
        length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                  sizeof text);
        m_text = text;
        m_limitKey = m_text;
        return;
    }
    if (address == nullptr || address->sa_family != AF_INET6 ||
        length < static_cast<socklen_t>(sizeof(sockaddr_in6))) {
        m_text = "-";
        m_limitKey = "-";
        return;
    }
    const in6_addr& in6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&in6)) {
        // A dual-stack listener sees IPv4 clients in this form; they are IPv4 clients, each
        // counted alone, not one client of the ::ffff:0:0/96 prefix.
        inet_ntop(AF_INET, &in6.s6_addr[12], text, sizeof text);
        m_text = text;
        m_limitKey = m_text;
        return;
    }
    inet_ntop(AF_INET6, &in6, text, sizeof text);
    m_text = text;
    // One host is usually given a whole /64 (RFC 6177), so counting single addresses would
    // give it 2^64 allowances.
    const int bits = std::clamp(ipv6PrefixLength, 0, 128);
    in6_addr prefix{};
    std::memcpy(&prefix, &in6, sizeof prefix);
    for (int bit = bits; bit < 128; ++bit) {
        prefix.s6_addr[bit / 8] &= static_cast<std::uint8_t>(~(0x80u >> (bit % 8)));
    }
    char prefixText[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, &prefix, prefixText, sizeof prefixText);
    m_limitKey = std::string(prefixText) + "/" + std::to_string(bits);
}

}  // namespace quelvar::status
