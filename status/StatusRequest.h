#pragma once

#include <string>
#include <string_view>

namespace quelvar::status {

// A request the front refuses: the HTTP status to answer with and the message of the JSON
// error body.
struct RequestRejection {
    int httpStatus = 400;
    std::string message;
};

// The body of POST /v1/status: a JSON object whose member "requestUrl" names the URL to check.
// Other members are ignored; when "requestUrl" occurs more than once, the last one counts, as
// in JavaScript.
class StatusRequest {
public:
    // Parses a request body as strict JSON (RFC 8259, UTF-8 validated); throws
    // RequestRejection with status 400 when it is not JSON, not an object, has no
    // "requestUrl", one that is not a string, or one with a control character.
    static StatusRequest parse(std::string_view body);

    const std::string& requestUrl() const { return m_requestUrl; }

private:
    std::string m_requestUrl;
};

}  // namespace quelvar::status
