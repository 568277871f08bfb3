#pragma once

#include <string>

#include "status/CheckResult.h"

namespace quelvar::status {

// Returns the log line of a finished check: the time (UTC), the client, the checked URL
// without its user information, the failure code, the chain's status codes and the duration,
// and " client_gone" when the client left before the answer.
std::string accessLogLine(const std::string& client, const CheckResult& result, bool clientGone);

}  // namespace quelvar::status
