#pragma once

#include <string>
#include <vector>

namespace quelvar::test {

// Moves this process into a network namespace of its own (inside a user namespace of its own,
// so that no privilege is needed), brings its loopback interface up and adds the IPv6
// addresses to it, each with a /64. Traffic between them never leaves the namespace. Must be
// called while the process has one thread; throws std::runtime_error naming the step that
// failed and why (user namespaces off, IPv6 off...).
void enterPrivateNetwork(const std::vector<std::string>& loopbackAddresses);

}  // namespace quelvar::test
