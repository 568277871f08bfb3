#include "text/MediaType.h"

#include "text/Ascii.h"

namespace quelvar {

namespace {

std::string_view unquoted(std::string_view text, char quote) {
    if (text.size() >= 2 && text.front() == quote && text.back() == quote) {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

}  // namespace

MediaType::MediaType(std::string_view contentType)
    : m_type(toLower(trimBlanks(contentType.substr(0, contentType.find(';'))))) {
    auto semicolon = contentType.find(';');
    while (semicolon != std::string_view::npos) {
        contentType.remove_prefix(semicolon + 1);
        semicolon = contentType.find(';');
        const std::string_view parameter = contentType.substr(0, semicolon);
        const auto equals = parameter.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view value = trimBlanks(parameter.substr(equals + 1));
        m_parameters.emplace_back(std::string(trimBlanks(parameter.substr(0, equals))),
                                  std::string(unquoted(unquoted(value, '\''), '"')));
    }
}

std::optional<std::string> MediaType::parameter(std::string_view name) const {
    for (const auto& [parameterName, value] : m_parameters) {
        if (equalsIgnoringCase(parameterName, name)) {
            return value;
        }
    }
    return std::nullopt;
}

}  // namespace quelvar
