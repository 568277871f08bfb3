#include "status/RequestHead.h"

#include <algorithm>

#include "status/StatusRequest.h"
#include "text/Ascii.h"

namespace quelvar::status {

namespace {

// Returns whether the text is an RFC 9110 section 5.6.2 token.
bool isToken(std::string_view text) {
    static constexpr std::string_view kMarks = "!#$%&'*+-.^_`|~";
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
               (byte >= 'A' && byte <= 'Z') || kMarks.find(c) != std::string_view::npos;
    });
}

// Returns whether the text holds a control character other than the horizontal tab (RFC 9110
// section 5.5: field-vchar, obs-text and blanks only).
bool hasControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\t') || byte == 0x7f;
    });
}

// Returns whether the text is a request target: visible ASCII only (RFC 9112 section 3.2).
bool isTarget(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7f;
    });
}

}  // namespace

RequestHead RequestHead::parse(std::string_view text) {
    RequestHead head;
    std::size_t lineEnd = text.find("\r\n");
    const std::string_view requestLine = text.substr(0, lineEnd);
    const auto firstSpace = requestLine.find(' ');
    const auto lastSpace = requestLine.rfind(' ');
    if (firstSpace == std::string_view::npos || firstSpace == lastSpace) {
        throw RequestRejection{400, "malformed request line"};
    }
    head.method = requestLine.substr(0, firstSpace);
    head.target = requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    head.version = requestLine.substr(lastSpace + 1);
    if (!isToken(head.method) || !isTarget(head.target) || head.version.empty() ||
        hasControl(head.version)) {
        throw RequestRejection{400, "malformed request line"};
    }
    while (lineEnd != std::string_view::npos) {
        const std::size_t start = lineEnd + 2;
        lineEnd = text.find("\r\n", start);
        const std::string_view line = text.substr(start, lineEnd - start);
        if (line.empty() && lineEnd == std::string_view::npos) {
            break;
        }
        const auto colon = line.find(':');
        if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            throw RequestRejection{400, "folded header field line"};
        }
        if (colon == std::string_view::npos || !isToken(line.substr(0, colon))) {
            throw RequestRejection{400, "malformed header field name"};
        }
        const std::string_view value = line.substr(colon + 1);
        if (hasControl(value)) {
            throw RequestRejection{400, "malformed header field value"};
        }
        head.fields.emplace_back(line.substr(0, colon), trimBlanks(value));
    }
    return head;
}

int RequestHead::count(std::string_view name) const {
    return static_cast<int>(std::count_if(fields.begin(), fields.end(), [name](const auto& field) {
        return equalsIgnoringCase(field.first, name);
    }));
}

std::optional<std::string_view> RequestHead::value(std::string_view name) const {
    for (const auto& [fieldName, fieldValue] : fields) {
        if (equalsIgnoringCase(fieldName, name)) {
            return std::string_view(fieldValue);
        }
    }
    return std::nullopt;
}

}  // namespace quelvar::status
