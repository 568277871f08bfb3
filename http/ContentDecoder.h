#pragma once

#include <string>
#include <string_view>

namespace quelvar {

// Whether a body arrived whole or was cut at the profile's body limit.
enum class BodyEnd { Complete, Cut };

// Turns a reply body into the content text of the service profile: gzip bodies are
// decompressed, then the bytes are decoded by the charset of the media type into UTF-8.
class ContentDecoder {
public:
    // Returns the decompressed bytes of a gzip body; throws Error when the data is no valid
    // gzip stream, or when it would decompress to more than RestClient::kMaxBodyBytes. A cut
    // body gives what its bytes decompress to.
    static std::string gunzip(std::string_view body, BodyEnd end = BodyEnd::Complete);
    // Returns the bytes decoded from the charset to UTF-8, every undecodable byte turned into
    // U+FFFD; throws Error("Invalid encoding name") when no encoding bears that name.
    static std::string toUtf8(std::string_view bytes, const std::string& charset);
    // Returns the content text of a final reply; throws Error as gunzip and toUtf8 do.
    static std::string decode(int statusCode, std::string_view contentType,
                              std::string_view contentEncoding, std::string_view body,
                              BodyEnd end = BodyEnd::Complete);
};

}  // namespace quelvar
