#pragma once

#include <sys/socket.h>

#include <string>

namespace quelvar::status {

// The address of a client connection, as logged and as counted by the per-client limits.
class ClientAddress {
public:
    // Takes the connection's peer address; an address of another family gives "-".
    // ipv6PrefixLength (0 to 128) is how many leading bits of an IPv6 address name one client.
    ClientAddress(const sockaddr* address, socklen_t length, int ipv6PrefixLength);

    // Returns the numeric address, IPv4-mapped IPv6 addresses in their IPv4 form.
    const std::string& text() const { return m_text; }
    // Returns what the per-client limits count by: an IPv4 address alone (also when it
    // arrives IPv4-mapped), an IPv6 address by its prefix, as "2001:db8:1:2::/64".
    const std::string& limitKey() const { return m_limitKey; }

private:
    std::string m_text;
    std::string m_limitKey;
};

}  // namespace quelvar::status
