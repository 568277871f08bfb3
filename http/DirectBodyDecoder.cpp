#include "http/DirectBodyDecoder.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <utility>

#include "http/CharsetConversion.h"
#include "text/Ascii.h"
#include "text/MediaType.h"
#include "text/Utf8.h"

namespace quelvar {

namespace {

// How far into a body a charset declaration is looked for; an HTML parser stops its
// pre-scan after 1024 bytes, this allows for a longer head.
constexpr std::size_t kDeclarationScan = 4096;

// Reads the value after "name" and "=" at position `at` of text: quoted, or up to a blank,
// ";", "/", ">", "?" or a quote.
std::string valueAfter(std::string_view text, std::size_t at) {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) {
        ++at;
    }
    if (at >= text.size() || text[at] != '=') {
        return {};
    }
    ++at;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) {
        ++at;
    }
    if (at < text.size() && (text[at] == '"' || text[at] == '\'')) {
        ++at;
    }
    const auto end = text.find_first_of(" \t\r\n;/>?\"'", at);
    return std::string(text.substr(at, end == std::string_view::npos ? end : end - at));
}

// The declaration <?xml ... encoding="name"?> at the start of an XML body.
std::string xmlEncodingOf(std::string_view body) {
    const std::string head = toLower(body.substr(0, kDeclarationScan));
    const auto start = head.find_first_not_of(" \t\r\n");
    if (start == std::string::npos || head.compare(start, 5, "<?xml") != 0) {
        return {};
    }
    const auto end = head.find("?>", start);
    const auto encoding = head.find("encoding", start);
    if (encoding == std::string::npos || (end != std::string::npos && encoding > end)) {
        return {};
    }
    return valueAfter(body, encoding + 8);
}

// <meta charset="name"> or <meta http-equiv="Content-Type" content="...; charset=name">.
std::string metaCharsetOf(std::string_view body) {
    const std::string head = toLower(body.substr(0, kDeclarationScan));
    for (auto meta = head.find("<meta"); meta != std::string::npos;
         meta = head.find("<meta", meta + 5)) {
        const auto close = head.find('>', meta);
        const std::string_view tag =
            std::string_view(head).substr(meta, close == std::string::npos ? close : close - meta);
        for (auto charset = tag.find("charset"); charset != std::string_view::npos;
             charset = tag.find("charset", charset + 7)) {
            std::string value = valueAfter(body.substr(meta), charset + 7);
            if (!value.empty()) {
                return value;
            }
        }
    }
    return {};
}

std::string fromLatin1(std::string_view body) {
    std::string text;
    text.reserve(body.size());
    for (const char c : body) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

// A charset name as replies write them; anything else (iconv suffixes such as "//IGNORE"
// included) is no known encoding.
bool isPlausibleName(std::string_view name) {
    return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' ||
               c == ':' || c == '+' || c == '(' || c == ')';
    });
}

}  // namespace

std::string DirectBodyDecoder::charsetOf(std::string_view contentType, std::string_view body) {
    const MediaType mediaType(contentType);
    if (std::string charset = mediaType.parameter("charset").value_or(std::string());
        !charset.empty()) {
        return charset;
    }
    const std::string& type = mediaType.type();
    const bool untyped = type.empty();
    const bool html = untyped || type.find("html") != std::string::npos;
    const bool xml = untyped || type.find("xml") != std::string::npos;
    if (html || xml) {
        if (std::string encoding = xmlEncodingOf(body); !encoding.empty()) {
            return encoding;
        }
    }
    if (html) {
        return metaCharsetOf(body);
    }
    return {};
}

std::string DirectBodyDecoder::decode(std::string_view body, std::string_view charset) {
    if (charset.empty()) {
        return isValidUtf8(body) ? std::string(body) : fromLatin1(body);
    }
    if (!isPlausibleName(charset)) {
        return fromLatin1(body);
    }
    std::optional<std::string> text = convertToUtf8(body, std::string(charset));
    return text ? std::move(*text) : fromLatin1(body);
}

std::string DirectBodyDecoder::text(std::string_view contentType, std::string_view body) {
    return decode(body, charsetOf(contentType, body));
}

}  // namespace quelvar
