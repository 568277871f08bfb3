#pragma once

#include <stdexcept>
#include <string>

namespace quelvar {

// The project-wide failure: every error Quelvar raises is an Error or derives from it, and
// carries the message written where the failure was detected.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace quelvar
