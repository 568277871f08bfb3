// Feeds arbitrary bytes to the status service's request parsing and reply writing: parsing
// either yields a URL or refuses with 400, and whatever URL comes out is written back as
// valid JSON.
#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "status/CheckResult.h"
#include "status/ReplyWriter.h"
#include "status/StatusRequest.h"

using quelvar::status::CheckResult;
using quelvar::status::ReplyWriter;
using quelvar::status::RequestRejection;
using quelvar::status::StatusRequest;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    CheckResult result;
    try {
        result.requestUrl = StatusRequest::parse(body).requestUrl();
    } catch (const RequestRejection& rejection) {
        if (rejection.httpStatus != 400 || rejection.message.empty()) {
            std::abort();
        }
        result.requestUrl = std::string(body);
    }
    result.code = "ERR_INVALID_URL";
    const std::string reply = ReplyWriter::checkReply(result);
    rapidjson::Document document;
    document.Parse<rapidjson::kParseValidateEncodingFlag>(reply.data(), reply.size());
    if (document.HasParseError()) {
        std::abort();
    }
    return 0;
}
