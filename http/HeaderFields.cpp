#include "http/HeaderFields.h"

#include "text/Ascii.h"

namespace quelvar {

std::optional<HeaderField> splitHeaderLine(std::string_view line) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    return HeaderField{std::string(trimBlanks(line.substr(0, colon))),
                       std::string(trimBlanks(line.substr(colon + 1)))};
}

std::optional<std::size_t> parseDecimal(std::string_view text) {
    if (text.empty() || text.size() > 18) {
        return std::nullopt;
    }
    std::size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    return value;
}

}  // namespace quelvar
