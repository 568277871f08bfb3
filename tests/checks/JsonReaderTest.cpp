#include "checks/JsonReader.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace quelvar {
namespace {

// Writes the events compactly: { } [ ] for containers, k:name, s:text, n:text, true, false,
// null, separated by blanks; stops the reading at the event given.
class EventLog : public JsonEvents {
public:
    explicit EventLog(std::string stopAt = {}) : m_stopAt(std::move(stopAt)) {}

    std::string text;

    bool startObject() override { return add("{"); }
    bool key(std::string_view name) override { return add("k:" + std::string(name)); }
    bool endObject() override { return add("}"); }
    bool startArray() override { return add("["); }
    bool endArray() override { return add("]"); }
    bool string(std::string_view value) override { return add("s:" + std::string(value)); }
    bool number(std::string_view value) override { return add("n:" + std::string(value)); }
    bool boolean(bool value) override { return add(value ? "true" : "false"); }
    bool null() override { return add("null"); }

private:
    bool add(const std::string& event) {
        text += text.empty() ? event : " " + event;
        return event != m_stopAt;
    }

    std::string m_stopAt;
};

TEST(JsonReaderTest, HandsOverEventsInTextOrder) {
    struct Case {
        const char* name;
        std::string json;
        std::string events;
    };
    const Case cases[] = {
        {"scalars at the top", "  -0.5e+7\r\n", "n:-0.5e+7"},
        {"literals", "[true,false,null]", "[ true false null ]"},
        {"nested containers", R"({"a":[{},[]],"b":{"c":""}})",
         "{ k:a [ { } [ ] ] k:b { k:c s: } }"},
        {"numbers beyond a double's range",
         "[1e400,-1E-400," + std::string(320, '9') + ",0.000000000000000000001]",
         "[ n:1e400 n:-1E-400 n:" + std::string(320, '9') + " n:0.000000000000000000001 ]"},
        {"escapes resolved", R"(["\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00"])",
         "[ s:\"\\/\b\f\n\r\t\xC3\xA9\xF0\x9F\x98\x80 ]"},
        {"surrogates without partner", R"(["\ud83d|\ude00|\ud83d\u0041|\udbff\udbff\udfff"])",
         "[ s:\xEF\xBF\xBD|\xEF\xBF\xBD|\xEF\xBF\xBD"
         "A|\xEF\xBF\xBD\xF4\x8F\xBF\xBF ]"},
        {"names unescaped", R"({"\u0041\n":1})", "{ k:A\n n:1 }"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EventLog log;
        EXPECT_TRUE(JsonReader::read(c.json, log));
        EXPECT_EQ(log.text, c.events);
    }
}

TEST(JsonReaderTest, AHandlerThatRefusesStopsTheReading) {
    EventLog log("k:b");
    EXPECT_FALSE(JsonReader::read(R"({"a":1,"b":2,"c":3})", log));
    EXPECT_EQ(log.text, "{ k:a n:1 k:b");
}

TEST(JsonReaderTest, EventsBeforeAFaultAreHandedOver) {
    // The reading goes on as far as the text is good; a caller decides on the whole text.
    EventLog log;
    EXPECT_FALSE(JsonReader::read(R"({"a":[1,2,]})", log));
    EXPECT_EQ(log.text, "{ k:a [ n:1 n:2");
}

}  // namespace
}  // namespace quelvar
