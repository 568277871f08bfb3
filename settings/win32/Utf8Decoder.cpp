#include "settings/Utf8Decoder.h"

#include <windows.h>

#include "base/Error.h"

namespace quelvar {

namespace {

// Returns the number of bytes a sequence with this lead byte has, or 0 for a byte that cannot
// begin one.
std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

// Returns whether the byte may follow the lead byte as the second byte of its sequence: no
// overlong forms and no encoded surrogates (RFC 3629 section 4).
bool validSecond(unsigned char lead, unsigned char second) {
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead == 0xE0) {
        low = 0xA0;
    } else if (lead == 0xED) {
        high = 0x9F;
    } else if (lead == 0xF0) {
        low = 0x90;
    } else if (lead == 0xF4) {
        high = 0x8F;
    }
    return second >= low && second <= high;
}

// Returns how many bytes at the end of the text are the valid start of a sequence that the
// end cuts off: those wait for the next block. A cut-off start that is already invalid is not
// held back, so that the decoding reports it now.
std::size_t cutOffTail(std::string_view bytes) {
    const std::size_t size = bytes.size();
    for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
        const auto lead = static_cast<unsigned char>(bytes[size - back]);
        if (lead >= 0x80 && lead <= 0xBF) {
            continue;  // A continuation byte: the lead lies further back.
        }
        const std::size_t length = sequenceLength(lead);
        if (length <= back) {
            return 0;
        }
        if (back >= 2 && !validSecond(lead, static_cast<unsigned char>(bytes[size - back + 1]))) {
            return 0;
        }
        return back;
    }
    return 0;
}

}  // namespace

std::size_t decodeUtf8(std::string_view bytes, bool atEnd, Utf8Faults faults,
                       std::u16string& text) {
    const std::size_t count = bytes.size() - (atEnd ? 0 : cutOffTail(bytes));
    if (count == 0) {
        return 0;
    }
    // MB_ERR_INVALID_CHARS makes the conversion fail on the first invalid sequence instead of
    // putting U+FFFD in its place; without it the system substitutes.
    const DWORD flags = faults == Utf8Faults::Fail ? MB_ERR_INVALID_CHARS : 0;
    const int size = static_cast<int>(count);
    const int length = MultiByteToWideChar(CP_UTF8, flags, bytes.data(), size, nullptr, 0);
    if (length == 0) {
        throw Error(kNoMappingMessage);
    }
    std::u16string decoded(static_cast<std::size_t>(length), u'\0');
    MultiByteToWideChar(CP_UTF8, flags, bytes.data(), size,
                        reinterpret_cast<wchar_t*>(decoded.data()), length);
    text.append(decoded);
    return count;
}

}  // namespace quelvar
