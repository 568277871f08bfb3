#include "settings/BlockDecoder.h"

#include <utility>

#include "base/Error.h"
#include "settings/LockedFile.h"
#include "settings/Utf8Conversion.h"

namespace quelvar {

namespace {

// The message of text that is not valid UTF-8 where no byte-order mark allows substitutes.
constexpr const char kNoMappingMessage[] =
    "No mapping for the Unicode character exists in the target multi-byte code page";

}  // namespace

BlockDecoder::BlockDecoder(LockedFile& file)
    : m_file(file), m_utf8(Utf8Faults::Fail, &platformUtf16FromUtf8) {}

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
    // A sequence cut off by the end of the block is completed by the next block, unless this
    // block is the file's last: then it is a fault of this block. A block shorter than full is
    // the last; a full one may be too, which only a look ahead tells.
    const bool last = block.size() < kBlockSize || peekAtEnd();
    decode(std::string_view(block).substr(start), last, text);
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
        m_utf8 = Utf8Decoder(Utf8Faults::Replace, &platformUtf16FromUtf8);
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
    switch (m_encoding) {
        case Encoding::Utf16LittleEndian:
        case Encoding::Utf16BigEndian:
            // A lone last byte of a UTF-16 file is half a code unit: nothing to decode.
            m_pendingUtf16.clear();
            break;
        case Encoding::Utf8Strict:
        case Encoding::Utf8:
            if (m_utf8.carriesOver()) {
                decodeUtf8({}, true, text);
            }
            break;
    }
}

void BlockDecoder::decode(std::string_view bytes, bool atEnd, std::u16string& text) {
    switch (m_encoding) {
        case Encoding::Utf16LittleEndian:
        case Encoding::Utf16BigEndian:
            decodeUtf16(bytes, text);
            break;
        case Encoding::Utf8Strict:
        case Encoding::Utf8:
            decodeUtf8(bytes, atEnd, text);
            break;
    }
}

void BlockDecoder::decodeUtf8(std::string_view bytes, bool atEnd, std::u16string& text) {
    // Strict decoding is all or nothing per block, so a block with a fault adds no text.
    if (!m_utf8.decode(bytes, atEnd, text)) {
        throw Error(kNoMappingMessage);
    }
}

void BlockDecoder::decodeUtf16(std::string_view bytes, std::u16string& text) {
    m_pendingUtf16.append(bytes);
    const std::size_t units = m_pendingUtf16.size() / 2;
    text.reserve(text.size() + units);
    for (std::size_t i = 0; i < units; ++i) {
        const auto first = static_cast<unsigned char>(m_pendingUtf16[2 * i]);
        const auto second = static_cast<unsigned char>(m_pendingUtf16[2 * i + 1]);
        text.push_back(m_encoding == Encoding::Utf16LittleEndian
                           ? static_cast<char16_t>(first | (second << 8))
                           : static_cast<char16_t>((first << 8) | second));
    }
    m_pendingUtf16.erase(0, units * 2);
}

}  // namespace quelvar
