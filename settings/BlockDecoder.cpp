#include "settings/BlockDecoder.h"

#include <utility>

#include "settings/LockedFile.h"

namespace quelvar {

BlockDecoder::BlockDecoder(LockedFile& file) : m_file(file) {}

bool BlockDecoder::decodeNextBlock(std::u16string& text) {
    if (m_atEnd) {
        return false;
    }
    const std::string block = fetchBlock();
    if (block.empty()) {
        m_atEnd = true;
        finish(text);
        return false;
    }
    std::size_t start = 0;
    if (m_first) {
        m_first = false;
        start = detectByteOrderMark(block);
    }
    m_pending.append(block, start);
    // A sequence cut off by the end of the block is completed by the next block, unless this
    // block is the file's last: then it is a fault of this block. A block shorter than full is
    // the last; a full one may be too, which only a look ahead tells.
    const bool last = block.size() < kBlockSize || peekAtEnd();
    decodePending(text, last);
    return true;
}

std::string BlockDecoder::fetchBlock() {
    if (!m_lookahead.empty()) {
        return std::exchange(m_lookahead, {});
    }
    return readBlock();
}

bool BlockDecoder::peekAtEnd() {
    if (m_lookahead.empty()) {
        m_lookahead = readBlock();
    }
    return m_lookahead.empty();
}

std::string BlockDecoder::readBlock() {
    std::string block(kBlockSize, '\0');
    block.resize(m_file.read(block.data(), block.size()));
    return block;
}

// The marks are tested in this order; the mark is no part of the text.
std::size_t BlockDecoder::detectByteOrderMark(const std::string& block) {
    const auto starts = [&block](std::string_view mark) { return block.starts_with(mark); };
    if (starts("\xEF\xBB\xBF")) {
        m_encoding = Encoding::Utf8;
        return 3;
    }
    if (starts("\xFF\xFE")) {
        m_encoding = Encoding::Utf16LittleEndian;
        return 2;
    }
    if (starts("\xFE\xFF")) {
        m_encoding = Encoding::Utf16BigEndian;
        return 2;
    }
    return 0;
}

void BlockDecoder::finish(std::u16string& text) {
    if (m_pending.empty()) {
        return;
    }
    if (m_encoding == Encoding::Utf16LittleEndian || m_encoding == Encoding::Utf16BigEndian) {
        // A lone last byte of a UTF-16 file is half a code unit: nothing to decode.
        m_pending.clear();
        return;
    }
    decodePending(text, true);
}

void BlockDecoder::decodePending(std::u16string& text, bool atEnd) {
    switch (m_encoding) {
        case Encoding::Utf16LittleEndian:
        case Encoding::Utf16BigEndian:
            decodeUtf16(text);
            break;
        case Encoding::Utf8Strict:
        case Encoding::Utf8: {
            // Strict decoding is all or nothing per block, so a block with a fault adds no text.
            const Utf8Faults faults =
                m_encoding == Encoding::Utf8Strict ? Utf8Faults::Fail : Utf8Faults::Replace;
            m_pending.erase(0, decodeUtf8(m_pending, atEnd, faults, text));
            break;
        }
    }
}

void BlockDecoder::decodeUtf16(std::u16string& text) {
    const std::size_t units = m_pending.size() / 2;
    text.reserve(text.size() + units);
    for (std::size_t i = 0; i < units; ++i) {
        const auto first = static_cast<unsigned char>(m_pending[2 * i]);
        const auto second = static_cast<unsigned char>(m_pending[2 * i + 1]);
        text.push_back(m_encoding == Encoding::Utf16LittleEndian
                           ? static_cast<char16_t>(first | (second << 8))
                           : static_cast<char16_t>((first << 8) | second));
    }
    m_pending.erase(0, units * 2);
}

}  // namespace quelvar
