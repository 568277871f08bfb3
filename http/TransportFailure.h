#pragma once

#include <string>
#include <string_view>

namespace quelvar {

// The phase of a service-profile exchange in which its transport failed: while the request
// went out (connection and TLS handshake included), while the reply's head was awaited, or
// while its body was read.
enum class TransportPhase { Sending, Receiving, Reading };

// Returns the message of a transport failure, the same on every platform: the phase's prefix
// ("Error sending data: ", "Error receiving data: ", "Error reading data: ") and the
// transport's cause, "(code) text".
std::string transportFailure(TransportPhase phase, std::string_view cause);

}  // namespace quelvar
