#include "settings/LineReader.h"

#include "settings/TextSource.h"

namespace quelvar {

LineReader::LineReader(TextSource& source) : m_source(source) {}

bool LineReader::atEnd() {
    while (m_position >= m_text.size()) {
        compact();
        if (!m_source.decodeNextBlock(m_text)) {
            return m_position >= m_text.size();
        }
    }
    return false;
}

std::u16string LineReader::readLine() {
    std::size_t scanFrom = m_position;
    for (;;) {
        for (std::size_t i = scanFrom; i < m_text.size(); ++i) {
            const char16_t c = m_text[i];
            if (c == u'\n') {
                return take(i, 1);
            }
            if (c == u'\r') {
                // A CR at the end of the buffered text may be the first half of a CR LF whose
                // LF is in the next piece.
                while (i + 1 >= m_text.size()) {
                    const std::size_t offset = i - m_position;
                    compact();
                    i = m_position + offset;
                    if (!m_source.decodeNextBlock(m_text)) {
                        break;
                    }
                }
                const bool crlf = i + 1 < m_text.size() && m_text[i + 1] == u'\n';
                return take(i, crlf ? 2 : 1);
            }
        }
        const std::size_t scanned = m_text.size() - m_position;
        compact();
        scanFrom = m_position + scanned;
        if (!m_source.decodeNextBlock(m_text)) {
            return take(m_text.size(), 0);
        }
    }
}

std::u16string LineReader::take(std::size_t end, std::size_t lineEndLength) {
    std::u16string line = m_text.substr(m_position, end - m_position);
    m_position = end + lineEndLength;
    return line;
}

void LineReader::compact() {
    m_text.erase(0, m_position);
    m_position = 0;
}

}  // namespace quelvar
