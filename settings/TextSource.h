#pragma once

#include <string>

namespace quelvar {

// Decoded text that arrives in pieces, as a file is read block by block.
class TextSource {
public:
    virtual ~TextSource() = default;
    // Appends the next piece of text; returns false, appending nothing, at the end of the text.
    // Throws quelvar::Error when the text cannot be read or decoded.
    virtual bool decodeNextBlock(std::u16string& text) = 0;
};

}  // namespace quelvar
