#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quelvar {

// What begins at one position of UTF-8 bytes, by RFC 3629: no overlong forms, no surrogates,
// nothing above U+10FFFF.
struct Utf8Sequence {
    // The number of bytes its lead byte announces; 0 for a byte that begins no sequence.
    std::size_t length = 0;
    // How many of them, from the lead byte on, are present and may stand where they stand.
    std::size_t valid = 0;
    // The code point, when the sequence is whole.
    char32_t codePoint = 0;

    // Returns whether the sequence is present and valid in full.
    bool whole() const { return length != 0 && valid == length; }
};

// Returns the sequence that begins at the position, which lies before the end of the bytes.
Utf8Sequence utf8SequenceAt(std::string_view bytes, std::size_t position);
// Returns whether the bytes are UTF-8 as RFC 3629 defines it: no overlong forms, no
// surrogates, nothing above U+10FFFF, no sequence cut off at the end.
bool isValidUtf8(std::string_view bytes);
// Returns the bytes with every byte that does not begin a valid UTF-8 sequence replaced by
// U+FFFD; valid sequences are kept as they are.
std::string toValidUtf8(std::string_view bytes);
// Appends the UTF-8 form of the code point (at most U+10FFFF) to the text.
void appendUtf8(std::string& text, char32_t codePoint);
// Returns the UTF-16 text as UTF-8; a surrogate without its partner becomes U+FFFD.
std::string utf8FromUtf16(std::u16string_view text);

}  // namespace quelvar
