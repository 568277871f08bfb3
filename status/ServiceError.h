#pragma once

#include "base/Error.h"

namespace quelvar::status {

// The status service's failure: a bad option, an unusable certificate, a socket that cannot be
// bound. It carries the message written where the failure was detected.
class ServiceError : public Error {
public:
    using Error::Error;
};

}  // namespace quelvar::status
