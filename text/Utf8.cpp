#include "text/Utf8.h"

#include <cstddef>

namespace quelvar {

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// Returns the length of the valid UTF-8 sequence at the position, 0 when none begins there.
std::size_t sequenceLengthAt(std::string_view bytes, std::size_t position) {
    const Utf8Sequence sequence = utf8SequenceAt(bytes, position);
    return sequence.whole() ? sequence.length : 0;
}

}  // namespace

Utf8Sequence utf8SequenceAt(std::string_view bytes, std::size_t position) {
    const auto byteAt = [bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byteAt(position);
    Utf8Sequence sequence;
    if (lead < 0x80) {
        sequence.length = sequence.valid = 1;
        sequence.codePoint = lead;
        return sequence;
    }
    // The range of the second byte: RFC 3629 section 4 leaves out the overlong forms (E0, F0),
    // the surrogates (ED) and what lies above U+10FFFF (F4).
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        sequence.length = 2;
        sequence.codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        sequence.length = 3;
        sequence.codePoint = lead & 0x0F;
        if (lead == 0xE0) {
            low = 0xA0;
        } else if (lead == 0xED) {
            high = 0x9F;
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        sequence.length = 4;
        sequence.codePoint = lead & 0x07;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;
        }
    } else {
        return sequence;
    }
    sequence.valid = 1;
    while (sequence.valid < sequence.length && position + sequence.valid < bytes.size()) {
        const unsigned char next = byteAt(position + sequence.valid);
        const unsigned char min = sequence.valid == 1 ? low : 0x80;
        const unsigned char max = sequence.valid == 1 ? high : 0xBF;
        if (next < min || next > max) {
            break;
        }
        sequence.codePoint = (sequence.codePoint << 6) | (next & 0x3F);
        ++sequence.valid;
    }
    return sequence;
}

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

void appendUtf8(std::string& text, char32_t codePoint) {
    if (codePoint < 0x80) {
        text.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        text.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        text.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        text.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        text.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        text.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        text.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

std::string utf8FromUtf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

}  // namespace quelvar
