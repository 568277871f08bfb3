#include "checks/ReplyMapping.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

#include "base/Error.h"
#include "checks/JsonReader.h"
#include "text/Ascii.h"

namespace quelvar {

namespace {

constexpr const char* kNotAnObject = "The input value is not a valid Object";
constexpr const char* kInvalidTypecast = "Invalid class typecast";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Nesting of the containers that are open while a response object is filled, counted from the
// response object itself; used to skip the rest of a response whose filling failed.
constexpr std::size_t kResponseLevel = 1;
constexpr std::size_t kChainLevel = 2;
constexpr std::size_t kEntryLevel = 3;

// Returns whether a JSON member name denotes a model property: ASCII letters compare without
// regard to case, every other byte exactly.
bool matchesProperty(std::string_view name, std::string_view property) {
    return equalsIgnoringCase(name, property);
}

// Builds the reply model from the reader's events. Each state says what the next event may be;
// an event a state does not expect rejects the text.
class ReplyHandler : public JsonEvents {
public:
    // Returns the model once the whole text has been accepted; throws the error the top-level
    // `response` member raised, if any.
    std::unique_ptr<TRetornoTesteExterno> takeResult() {
        if (m_raised) {
            throw Error(*m_raised);
        }
        return std::move(m_root);
    }

    bool startObject() override {
        switch (m_state) {
            case State::ExpectRoot:
                m_root = std::make_unique<TRetornoTesteExterno>();
                m_state = State::RootMember;
                return true;
            case State::ResponseValue:
                m_response = std::make_unique<TResponse>();
                m_state = State::ResponseMember;
                return true;
            case State::ResponseTextValue:
            case State::ChainValue:
                // An object for a text or list member is ignored: the member keeps its value.
                return skipContainer(State::ResponseMember);
            case State::EntryTextValue:
                return skipContainer(State::EntryMember);
            case State::ChainElement:
                m_entry = std::make_unique<TChain>();
                m_state = State::EntryMember;
                return true;
            case State::Skip:
                ++m_skipDepth;
                return true;
            case State::Raised:
                return true;
            default:
                return false;
        }
    }

    bool key(std::string_view name) override {
        switch (m_state) {
            case State::RootMember:
                if (matchesProperty(name, "response")) {
                    m_memberName.assign(name);
                    m_state = State::ResponseValue;
                    return true;
                }
                return skipNextValue(State::RootMember);
            case State::ResponseMember:
                if (matchesProperty(name, "chain")) {
                    m_state = State::ChainValue;
                    return true;
                }
                if (matchesProperty(name, "status")) {
                    return expectText(TextField::Status);
                }
                if (matchesProperty(name, "code")) {
                    return expectText(TextField::Code);
                }
                return skipNextValue(State::ResponseMember);
            case State::EntryMember:
                if (matchesProperty(name, "statusCode")) {
                    return expectText(TextField::StatusCode);
                }
                if (matchesProperty(name, "statusMessage")) {
                    return expectText(TextField::StatusMessage);
                }
                return skipNextValue(State::EntryMember);
            case State::Skip:
            case State::Raised:
                return true;
            default:
                return false;
        }
    }

    bool endObject() override {
        switch (m_state) {
            case State::RootMember:
                m_state = State::Done;
                return true;
            case State::ResponseMember:
                m_root->setResponse(std::move(m_response));
                m_state = State::RootMember;
                return true;
            case State::EntryMember:
                m_chain.push_back(std::move(m_entry));
                m_state = State::ChainElement;
                return true;
            case State::Skip:
                return leaveSkippedContainer();
            case State::Raised:
                return true;
            default:
                return false;
        }
    }

    bool startArray() override {
        switch (m_state) {
            case State::ResponseValue:
                return raise("Cannot set value for field " + m_memberName +
                             " as it is expected to be an array instead of TResponse");
            case State::ResponseTextValue:
                return absorbFailure(kResponseLevel + 1);
            case State::EntryTextValue:
                return absorbFailure(kEntryLevel + 1);
            case State::ChainValue:
                m_chain.clear();
                m_state = State::ChainElement;
                return true;
            case State::ChainElement:
                return absorbFailure(kChainLevel + 1);
            case State::Skip:
                ++m_skipDepth;
                return true;
            case State::Raised:
                return true;
            default:
                return false;
        }
    }

    bool endArray() override {
        switch (m_state) {
            case State::ChainElement:
                // The new list replaces the member's previous one.
                m_response->setChain(std::exchange(m_chain, {}));
                m_state = State::ResponseMember;
                return true;
            case State::Skip:
                return leaveSkippedContainer();
            case State::Raised:
                return true;
            default:
                return false;
        }
    }

    bool string(std::string_view text) override { return textValue(text); }

    // Strings and numbers follow the same rules; a number is its text exactly as written.
    bool number(std::string_view text) override { return textValue(text); }

    bool boolean(bool) override {
        switch (m_state) {
            case State::ResponseValue:
                return raise(kInvalidTypecast);
            case State::ResponseTextValue:
            case State::ChainValue:
                return absorbFailure(kResponseLevel);
            case State::ChainElement:
                return absorbFailure(kChainLevel);
            case State::EntryTextValue:
                return absorbFailure(kEntryLevel);
            case State::Skip:
                return skipScalar();
            case State::Raised:
                return true;
            default:
                return false;
        }
    }

