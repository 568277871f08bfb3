#include "status/AccessLog.h"

#include <ctime>

#include "status/LoggedUrl.h"
#include "status/ReplyWriter.h"

namespace quelvar::status {

namespace {

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

}  // namespace

std::string accessLogLine(const std::string& client, const CheckResult& result, bool clientGone) {
    std::string chain;
    for (const ChainEntry& entry : result.chain) {
        if (!chain.empty()) {
            chain += ',';
        }
        chain += std::to_string(entry.statusCode);
    }
    return utcNow() + " check client=" + client + " url=" + loggedUrl(result.requestUrl) +
           " code=" + result.code.value_or("-") + " chain=" + (chain.empty() ? "-" : chain) +
           " duration_ms=" + ReplyWriter::millisecondsText(result.duration) +
           (clientGone ? " client_gone" : "");
}

}  // namespace quelvar::status
