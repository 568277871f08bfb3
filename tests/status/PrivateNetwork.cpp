#include "tests/status/PrivateNetwork.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/ipv6.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quelvar::test {

namespace {

[[noreturn]] void fail(const std::string& step) {
    throw std::runtime_error(step + ": " + std::strerror(errno));
}

void writeProcFile(const char* path, const std::string& text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        fail(std::string("cannot open ") + path);
    }
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int error = errno;
    close(fd);
    if (!written) {
        errno = error;
        fail(std::string("cannot write ") + path);
    }
}

}  // namespace

void enterPrivateNetwork(const std::vector<std::string>& loopbackAddresses) {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        fail("cannot make a user and network namespace (unshare)");
    }
    // The same mapping as "unshare -r": this user is root inside, so that programs started
    // from here keep their rights over the namespace. The group map must come before the
    // user map, and setgroups must be denied before an unprivileged process may write it.
    writeProcFile("/proc/self/setgroups", "deny");
    writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");

    const int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail("no IPv6 socket in the namespace");
    }
    try {
        // A new namespace's loopback is down and empty; up, it gets 127.0.0.1 and ::1.
        ifreq flags{};
        std::strncpy(flags.ifr_name, "lo", IFNAMSIZ - 1);
        if (ioctl(fd, SIOCGIFFLAGS, &flags) != 0) {
            fail("cannot read the flags of lo");
        }
        flags.ifr_flags = static_cast<short>(flags.ifr_flags | IFF_UP);
        if (ioctl(fd, SIOCSIFFLAGS, &flags) != 0) {
            fail("cannot bring lo up");
        }
        const unsigned index = if_nametoindex("lo");
        for (const std::string& text : loopbackAddresses) {
            // Addresses on a loopback interface skip duplicate address detection, so each can
            // be bound as soon as it is added.
            in6_ifreq address{};
            if (inet_pton(AF_INET6, text.c_str(), &address.ifr6_addr) != 1) {
                throw std::runtime_error("not a numeric IPv6 address: " + text);
            }
            address.ifr6_prefixlen = 64;
            address.ifr6_ifindex = static_cast<int>(index);
            if (ioctl(fd, SIOCSIFADDR, &address) != 0) {
                fail("cannot add " + text + " to lo");
            }
        }
    } catch (...) {
        close(fd);
        throw;
    }
    close(fd);
}

}  // namespace quelvar::test
