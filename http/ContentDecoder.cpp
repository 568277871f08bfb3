#include "http/ContentDecoder.h"

#include <zlib.h>

#include <memory>
#include <optional>
#include <utility>

#include "http/CharsetConversion.h"
#include "http/Error.h"
#include "http/RestClientSession.h"
#include "text/Ascii.h"
#include "text/MediaType.h"

namespace quelvar {

namespace {

// A broken body is reported like the transport's own content-encoding failure, so that the
// message keeps the "(number) text" form of every other reading failure.
[[noreturn]] void throwBadContentEncoding() {
    throw RestClient::Session::contentEncodingError();
}

}  // namespace

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
    const MediaType mediaType(contentType);
    const std::string name = mediaType.parameter("charset").value_or(std::string());
    if (!name.empty()) {
        return toUtf8(bytes, equalsIgnoringCase(name, "utf-8") ? std::string("UTF-8") : name);
    }
    if (statusCode < 300 &&
        (mediaType.typeStartsWith("image") || mediaType.typeStartsWith("video") ||
         mediaType.typeStartsWith("audio"))) {
        return {};
    }
    return toUtf8(bytes, "UTF-8");
}

}  // namespace quelvar
