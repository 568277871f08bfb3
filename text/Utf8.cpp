#include "text/Utf8.h"

#include <cstddef>

namespace quelvar {

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// Returns the length of the valid UTF-8 sequence at the position, 0 when none begins there.
std::size_t sequenceLengthAt(std::string_view bytes, std::size_t position) {
    const auto lead = static_cast<unsigned char>(bytes[position]);
    std::size_t length = 0;
    unsigned codePoint = 0;
    unsigned minimum = 0;
    if (lead < 0x80) {
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, codePoint = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, codePoint = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, codePoint = lead & 0x07u;
    } else {
        return 0;
    }
    if (position + length > bytes.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(bytes[position + i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    const bool valid =
        codePoint >= minimum && codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
    return valid ? length : 0;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    for (std::size_t position = 0; position < bytes.size();) {
        const std::size_t length = sequenceLengthAt(bytes, position);
        if (length == 0) {
            return false;
        }
        position += length;
    }
    return true;
}

std::string toValidUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t position = 0; position < bytes.size();) {
        const std::size_t length = sequenceLengthAt(bytes, position);
        if (length == 0) {
            text.append(kReplacementCharacter);
            ++position;
        } else {
            text.append(bytes.substr(position, length));
            position += length;
        }
    }
    return text;
}

}  // namespace quelvar
