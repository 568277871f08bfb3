#pragma once

#include <string>
#include <string_view>

namespace quelvar {

// Turns a reply body into the content text of the service profile: gzip bodies are
// decompressed, then the bytes are decoded by the charset of the media type into UTF-8.
class ContentDecoder {
public:
    // Returns the decompressed bytes of a gzip body; throws Error when the data is no valid
    // gzip stream.
    static std::string gunzip(std::string_view body);
    // Returns the bytes decoded from the charset to UTF-8, every undecodable byte turned into
    // U+FFFD; throws Error("Invalid encoding name") when no encoding bears that name.
    static std::string toUtf8(std::string_view bytes, const std::string& charset);
    // Returns the content text of a final reply; throws Error as gunzip and toUtf8 do.
    static std::string decode(int statusCode, std::string_view contentType,
                              std::string_view contentEncoding, std::string_view body);
};

}  // namespace quelvar
