#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "status/CheckResult.h"

namespace quelvar::status {

// Writes the service's JSON replies.
class ReplyWriter {
public:
    // Returns {"response": {...}} for a finished check; every text that is not UTF-8 has its
    // broken bytes replaced by U+FFFD, so that what a target server sent cannot break the JSON.
    static std::string checkReply(const CheckResult& result);
    // Returns {"error": {"status": N, "message": "..."}}.
    static std::string errorReply(int httpStatus, std::string_view message);
    // Returns a duration as milliseconds with three decimals: "12.345".
    static std::string millisecondsText(std::chrono::microseconds duration);
};

}  // namespace quelvar::status
