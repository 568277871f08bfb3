#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quelvar::status {

// How much a log line matters; lines below the chosen level are not written.
enum class LogLevel { Debug, Info, Warning, Error };

using LogSink = std::function<void(LogLevel level, const std::string& line)>;

// Returns the level named "debug", "info", "warning" or "error", or nothing for another text.
std::optional<LogLevel> parseLogLevel(std::string_view name);

}  // namespace quelvar::status
