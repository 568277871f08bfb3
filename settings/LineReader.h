#pragma once

#include <cstddef>
#include <string>

namespace quelvar {

class TextSource;

// Splits decoded text into lines at LF, CR LF and a lone CR, asking the source for more text
// only when a line needs it. A CR LF split between two pieces is one line end, and a line end
// at the very end of the text makes no further empty line.
class LineReader {
public:
    explicit LineReader(TextSource& source);

    // Returns whether the text has ended, decoding the next piece when none is buffered.
    bool atEnd();
    // Returns the next line without its line end.
    std::u16string readLine();

private:
    std::u16string take(std::size_t end, std::size_t lineEndLength);
    void compact();

    TextSource& m_source;
    std::u16string m_text;
    std::size_t m_position = 0;
};

}  // namespace quelvar
