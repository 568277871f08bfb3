#include "status/Log.h"

namespace quelvar::status {

std::optional<LogLevel> parseLogLevel(std::string_view name) {
    if (name == "debug") {
        return LogLevel::Debug;
    }
    if (name == "info") {
        return LogLevel::Info;
    }
    if (name == "warning") {
        return LogLevel::Warning;
    }
    if (name == "error") {
        return LogLevel::Error;
    }
    return std::nullopt;
}

}  // namespace quelvar::status