    bool null() override {
        switch (m_state) {
            case State::ResponseValue:
                m_root->setResponse(nullptr);
                m_state = State::RootMember;
                return true;
            case State::ResponseTextValue:
                assignText({});
                m_state = State::ResponseMember;
                return true;
            case State::EntryTextValue:
                assignText({});
                m_state = State::EntryMember;
                return true;
            case State::ChainValue:
                m_response->setChain({});
                m_state = State::ResponseMember;
                return true;
            case State::ChainElement:
                // A null element is an absent entry; it counts in the list's length.
                m_chain.push_back(nullptr);
                return true;
            case State::Skip:
                return skipScalar();
            case State::Raised:
                return true;
            default:
                return false;
        }
    }

private:
    enum class State {
        ExpectRoot,         // before the top-level value, which must be an object
        RootMember,         // in the top-level object: a member name or its end
        ResponseValue,      // after the name of a top-level `response` member
        ResponseMember,     // in a response object: a member name or its end
        ResponseTextValue,  // after `status` or `code` in a response object
        ChainValue,         // after `chain` in a response object
        ChainElement,       // in the chain array: an element or its end
        EntryMember,        // in a chain entry: a member name or its end
        EntryTextValue,     // after `statusCode` or `statusMessage` in a chain entry
        Skip,               // passing over an ignored value or the rest of a failed response
        Raised,             // the top-level `response` raised; the text is only checked
        Done,               // after the top-level object
    };

    enum class TextField { Status, Code, StatusCode, StatusMessage };

    bool textValue(std::string_view text) {
        switch (m_state) {
            case State::ResponseValue:
                return raise("Internal: Value " + std::string(text) +
                             " cannot be converted to be assigned to field " + m_memberName +
                             " in type TRetornoTesteExterno");
            case State::ResponseTextValue:
                assignText(std::string(text));
                m_state = State::ResponseMember;
                return true;
            case State::EntryTextValue:
                assignText(std::string(text));
                m_state = State::EntryMember;
                return true;
            case State::ChainValue:
                return absorbFailure(kResponseLevel);
            case State::ChainElement:
                return absorbFailure(kChainLevel);
            case State::Skip:
                return skipScalar();
            case State::Raised:
                return true;
            default:
                return false;
        }
    }

    bool expectText(TextField field) {
        m_textField = field;
        m_state = m_state == State::EntryMember ? State::EntryTextValue : State::ResponseTextValue;
        return true;
    }

    void assignText(std::string value) {
        switch (m_textField) {
            case TextField::Status:
                m_response->setStatus(std::move(value));
                break;
            case TextField::Code:
                m_response->setCode(std::move(value));
                break;
            case TextField::StatusCode:
                m_entry->setStatusCode(std::move(value));
                break;
            case TextField::StatusMessage:
                m_entry->setStatusMessage(std::move(value));
                break;
        }
    }

    // Ignores the value that follows a member name, then continues in the given state.
    bool skipNextValue(State resume) {
        m_skipDepth = 0;
        m_resume = resume;
        m_state = State::Skip;
        return true;
    }

    // Ignores the container that has just opened, then continues in the given state.
    bool skipContainer(State resume) {
        m_skipDepth = 1;
        m_resume = resume;
        m_state = State::Skip;
        return true;
    }

    bool skipScalar() {
        if (m_skipDepth == 0) {
            m_state = m_resume;
        }
        return true;
    }

    bool leaveSkippedContainer() {
        if (--m_skipDepth == 0) {
            m_state = m_resume;
        }
        return true;
    }

    // A failure while a response object is filled does not raise: the half-built response is
    // released, the root keeps its earlier value and the mapping goes on after this response.
    bool absorbFailure(std::size_t openLevels) {
        m_entry.reset();
        m_chain.clear();
        m_response.reset();
        m_skipDepth = openLevels;
        m_resume = State::RootMember;
        m_state = State::Skip;
        return true;
    }

    // The top-level `response` member stops the mapping and releases the model. The error
    // leaves only once the rest of the text has been accepted: a malformed text is reported
    // as such wherever the fault stands.
    bool raise(std::string message) {
        m_entry.reset();
        m_chain.clear();
        m_response.reset();
        m_root.reset();
        m_raised = std::move(message);
        m_state = State::Raised;
        return true;
    }

    State m_state = State::ExpectRoot;
    State m_resume = State::RootMember;
    std::size_t m_skipDepth = 0;
    TextField m_textField = TextField::Status;
    std::string m_memberName;
    std::unique_ptr<TRetornoTesteExterno> m_root;
    std::unique_ptr<TResponse> m_response;
    TResponse::Chain m_chain;
    std::unique_ptr<TChain> m_entry;
    std::optional<std::string> m_raised;
};

}  // namespace

std::unique_ptr<TRetornoTesteExterno> converterRetornoExterno(std::string_view text) {
    if (text.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
    }
    // The reader is strict RFC 8259 and hands numbers over as their text without a range
    // check: a number beyond a double's range is as good as any other, here as in RFC 8259.
    ReplyHandler handler;
    if (!JsonReader::read(text, handler)) {
        throw Error(kNotAnObject);
    }
    return handler.takeResult();
}

}  // namespace quelvar
