#include "checks/JsonReader.h"

namespace quelvar {

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

bool isJsonWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Returns whether the bytes are UTF-8 as RFC 3629 defines it: no overlong forms, no
// surrogates, nothing above U+10FFFF, no sequence cut off at the end.
bool isValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t length = 1;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (bytes.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool isHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

bool JsonReader::read(std::string_view text, JsonEvents& events) {
    // Validated once here, so that strings can be copied byte for byte below.
    if (!isValidUtf8(text)) {
        return false;
    }
    JsonReader reader(text, events);
    return reader.run();
}

bool JsonReader::run() {
    for (;;) {
        skipWhitespace();
        if (m_position == m_text.size()) {
            return m_state == State::Done;
        }
        const char c = m_text[m_position];
        switch (m_state) {
            case State::Value:
                if (!readValue()) {
                    return false;
                }
                break;
            case State::FirstMemberOrEnd:
                if (c == '}') {
                    ++m_position;
                    if (!closeContainer(Container::Object)) {
                        return false;
                    }
                    break;
                }
                [[fallthrough]];
            case State::MemberName:
                if (c != '"' || !readString(m_buffer) || !m_events.key(m_buffer)) {
                    return false;
                }
                m_state = State::NameSeparator;
                break;
            case State::NameSeparator:
                if (c != ':') {
                    return false;
                }
                ++m_position;
                m_state = State::Value;
                break;
            case State::MemberSeparator:
                ++m_position;
                if (c == ',') {
                    m_state = State::MemberName;
                } else if (c != '}' || !closeContainer(Container::Object)) {
                    return false;
                }
                break;
            case State::FirstElementOrEnd:
                if (c == ']') {
                    ++m_position;
                    if (!closeContainer(Container::Array)) {
                        return false;
                    }
                    break;
                }
                if (!readValue()) {
                    return false;
                }
                break;
            case State::ElementSeparator:
                ++m_position;
                if (c == ',') {
                    m_state = State::Value;
                } else if (c != ']' || !closeContainer(Container::Array)) {
                    return false;
                }
                break;
            case State::Done:
                return false;
        }
    }
}

bool JsonReader::readValue() {
    const char c = m_text[m_position];
    switch (c) {
        case '{':
            ++m_position;
            m_open.push_back(Container::Object);
            m_state = State::FirstMemberOrEnd;
            return m_events.startObject();
        case '[':
            ++m_position;
            m_open.push_back(Container::Array);
            m_state = State::FirstElementOrEnd;
            return m_events.startArray();
        case '"':
            if (!readString(m_buffer) || !m_events.string(m_buffer)) {
                return false;
            }
            break;
        case 't':
            if (!readLiteral("true") || !m_events.boolean(true)) {
                return false;
            }
            break;
        case 'f':
            if (!readLiteral("false") || !m_events.boolean(false)) {
                return false;
            }
            break;
        case 'n':
            if (!readLiteral("null") || !m_events.null()) {
                return false;
            }
            break;
        default:
            if (!readNumber()) {
                return false;
            }
            break;
    }
    m_state = stateAfterValue();
    return true;
}

bool JsonReader::closeContainer(Container container) {
    if (m_open.empty() || m_open.back() != container) {
        return false;
    }
    m_open.pop_back();
    m_state = stateAfterValue();
    return container == Container::Object ? m_events.endObject() : m_events.endArray();
}

JsonReader::State JsonReader::stateAfterValue() const {
    if (m_open.empty()) {
        return State::Done;
    }
    return m_open.back() == Container::Object ? State::MemberSeparator : State::ElementSeparator;
}

// Reads a string from its opening quotation mark (RFC 8259 section 7). Control characters must
// be escaped; everything else is taken byte for byte.
bool JsonReader::readString(std::string& out) {
    out.clear();
    ++m_position;
    while (m_position < m_text.size()) {
        const char c = m_text[m_position];
        if (c == '"') {
            ++m_position;
            return true;
        }
        if (static_cast<unsigned char>(c) < 0x20) {
            return false;
        }
        if (c == '\\') {
            if (!readEscape(out)) {
                return false;
            }
            continue;
        }
        out.push_back(c);
        ++m_position;
    }
    return false;
}

bool JsonReader::readEscape(std::string& out) {
    ++m_position;
    if (m_position == m_text.size()) {
        return false;
    }
    const char c = m_text[m_position++];
    switch (c) {
        case '"':
        case '\\':
        case '/':
            out.push_back(c);
            return true;
        case 'b':
            out.push_back('\b');
            return true;
        case 'f':
            out.push_back('\f');
            return true;
        case 'n':
            out.push_back('\n');
            return true;
        case 'r':
            out.push_back('\r');
            return true;
        case 't':
            out.push_back('\t');
            return true;
        case 'u':
            break;
        default:
            return false;
    }
    char32_t unit = 0;
    if (!readHexUnit(unit)) {
        return false;
    }
    if (isHighSurrogate(unit) && m_text.substr(m_position, 2) == "\\u") {
        // A pair is written as two escapes; a high surrogate followed by any other escape is
        // alone, and the escape after it is read on its own.
        const std::size_t second = m_position;
        m_position += 2;
        char32_t low = 0;
        if (!readHexUnit(low)) {
            return false;
        }
        if (isLowSurrogate(low)) {
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
            return true;
        }
        m_position = second;
    }
    // RFC 8259 section 8.2 allows an escaped surrogate without its partner; it has no
    // character to stand for in UTF-8.
    appendUtf8(out, isHighSurrogate(unit) || isLowSurrogate(unit) ? kReplacementCharacter : unit);
    return true;
}

bool JsonReader::readHexUnit(char32_t& unit) {
    if (m_text.size() - m_position < 4) {
        return false;
    }
    unit = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = m_text[m_position++];
        unit <<= 4;
        if (isDigit(c)) {
            unit |= static_cast<char32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            unit |= static_cast<char32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            unit |= static_cast<char32_t>(c - 'A' + 10);
        } else {
            return false;
        }
    }
    return true;
}

// Reads a number by the grammar of RFC 8259 section 6 and hands over its text unconverted, so
// no magnitude is too large and no digit is lost.
bool JsonReader::readNumber() {
    const std::size_t start = m_position;
    const auto peek = [this] { return m_position < m_text.size() ? m_text[m_position] : '\0'; };
    const auto digits = [&] {
        const std::size_t first = m_position;
        while (isDigit(peek())) {
            ++m_position;
        }
        return m_position > first;
    };
    if (peek() == '-') {
        ++m_position;
    }
    if (peek() == '0') {
        ++m_position;
    } else if (!digits()) {
        return false;
    }
    if (peek() == '.') {
        ++m_position;
        if (!digits()) {
            return false;
        }
    }
    if (peek() == 'e' || peek() == 'E') {
        ++m_position;
        if (peek() == '+' || peek() == '-') {
            ++m_position;
        }
        if (!digits()) {
            return false;
        }
    }
    return m_events.number(m_text.substr(start, m_position - start));
}

bool JsonReader::readLiteral(std::string_view literal) {
    if (m_text.substr(m_position, literal.size()) != literal) {
        return false;
    }
    m_position += literal.size();
    return true;
}

void JsonReader::skipWhitespace() {
    while (m_position < m_text.size() && isJsonWhitespace(m_text[m_position])) {
        ++m_position;
    }
}

}  // namespace quelvar
