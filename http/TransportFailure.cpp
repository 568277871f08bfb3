#include "http/TransportFailure.h"

namespace quelvar {

std::string transportFailure(TransportPhase phase, std::string_view cause) {
    std::string message;
    switch (phase) {
        case TransportPhase::Sending:
            message = "Error sending data: ";
            break;
        case TransportPhase::Receiving:
            message = "Error receiving data: ";
            break;
        case TransportPhase::Reading:
            message = "Error reading data: ";
            break;
    }
    message += cause;
    return message;
}

}  // namespace quelvar
