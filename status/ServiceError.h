#pragma once

#include <stdexcept>

namespace quelvar::status {

// The status service's failure: a bad option, an unusable certificate, a socket that cannot be
// bound. It carries the message written where the failure was detected.
class ServiceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace quelvar::status
