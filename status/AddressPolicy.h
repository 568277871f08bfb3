#pragma once

#include <sys/socket.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "status/HostAddresses.h"

namespace quelvar::status {

// Decides whether the service may connect to an address. By default only public unicast
// addresses pass, and never one of the host's own; the permissive policy lets every address
// through, and single addresses can be allowed as if they were public.
class AddressPolicy {
public:
    enum class Mode { PublicOnly, AllowAll };

    // A PublicOnly policy reads the host's own addresses from its interfaces.
    explicit AddressPolicy(Mode mode = Mode::PublicOnly);

    // Returns a policy that lets every address through.
    static AddressPolicy allowAll() { return AddressPolicy(Mode::AllowAll); }

    // Treats this numeric address (IPv4 or IPv6 text) as public; it is still refused when it
    // belongs to the host. Throws ServiceError when the text is not a numeric address.
    AddressPolicy& allow(std::string_view numericAddress);
    // Replaces where the host's own addresses come from.
    AddressPolicy& withHostAddresses(std::shared_ptr<HostAddresses> hostAddresses);

    Mode mode() const { return m_mode; }

    // Returns whether a connection to the address may be made.
    bool permits(const sockaddr* address, socklen_t length) const;
    // Returns whether the numeric address text may be connected to; false for text that is not
    // a numeric address.
    bool permits(std::string_view numericAddress) const;

    // Returns whether the address is public unicast: not loopback, private, shared (CGNAT),
    // link-local, unspecified, multicast, broadcast, reserved, documentation, benchmarking,
    // IPv6 unique-local, a cloud platform's host-internal address, or an IPv4-mapped,
    // -compatible, NAT64 or 6to4 form of one of them.
    static bool isPublic(const sockaddr* address, socklen_t length);

private:
    Mode m_mode;
    std::shared_ptr<HostAddresses> m_hostAddresses;  // shared by the copies of a policy
    std::vector<std::string> m_allowed;              // 16-byte IPv6 forms, IPv4 as mapped
};

}  // namespace quelvar::status
