#include "text/Utf8Decoder.h"

#include "text/Utf8.h"

namespace quelvar {

bool utf16FromUtf8(std::string_view bytes, Utf8Faults faults, std::u16string& text) {
    std::u16string decoded;
    decoded.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const Utf8Sequence sequence = utf8SequenceAt(bytes, i);
        if (sequence.whole()) {
            if (sequence.codePoint >= 0x10000) {
                const char32_t offset = sequence.codePoint - 0x10000;
                decoded.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
                decoded.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
            } else {
                decoded.push_back(static_cast<char16_t>(sequence.codePoint));
            }
            i += sequence.length;
            continue;
        }
        if (faults == Utf8Faults::Fail) {
            return false;
        }
        decoded.push_back(u'\uFFFD');
        i += sequence.valid == 0 ? 1 : sequence.valid;
    }
    text.append(decoded);
    return true;
}

std::size_t cutOffUtf8Tail(std::string_view bytes) {
    // A sequence has at most four bytes, so its lead byte is one of the last three when the end
    // cuts it off; the bytes after the lead are continuation bytes.
    for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
        const std::size_t position = bytes.size() - back;
        const auto byte = static_cast<unsigned char>(bytes[position]);
        if (byte >= 0x80 && byte <= 0xBF) {
            continue;
        }
        const Utf8Sequence sequence = utf8SequenceAt(bytes, position);
        return sequence.length > back && sequence.valid == back ? back : 0;
    }
    return 0;
}

Utf8Decoder::Utf8Decoder(Utf8Faults faults, Utf8Conversion conversion)
    : m_faults(faults), m_conversion(conversion) {}

bool Utf8Decoder::decode(std::string_view block, bool atEnd, std::u16string& text) {
    m_carried.append(block);
    const std::size_t count = m_carried.size() - (atEnd ? 0 : cutOffUtf8Tail(m_carried));
    if (count == 0) {
        return true;
    }
    if (!m_conversion(std::string_view(m_carried).substr(0, count), m_faults, text)) {
        return false;
    }
    m_carried.erase(0, count);
    return true;
}

}  // namespace quelvar
