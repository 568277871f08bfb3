#pragma once

#include <string>

namespace quelvar {

// Returns the message of the exception being handled; called only inside a catch block.
std::string caughtMessage();

}  // namespace quelvar
