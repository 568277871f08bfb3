#include "http/UrlEncoding.h"

#include "base/Error.h"
#include "text/Ascii.h"

namespace quelvar {

namespace {

bool isBlankOrControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F;
}

bool needsEncoding(unsigned char byte, UrlComponent component) {
    if (byte <= 0x20 || byte >= 0x7F) {
        return true;
    }
    switch (byte) {
        case '*':
        case '<':
        case '>':
        case '#':
        case '%':
        case '"':
        case '{':
        case '}':
        case '|':
        case '\\':
        case '^':
        case '[':
        case ']':
        case '`':
            return true;
        case '+':
            return component == UrlComponent::Path;
        default:
            return false;
    }
}

}  // namespace

std::string percentEncode(std::string_view text, UrlComponent component) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (needsEncoding(byte, component)) {
            encoded += '%';
            encoded += kHexDigits[byte >> 4];
            encoded += kHexDigits[byte & 0x0F];
        } else {
            encoded += c;
        }
    }
    return encoded;
}

std::string rebuildUrl(const UrlParts& parts) {
    std::string url = parts.scheme + "://" + parts.host;
    // The port is compared as written: "080" is not the default "80" and stays.
    if (!parts.port.empty() && parts.port != defaultPort(parts.scheme)) {
        url += ':' + parts.port;
    }
    url += parts.path + parts.document;
    if (parts.hasQuery) {
        url += '?' + parts.query;
    }
    return url;
}

std::string normalizeBaseUrl(std::string_view text) {
    bool onlyBlanks = true;
    for (const char c : text) {
        onlyBlanks = onlyBlanks && isBlankOrControl(c);
    }
    if (onlyBlanks) {
        return {};
    }
    // Blanks around the text are trimmed before the split as well as after the rebuild, so
    // that a leading blank cannot hide the scheme from the default-port rule.
    const UrlParts parts = splitUrl(trimBlanks(text));
    if (parts.host.empty()) {
        throw Error("Host field is empty");
    }
    std::string url(trimBlanks(rebuildUrl(parts)));
    while (!url.empty() && url.back() == '/') {
        url.pop_back();
    }
    return url;
}

std::string encodeRequestUrl(std::string_view baseUrl) {
    UrlParts parts = splitUrl(baseUrl);
    parts.path = percentEncode(parts.path, UrlComponent::Path);
    parts.document = percentEncode(parts.document, UrlComponent::Path);
    parts.query = percentEncode(parts.query, UrlComponent::Query);
    return rebuildUrl(parts);
}

}  // namespace quelvar
