#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quelvar {

// What becomes of a byte sequence that is not valid UTF-8.
enum class Utf8Faults {
    Fail,     // the decoding fails
    Replace,  // the sequence becomes U+FFFD
};

// Converts UTF-8 bytes in which no sequence is cut off but by a fault and appends their UTF-16
// form to text; returns false, appending nothing, on a fault with Utf8Faults::Fail.
using Utf8Conversion = bool (*)(std::string_view bytes, Utf8Faults faults, std::u16string& text);

// Converts UTF-8 to UTF-16 as Utf8Conversion says; with Utf8Faults::Replace, each longest
// valid start of a sequence that is not whole becomes one U+FFFD, as does each byte that begins
// no sequence.
bool utf16FromUtf8(std::string_view bytes, Utf8Faults faults, std::u16string& text);

// Returns how many bytes at the end are the valid start of a sequence that the end cuts off. A
// cut-off start that is already invalid is no such start: it is a fault of these bytes.
std::size_t cutOffUtf8Tail(std::string_view bytes);

// Decodes UTF-8 that arrives in blocks into UTF-16: the bytes of a character that straddles two
// blocks are carried over from the first and decoded whole with the second.
class Utf8Decoder {
public:
    explicit Utf8Decoder(Utf8Faults faults, Utf8Conversion conversion = &utf16FromUtf8);

    // Decodes the bytes carried over and then block, and appends their text. The valid start of
    // a sequence that the end of block cuts off is carried over to the next call unless atEnd,
    // when it is a fault. Returns false on a fault with Utf8Faults::Fail, appending nothing.
    bool decode(std::string_view block, bool atEnd, std::u16string& text);
    // Returns whether bytes are carried over to the next call.
    bool carriesOver() const { return !m_carried.empty(); }

private:
    Utf8Faults m_faults;
    Utf8Conversion m_conversion;
    std::string m_carried;
};

}  // namespace quelvar
