#include "checks/CaughtMessage.h"

#include <exception>

namespace quelvar {

std::string caughtMessage() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace quelvar
