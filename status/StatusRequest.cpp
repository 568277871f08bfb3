#include "status/StatusRequest.h"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

namespace quelvar::status {

namespace {

constexpr const char* kNotJson = "request body is not valid JSON";
constexpr const char* kNotObject = "request body is not a JSON object";
constexpr const char* kMissingUrl = "requestUrl is missing";
constexpr const char* kUrlNotString = "requestUrl is not a string";
constexpr const char* kUrlControl = "requestUrl contains a control character";
constexpr const char* kUrlTwice = "requestUrl is given more than once";

// Returns whether the UTF-8 text holds a C0 control character, DEL or a C1 control character
// (U+0080 to U+009F). A URL never holds one unencoded (RFC 3986), and libcurl would read a NUL
// as the end of the text and fetch another URL.
bool hasControlCharacter(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7f) {
            return true;
        }
        if (byte == 0xc2 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9f) {
                return true;
            }
        }
    }
    return false;
}

// Walks the request body: only the top-level object's members are looked at, everything nested
// below them is skipped by depth.
class RequestHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, RequestHandler> {
public:
    enum class State {
        ExpectRoot,        // nothing read yet
        ExpectMember,      // inside the top-level object, before a member name or its end
        ExpectRequestUrl,  // after the name "requestUrl"
        SkipValue,         // after another member name, or inside a skipped value
        Done,              // the top-level object has ended
        NotObject,         // the top level is not an object
        UrlNotString,      // "requestUrl" holds something else than a string
        UrlTwice,          // a second "requestUrl" member
    };

    bool Default() { return scalar(false, {}); }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        return scalar(true, std::string_view(text, length));
    }
    bool StartObject() { return open(true); }
    bool StartArray() { return open(false); }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        switch (m_state) {
            case State::ExpectMember:
                if (std::string_view(text, length) != "requestUrl") {
                    m_state = State::SkipValue;
                    m_skipDepth = 0;
                    return true;
                }
                // RFC 8259 leaves a repeated name's meaning to each parser; whichever one a
                // reader keeps, the request is ambiguous.
                if (m_hasUrl) {
                    m_state = State::UrlTwice;
                    return false;
                }
                m_state = State::ExpectRequestUrl;
                return true;
            case State::SkipValue:
                return true;
            default:
                return false;
        }
    }
    bool EndObject(rapidjson::SizeType) { return close(); }
    bool EndArray(rapidjson::SizeType) { return close(); }

    State state() const { return m_state; }
    bool hasUrl() const { return m_hasUrl; }
    const std::string& url() const { return m_url; }

private:
    bool scalar(bool isString, std::string_view text) {
        switch (m_state) {
            case State::ExpectRoot:
                m_state = State::NotObject;
                return false;
            case State::ExpectRequestUrl:
                if (!isString) {
                    m_state = State::UrlNotString;
                    return false;
                }
                m_url.assign(text);
                m_hasUrl = true;
                m_state = State::ExpectMember;
                return true;
            case State::SkipValue:
                if (m_skipDepth == 0) {
                    m_state = State::ExpectMember;
                }
                return true;
            default:
                return false;
        }
    }
    bool open(bool object) {
        switch (m_state) {
            case State::ExpectRoot:
                if (!object) {
                    m_state = State::NotObject;
                    return false;
                }
                m_state = State::ExpectMember;
                return true;
            case State::ExpectRequestUrl:
                m_state = State::UrlNotString;
                return false;
            case State::SkipValue:
                ++m_skipDepth;
                return true;
            default:
                return false;
        }
    }
    bool close() {
        switch (m_state) {
            case State::ExpectMember:
                m_state = State::Done;
                return true;
            case State::SkipValue:
                if (--m_skipDepth == 0) {
                    m_state = State::ExpectMember;
                }
                return true;
            default:
                return false;
        }
    }

    State m_state = State::ExpectRoot;
    int m_skipDepth = 0;
    bool m_hasUrl = false;
    std::string m_url;
};

}  // namespace

StatusRequest StatusRequest::parse(std::string_view body) {
    RequestHandler handler;
    rapidjson::Reader reader;
    rapidjson::MemoryStream stream(body.data(), body.size());
    // Iterative parsing keeps deep nesting off the stack; validation refuses broken UTF-8.
    constexpr unsigned kFlags =
        rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag;
    const rapidjson::ParseResult parsed = reader.Parse<kFlags>(stream, handler);
    // The top-level shape is judged first: a scalar or array at the top is "not an object"
    // even though the reader stopped there.
    switch (handler.state()) {
        case RequestHandler::State::NotObject:
            throw RequestRejection{400, kNotObject};
        case RequestHandler::State::UrlNotString:
            throw RequestRejection{400, kUrlNotString};
        case RequestHandler::State::UrlTwice:
            throw RequestRejection{400, kUrlTwice};
        default:
            break;
    }
    // The reader takes a NUL byte for the end of the text; a NUL after the object is trailing
    // content all the same.
    if (parsed.IsError() || handler.state() != RequestHandler::State::Done ||
        stream.Tell() != body.size()) {
        throw RequestRejection{400, kNotJson};
    }
    if (!handler.hasUrl()) {
        throw RequestRejection{400, kMissingUrl};
    }
    if (hasControlCharacter(handler.url())) {
        throw RequestRejection{400, kUrlControl};
    }
    StatusRequest request;
    request.m_requestUrl = handler.url();
    return request;
}

}  // namespace quelvar::status
