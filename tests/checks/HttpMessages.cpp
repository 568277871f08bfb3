#include "tests/checks/HttpMessages.h"

namespace quelvar::test {

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
    for (const auto& [headerName, value] : headers) {
        if (headerName == name) {
            return value;
        }
    }
    return std::nullopt;
}

RecordedRequest parseRequest(std::string_view bytes) {
    RecordedRequest request;
    const auto headEnd = bytes.find("\r\n\r\n");
    const std::string_view head = bytes.substr(0, headEnd);
    if (headEnd != std::string_view::npos) {
        request.body = std::string(bytes.substr(headEnd + 4));
    }
    std::size_t start = 0;
    bool first = true;
    while (start <= head.size()) {
        auto end = head.find("\r\n", start);
        if (end == std::string_view::npos) {
            end = head.size();
        }
        const std::string_view line = head.substr(start, end - start);
        if (first) {
            request.requestLine = std::string(line);
            first = false;
        } else {
            const auto colon = line.find(':');
            std::string_view value =
                colon == std::string_view::npos ? std::string_view{} : line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ') {
                value.remove_prefix(1);
            }
            request.headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
        }
        start = end + 2;
    }
    return request;
}

std::string httpReply(int status, std::string_view reason, std::string_view body,
                      std::string_view extraHeaders) {
    std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
    if (status != 204 && status != 304) {
        reply += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    reply += "Connection: close\r\n";
    reply += extraHeaders;
    reply += "\r\n";
    reply += body;
    return reply;
}

std::string statusReply(std::string_view json) {
    return httpReply(200, "OK", json, "Content-Type: application/json\r\n");
}

std::string responseReply(std::string_view responseJson) {
    return statusReply("{\"response\":" + std::string(responseJson) + "}");
}

std::string textReply(int status, std::string_view reason, std::string_view body) {
    return httpReply(status, reason, body, "Content-Type: text/plain\r\n");
}

}  // namespace quelvar::test
