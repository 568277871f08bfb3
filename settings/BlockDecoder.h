#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "settings/TextSource.h"
#include "text/Utf8Decoder.h"

namespace quelvar {

class LockedFile;

// Decodes the settings file block by block into UTF-16 code units: the byte-order mark at its
// start selects the encoding (UTF-8 without one, and then strictly), and the bytes of a
// character that straddles two blocks are carried over to the next block.
class BlockDecoder : public TextSource {
public:
    // The size of each read of the file.
    static constexpr std::size_t kBlockSize = 4096;

    explicit BlockDecoder(LockedFile& file);

    // Reads and decodes the next block and appends its text; returns false at the end of the
    // file. Throws quelvar::Error on a read failure and, without byte-order mark, on bytes that
    // are not UTF-8.
    bool decodeNextBlock(std::u16string& text) override;

private:
    enum class Encoding { Utf8Strict, Utf8, Utf16LittleEndian, Utf16BigEndian };

    std::string fetchBlock();
    bool peekAtEnd();
    std::string readBlock();
    std::size_t detectByteOrderMark(const std::string& block);
    void finish(std::u16string& text);
    void decode(std::string_view bytes, bool atEnd, std::u16string& text);
    void decodeUtf8(std::string_view bytes, bool atEnd, std::u16string& text);
    void decodeUtf16(std::string_view bytes, std::u16string& text);

    LockedFile& m_file;
    bool m_first = true;
    bool m_atEnd = false;
    Encoding m_encoding = Encoding::Utf8Strict;
    Utf8Decoder m_utf8;
    // The byte of a UTF-16 code unit that the block end cuts in two.
    std::string m_pendingUtf16;
    std::string m_lookahead;
};

}  // namespace quelvar
