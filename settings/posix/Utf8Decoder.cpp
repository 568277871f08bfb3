#include "settings/Utf8Decoder.h"

#include "base/Error.h"

namespace quelvar {

std::size_t decodeUtf8(std::string_view bytes, bool atEnd, Utf8Faults faults,
                       std::u16string& text) {
    std::u16string decoded;
    decoded.reserve(bytes.size());
    const auto byteAt = [bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const std::size_t size = bytes.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char lead = byteAt(i);
        if (lead < 0x80) {
            decoded.push_back(lead);
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t codePoint = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            codePoint = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            codePoint = lead & 0x0F;
            // No overlong forms and no encoded surrogates (RFC 3629 section 4).
            if (lead == 0xE0) {
                low = 0xA0;
            } else if (lead == 0xED) {
                high = 0x9F;
            }
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            codePoint = lead & 0x07;
            if (lead == 0xF0) {
                low = 0x90;
            } else if (lead == 0xF4) {
                high = 0x8F;
            }
        }
        // The number of bytes of a valid prefix of the sequence that are present.
        std::size_t valid = length == 0 ? 0 : 1;
        while (valid > 0 && valid < length && i + valid < size) {
            const unsigned char next = byteAt(i + valid);
            const unsigned char min = valid == 1 ? low : 0x80;
            const unsigned char max = valid == 1 ? high : 0xBF;
            if (next < min || next > max) {
                break;
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
            ++valid;
        }
        if (length != 0 && valid == length) {
            if (codePoint >= 0x10000) {
                const char32_t offset = codePoint - 0x10000;
                decoded.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
                decoded.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
            } else {
                decoded.push_back(static_cast<char16_t>(codePoint));
            }
            i += length;
            continue;
        }
        if (length != 0 && i + valid == size && !atEnd) {
            break;  // Cut off by the end of the bytes: completed by the next call.
        }
        if (faults == Utf8Faults::Fail) {
            throw Error(kNoMappingMessage);
        }
        decoded.push_back(u'\uFFFD');
        i += valid == 0 ? 1 : valid;
    }
    text.append(decoded);
    return i;
}

}  // namespace quelvar
