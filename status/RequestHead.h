#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quelvar::status {

// A request line and its header fields as a client sent them, read strictly: every field in
// its order, names as sent, values without the blanks at their ends (RFC 9110 section 5.5).
struct RequestHead {
    std::string method;
    std::string target;
    std::string version;  // "HTTP/1.1"
    std::vector<std::pair<std::string, std::string>> fields;

    // Returns the head read from the text up to (not including) the blank line that ends it;
    // throws RequestRejection (400) when the text breaks RFC 9112 section 3 or 5: a request
    // line not of three parts, a target or value with a control character (NUL among them), a
    // field name that is no token (empty, or with a blank before the colon), or a line folded
    // onto the one before it (obs-fold, which a server may refuse, section 5.2).
    static RequestHead parse(std::string_view text);

    // Returns how many fields have this name, compared without regard to case.
    int count(std::string_view name) const;
    // Returns the value of the first field of this name, or nothing.
    std::optional<std::string_view> value(std::string_view name) const;
};

}  // namespace quelvar::status
