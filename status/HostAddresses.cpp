#include "status/HostAddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace quelvar::status {

namespace {

bool toBytes16(const std::string& text, HostAddresses::Bytes16& out) {
    in_addr v4{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        out.fill(0);
        out[10] = 0xff;
        out[11] = 0xff;
        std::memcpy(&out[12], &v4, 4);
        return true;
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
        std::memcpy(out.data(), &v6, 16);
        return true;
    }
    return false;
}

}  // namespace

HostAddresses::HostAddresses(Source source, std::chrono::milliseconds refresh)
    : m_source(std::move(source)), m_refresh(refresh) {}

bool HostAddresses::contains(const Bytes16& address, Clock::time_point now) {
    std::lock_guard lock(m_mutex);
    if (!m_read || now - m_readAt >= m_refresh) {
        std::vector<Bytes16> addresses;
        for (const std::string& text : m_source()) {
            Bytes16 bytes;
            if (toBytes16(text, bytes)) {
                addresses.push_back(bytes);
            }
        }
        m_addresses = std::move(addresses);
        m_readAt = now;
        m_read = true;
    }
    return std::find(m_addresses.begin(), m_addresses.end(), address) != m_addresses.end();
}

std::vector<std::string> HostAddresses::interfaceAddresses() {
    std::vector<std::string> addresses;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return addresses;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr) {
            continue;
        }
        char text[INET6_ADDRSTRLEN];
        if (entry->ifa_addr->sa_family == AF_INET) {
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr,
                      text, sizeof text);
            addresses.emplace_back(text);
        } else if (entry->ifa_addr->sa_family == AF_INET6) {
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr,
                      text, sizeof text);
            addresses.emplace_back(text);
        }
    }
    freeifaddrs(list);
    return addresses;
}

}  // namespace quelvar::status
