#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quelvar::test {

// A request as a scripted server recorded it, split into its request line, its header lines
// (names as sent) and its body.
struct RecordedRequest {
    std::string requestLine;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // Returns the value of the header of exactly this name, or nothing when it was not sent.
    std::optional<std::string> header(std::string_view name) const;
};

// Splits the exact bytes of a request.
RecordedRequest parseRequest(std::string_view bytes);

// Returns the bytes of an HTTP/1.1 reply with a Content-Length (none for 204 and 304), a
// "Connection: close" header, the extra header lines (each ending in CR LF) and the body.
std::string httpReply(int status, std::string_view reason, std::string_view body = "",
                      std::string_view extraHeaders = "");

// Returns a status-service answer: 200 with the JSON text as application/json body.
std::string statusReply(std::string_view json);
// Returns a status-service answer whose body is {"response": responseJson}.
std::string responseReply(std::string_view responseJson);
// Returns the reply with a "Content-Type: text/plain" header.
std::string textReply(int status, std::string_view reason, std::string_view body);

}  // namespace quelvar::test
