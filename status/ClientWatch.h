#pragma once

#include <vector>

namespace quelvar::status {

// Tells which of the connections whose check runs have lost their client: a connection is not
// read while its check runs, so the end of the client's side (FIN) or a reset shows only as
// the socket's state.
class ClientWatch {
public:
    // Returns those of the sockets whose peer has closed or reset its side; does not wait.
    static std::vector<int> departed(const std::vector<int>& sockets);
};

}  // namespace quelvar::status
