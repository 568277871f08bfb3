#include "http/ContentDecoder.h"

#include <zlib.h>

#include <memory>
#include <optional>
#include <utility>

#include "base/Error.h"
#include "http/CharsetConversion.h"
#include "http/RestClient.h"
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

std::string ContentDecoder::gunzip(std::string_view body, BodyEnd end) {
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
        const std::size_t produced = sizeof buffer - stream.avail_out;
        // A few kilobytes of gzip can stand for gigabytes; the content is bounded as the
        // body is.
        if (produced > RestClient::kMaxBodyBytes - output.size()) {
            throw RestClient::Session::bodyTooLargeError();
        }
        output.append(buffer, produced);
        if (result == Z_STREAM_END) {
            // RFC 1952 allows several members one after the other.
            if (stream.avail_in == 0) {
                return output;
            }
            if (inflateReset(&stream) != Z_OK) {
                throwBadContentEncoding();
            }
        } else if (result != Z_OK && !(result == Z_BUF_ERROR && stream.avail_in == 0)) {
            throwBadContentEncoding();
        } else if (stream.avail_in == 0 && (stream.avail_out != 0 || result == Z_BUF_ERROR)) {
            // Input ended before the gzip trailer: the body was cut short, by the server, or
            // by the body limit when only the status is wanted.
            if (end == BodyEnd::Cut) {
                return output;
            }
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
                                   std::string_view contentEncoding, std::string_view body,
                                   BodyEnd end) {
    std::string bytes = contentEncoding == "gzip" ? gunzip(body, end) : std::string(body);
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
