#include "http/ContentDecoder.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <utility>

#include "http/CharsetConversion.h"
#include "http/Error.h"
#include "http/RestClientSession.h"

namespace quelvar {

namespace {

std::string_view trim(std::string_view text, std::string_view blanks = " \t") {
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::string toLower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string_view unquote(std::string_view text, char quote) {
    if (text.size() >= 2 && text.front() == quote && text.back() == quote) {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

// A broken body is reported like the transport's own content-encoding failure, so that the
// message keeps the "(number) text" form of every other reading failure.
[[noreturn]] void throwBadContentEncoding() {
    throw RestClient::Session::contentEncodingError();
}

}  // namespace

std::string ContentDecoder::mediaType(std::string_view contentType) {
    return std::string(trim(contentType.substr(0, contentType.find(';'))));
}

std::string ContentDecoder::charset(std::string_view contentType) {
    auto semicolon = contentType.find(';');
    while (semicolon != std::string_view::npos) {
        contentType.remove_prefix(semicolon + 1);
        semicolon = contentType.find(';');
        const std::string_view parameter = contentType.substr(0, semicolon);
        const auto equals = parameter.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        if (toLower(trim(parameter.substr(0, equals))) == "charset") {
            std::string_view value = trim(parameter.substr(equals + 1));
            value = unquote(value, '\'');
            value = unquote(value, '"');
            return std::string(value);
        }
    }
    return {};
}

std::string ContentDecoder::gunzip(std::string_view body) {
    // A reply without body (204, 304) may still name its encoding.
    if (body.empty()) {
        return {};
    }
    z_stream stream{};
    // 16 + MAX_WBITS: a gzip header and trailer around the deflate data, nothing else.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        throwBadContentEncoding();
    }
    const std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&stream, inflateEnd);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    stream.avail_in = static_cast<uInt>(body.size());
    std::string output;
    char buffer[16384];
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        const int result = inflate(&stream, Z_NO_FLUSH);
        output.append(buffer, sizeof buffer - stream.avail_out);
        if (result == Z_STREAM_END) {
            // RFC 1952 allows several members one after the other.
            if (stream.avail_in == 0) {
                return output;
            }
            if (inflateReset(&stream) != Z_OK) {
                throwBadContentEncoding();
            }
        } else if (result != Z_OK) {
            throwBadContentEncoding();
        } else if (stream.avail_in == 0 && stream.avail_out != 0) {
            // Input ended before the gzip trailer: the body was cut short.
            throwBadContentEncoding();
        }
    }
}

std::string ContentDecoder::toUtf8(std::string_view bytes, const std::string& charset) {
    std::optional<std::string> text = convertToUtf8(bytes, charset);
    if (!text) {
        throw Error("Invalid encoding name");
    }
    return std::move(*text);
}

std::string ContentDecoder::decode(int statusCode, std::string_view contentType,
                                   std::string_view contentEncoding, std::string_view body) {
    std::string bytes = contentEncoding == "gzip" ? gunzip(body) : std::string(body);
    const std::string name = charset(contentType);
    if (!name.empty()) {
        return toUtf8(bytes, toLower(name) == "utf-8" ? std::string("UTF-8") : name);
    }
    if (statusCode < 300) {
        const std::string type = toLower(mediaType(contentType));
        if (type.starts_with("image") || type.starts_with("video") || type.starts_with("audio")) {
            return {};
        }
    }
    return toUtf8(bytes, "UTF-8");
}

}  // namespace quelvar
