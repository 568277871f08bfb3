#pragma once

#include <string>
#include <string_view>

namespace quelvar {

// Turns the body of a direct reply into UTF-8 text by the charset the reply names. Decoding
// never fails: an unknown charset reads the body as 8-bit text (ISO-8859-1) and bytes that do
// not belong to the charset become U+FFFD.
class DirectBodyDecoder {
public:
    // Returns the charset a reply names: the charset parameter of its Content-Type, else the
    // meta declaration of an HTML body, else the declaration of an XML body; empty when none.
    static std::string charsetOf(std::string_view contentType, std::string_view body);
    // Returns the body decoded as the charset says. Without a charset, a body that is valid
    // UTF-8 is taken as UTF-8 and any other as 8-bit text.
    static std::string decode(std::string_view body, std::string_view charset);
    // Returns the text of a reply body: decode() with charsetOf().
    static std::string text(std::string_view contentType, std::string_view body);
};

}  // namespace quelvar
