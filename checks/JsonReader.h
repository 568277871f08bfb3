#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar {

// Receives the events of a JSON text in text order; each returns false to stop the reading.
class JsonEvents {
public:
    virtual ~JsonEvents() = default;
    virtual bool startObject() = 0;
    // Receives a member name, escapes resolved.
    virtual bool key(std::string_view name) = 0;
    virtual bool endObject() = 0;
    virtual bool startArray() = 0;
    virtual bool endArray() = 0;
    // Receives a string value, escapes resolved.
    virtual bool string(std::string_view text) = 0;
    // Receives a number as the exact text the reply writes, of any size and never converted.
    virtual bool number(std::string_view text) = 0;
    virtual bool boolean(bool value) = 0;
    virtual bool null() = 0;
};

// A strict reader of one JSON value (RFC 8259) in UTF-8 text, handing its events to a handler
// as it goes. Strings arrive with escapes resolved; a \u escape of a surrogate without its
// partner stands for U+FFFD. Nesting is kept on the heap, so any depth is read without
// exhausting the stack.
class JsonReader {
public:
    // Reads the text, which must hold one value with nothing but JSON whitespace around it;
    // returns false when it does not, when it is not valid UTF-8, or when the handler stops.
    static bool read(std::string_view text, JsonEvents& events);

private:
    enum class State {
        Value,              // a value must follow
        FirstMemberOrEnd,   // just after "{": a member name or "}"
        MemberName,         // after "," in an object: a member name
        NameSeparator,      // after a member name: ":"
        MemberSeparator,    // after a member's value: "," or "}"
        FirstElementOrEnd,  // just after "[": a value or "]"
        ElementSeparator,   // after an element: "," or "]"
        Done,               // after the top-level value: only whitespace
    };
    enum class Container { Object, Array };

    JsonReader(std::string_view text, JsonEvents& events) : m_text(text), m_events(events) {}

    bool run();
    bool readValue();
    bool closeContainer(Container container);
    bool readString(std::string& out);
    bool readEscape(std::string& out);
    bool readHexUnit(char32_t& unit);
    bool readNumber();
    bool readLiteral(std::string_view literal);
    void skipWhitespace();
    State stateAfterValue() const;

    std::string_view m_text;
    JsonEvents& m_events;
    std::size_t m_position = 0;
    State m_state = State::Value;
    std::vector<Container> m_open;
    std::string m_buffer;
};

}  // namespace quelvar
