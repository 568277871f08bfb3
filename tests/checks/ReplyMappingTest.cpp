#include "checks/ReplyMapping.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "base/Error.h"
#include "tests/fixtures/ThrowMessage.h"

using namespace std::string_literals;

namespace quelvar {
namespace {

const std::string kNotAnObject = "The input value is not a valid Object";
const std::string kTypecast = "Invalid class typecast";

std::string conversionMessage(const std::string& value, const std::string& name) {
    return "Internal: Value " + value + " cannot be converted to be assigned to field " + name +
           " in type TRetornoTesteExterno";
}

std::string arrayMessage(const std::string& name) {
    return "Cannot set value for field " + name +
           " as it is expected to be an array instead of TResponse";
}

// Writes a model compactly: "no response", or the response with its chain entries as
// {statusCode|statusMessage} (null for an absent entry), its status and its code.
std::string dump(const TRetornoTesteExterno& root) {
    const TResponse* response = root.response();
    if (response == nullptr) {
        return "no response";
    }
    std::string text = "response{chain[";
    for (std::size_t i = 0; i < response->chain().size(); ++i) {
        if (i > 0) {
            text += ",";
        }
        const TChain* entry = response->chain()[i].get();
        text += entry == nullptr ? "null"
                                 : "{" + entry->statusCode() + "|" + entry->statusMessage() + "}";
    }
    return text + "],status=" + response->status() + ",code=" + response->code() + "}";
}

// Maps the reply and checks that it fails with exactly this message.
void expectMappingError(std::string_view reply, const std::string& message) {
    EXPECT_THROW_MESSAGE(converterRetornoExterno(reply), Error, message);
}

struct MappingCase {
    const char* name;
    std::string reply;
    std::string model;
};

void expectModels(const MappingCase* begin, const MappingCase* end) {
    for (const MappingCase* c = begin; c != end; ++c) {
        SCOPED_TRACE(c->name);
        try {
            EXPECT_EQ(dump(*converterRetornoExterno(c->reply)), c->model);
        } catch (const Error& error) {
            ADD_FAILURE() << "raised: " << error.what();
        }
    }
}

template <std::size_t N>
void expectModels(const MappingCase (&cases)[N]) {
    expectModels(cases, cases + N);
}

struct ErrorCase {
    const char* name;
    std::string reply;
    std::string message;
};

template <std::size_t N>
void expectErrors(const ErrorCase (&cases)[N]) {
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        expectMappingError(c.reply, c.message);
    }
}

TEST(ReplyMappingTest, MapsTheExpectedShape) {
    const MappingCase cases[] = {
        {"typical reply",
         R"({"requestUrl":"http://example.test/healthcheck","response":{"chain":[{"statusCode":200,)"
         R"("statusMessage":"OK","redirectUri":null}],"status":"success","code":null}})",
         "response{chain[{200|OK}],status=success,code=}"},
        {"status code as string", R"({"response":{"chain":[{"statusCode":"200"}]}})",
         "response{chain[{200|}],status=,code=}"},
        {"error code", R"({"response":{"chain":[],"status":"error","code":"ETIMEDOUT"}})",
         "response{chain[],status=error,code=ETIMEDOUT}"},
        {"several entries in order",
         R"({"response":{"chain":[{"statusCode":301,"statusMessage":"Moved"},)"
         R"({"statusCode":200,"statusMessage":"OK"}]}})",
         "response{chain[{301|Moved},{200|OK}],status=,code=}"},
        {"whitespace everywhere",
         " \t\r\n{ \"response\" :\n{ \"chain\" : [ { \"statusCode\" : 200 } ] ,\r\n"
         "\t\"code\" : \"EPROTO\" } }\n\r\t ",
         "response{chain[{200|}],status=,code=EPROTO}"},
        {"byte-order mark", "\xEF\xBB\xBF{\"response\":{\"code\":\"A\"}}",
         "response{chain[],status=,code=A}"},
        {"byte-order mark before whitespace", "\xEF\xBB\xBF \r\n{}", "no response"},
        {"empty object", "{}", "no response"},
        {"no response member", R"({"requestUrl":"x","other":{"response":{}}})", "no response"},
        {"null response", R"({"response":null})", "no response"},
        {"empty response", R"({"response":{}})", "response{chain[],status=,code=}"},
    };
    expectModels(cases);
}

TEST(ReplyMappingTest, KeepsNumbersAsWritten) {
    const MappingCase cases[] = {
        {"integer", R"({"response":{"chain":[{"statusCode":200}]}})",
         "response{chain[{200|}],status=,code=}"},
        {"fraction", R"({"response":{"chain":[{"statusCode":200.0}]}})",
         "response{chain[{200.0|}],status=,code=}"},
        {"exponent", R"({"response":{"chain":[{"statusCode":2e2}]}})",
         "response{chain[{2e2|}],status=,code=}"},
        {"negative zero", R"({"response":{"chain":[{"statusCode":-0}]}})",
         "response{chain[{-0|}],status=,code=}"},
        {"power of ten", R"({"response":{"status":1e3}})", "response{chain[],status=1e3,code=}"},
        {"signed capital exponent", R"({"response":{"status":1E+3,"code":-1.25e-10}})",
         "response{chain[],status=1E+3,code=-1.25e-10}"},
        {"zero fraction digits kept", R"({"response":{"status":0.10000000000000000001}})",
         "response{chain[],status=0.10000000000000000001,code=}"},
        {"beyond 64 bits", R"({"response":{"status":123456789012345678901234567890}})",
         "response{chain[],status=123456789012345678901234567890,code=}"},
        {"beyond 64 bits negative", R"({"response":{"code":-98765432109876543210}})",
         "response{chain[],status=,code=-98765432109876543210}"},
        {"beyond a double's range", R"({"response":{"status":1e400,"code":-1.5E+99999}})",
         "response{chain[],status=1e400,code=-1.5E+99999}"},
        {"status code beyond a double's range", R"({"response":{"chain":[{"statusCode":1e309}]}})",
         "response{chain[{1e309|}],status=,code=}"},
        {"integer of 400 digits", "{\"response\":{\"status\":" + std::string(400, '9') + "}}",
         "response{chain[],status=" + std::string(400, '9') + ",code=}"},
        {"below a double's range", R"({"response":{"status":1e-400}})",
         "response{chain[],status=1e-400,code=}"},
        {"ignored member beyond a double's range",
         R"({"x":1e400,"response":{"chain":[{"statusCode":200}],"y":[-1e999]}})",
         "response{chain[{200|}],status=,code=}"},
        {"message as number", R"({"response":{"chain":[{"statusMessage":404}]}})",
         "response{chain[{|404}],status=,code=}"},
    };
    expectModels(cases);
}

TEST(ReplyMappingTest, ResolvesStrings) {
    const MappingCase cases[] = {
        {"standard escapes", R"({"response":{"code":"q\"b\\s\/b\bf\fn\nr\rt\t"}})",
         "response{chain[],status=,code=q\"b\\s/b\bf\fn\nr\rt\t}"},
        {"unicode escapes", R"({"response":{"code":"\u0041\u00e9\u00E9\u20ac"}})",
         "response{chain[],status=,code=A\xC3\xA9\xC3\xA9\xE2\x82\xAC}"},
        {"surrogate pair", R"({"response":{"code":"\ud83d\ude00"}})",
         "response{chain[],status=,code=\xF0\x9F\x98\x80}"},
        {"characters beyond ASCII unchanged",
         "{\"response\":{\"status\":\"N\xC3\xA3o \xF0\x9F\x98\x80\"}}",
         "response{chain[],status=N\xC3\xA3o \xF0\x9F\x98\x80,code=}"},
        {"escaped NUL", R"({"response":{"code":"a\u0000b"}})",
         "response{chain[],status=,code=a\0b}"s},
    };
    expectModels(cases);
}

// RFC 8259 section 8.2 allows a \u escape of a surrogate without its partner; it has no
// character to stand for, so U+FFFD takes its place.
TEST(ReplyMappingTest, ReplacesEscapedSurrogatesWithoutPartner) {
    const MappingCase cases[] = {
        {"lone high surrogate", R"({"response":{"code":"\ud83d"}})",
         "response{chain[],status=,code=\xEF\xBF\xBD}"},
        {"lone low surrogate", R"({"response":{"code":"x\udc00y"}})",
         "response{chain[],status=,code=x\xEF\xBF\xBDy}"},
        {"high surrogate before a letter escape", R"({"response":{"code":"\ud800\u0041"}})",
         "response{chain[],status=,code=\xEF\xBF\xBD"
         "A}"},
        {"high surrogate before another escape", R"({"response":{"code":"\ud800\n"}})",
         "response{chain[],status=,code=\xEF\xBF\xBD\n}"},
        {"two high surrogates, then a pair", R"({"response":{"code":"\ud83d\ud83d\ude00"}})",
         "response{chain[],status=,code=\xEF\xBF\xBD\xF0\x9F\x98\x80}"},
        {"low before high", R"({"response":{"code":"\ude00\ud83d"}})",
         "response{chain[],status=,code=\xEF\xBF\xBD\xEF\xBF\xBD}"},
        {"in an ignored member name", R"({"\udfff":1,"response":{"code":"A"}})",
         "response{chain[],status=,code=A}"},
        {"in a mapped entry", R"({"response":{"chain":[{"statusCode":"\udbff"}]}})",
         "response{chain[{\xEF\xBF\xBD|}],status=,code=}"},
    };
    expectModels(cases);
    expectMappingError(R"({"response":"\udc00"})", conversionMessage("\xEF\xBF\xBD", "response"));
    // The escape after a lone high surrogate is still checked.
    expectMappingError(R"({"response":{"code":"\ud83d\u12"}})", kNotAnObject);
    expectMappingError(R"({"response":{"code":"\ud83d\x"}})", kNotAnObject);
}

TEST(ReplyMappingTest, AppliesTheValueRulesToTextMembers) {
    const MappingCase cases[] = {
        {"null gives the empty text", R"({"response":{"chain":[{"statusCode":null}]}})",
         "response{chain[{|}],status=,code=}"},
        {"absent member gives the empty text", R"({"response":{"chain":[{"statusMessage":"OK"}]}})",
         "response{chain[{|OK}],status=,code=}"},
        {"object is ignored", R"({"response":{"chain":[{"statusCode":{"value":200}}]}})",
         "response{chain[{|}],status=,code=}"},
        {"object keeps the earlier text",
         R"({"response":{"chain":[{"statusCode":"301","statusCode":{"x":[true,{"y":1}]}}]}})",
         "response{chain[{301|}],status=,code=}"},
        {"null overrides the earlier text",
         R"({"response":{"status":"a","status":null,"code":"b","code":null}})",
         "response{chain[],status=,code=}"},
        {"later code wins", R"({"response":{"code":"EPROTO","code":"ETIMEDOUT"}})",
         "response{chain[],status=,code=ETIMEDOUT}"},
        {"later object code leaves the earlier", R"({"response":{"code":"EPROTO","code":{}}})",
         "response{chain[],status=,code=EPROTO}"},
        {"text members keep their place after an ignored object",
         R"({"response":{"status":{"status":"x"},"code":"A"}})",
         "response{chain[],status=,code=A}"},
    };
    expectModels(cases);
}

TEST(ReplyMappingTest, AppliesTheListRule) {
    const MappingCase cases[] = {
        {"null chain gives an empty list", R"({"response":{"chain":null}})",
         "response{chain[],status=,code=}"},
        {"object chain is ignored", R"({"response":{"chain":{"statusCode":200},"code":"A"}})",
         "response{chain[],status=,code=A}"},
        {"empty array", R"({"response":{"chain":[]}})", "response{chain[],status=,code=}"},
        {"null element is an absent entry", R"({"response":{"chain":[null]}})",
         "response{chain[null],status=,code=}"},
        {"absent entries keep their places",
         R"({"response":{"chain":[null,{"statusCode":"301"},null,{}]}})",
         "response{chain[null,{301|},null,{|}],status=,code=}"},
        {"later list replaces the earlier",
         R"({"response":{"chain":[{"statusCode":"1"},{"statusCode":"2"}],"chain":[null]}})",
         "response{chain[null],status=,code=}"},
        {"later null empties the list",
         R"({"response":{"chain":[{"statusCode":"1"}],"chain":null}})",
         "response{chain[],status=,code=}"},
        {"later object keeps the list", R"({"response":{"chain":[{"statusCode":"1"}],"chain":{}}})",
         "response{chain[{1|}],status=,code=}"},
        {"duplicate members in an entry",
         R"({"response":{"chain":[{"statusCode":"1","statusMessage":"a","statusCode":2}]}})",
         "response{chain[{2|a}],status=,code=}"},
    };
    expectModels(cases);
}

TEST(ReplyMappingTest, MatchesNamesIgnoringAsciiCase) {
    const MappingCase cases[] = {
        {"upper, capitalised and lower case",
         R"({"RESPONSE":{"Chain":[{"statuscode":"200","STATUSMESSAGE":"OK"}],"Status":"s","cODE":"c"}})",
         "response{chain[{200|OK}],status=s,code=c}"},
        {"names after escape resolution",
         R"({"r\u0065sponse":{"\u0063hain":[{"status\u0043ode":"200"}],"c\/ode":"x"}})",
         "response{chain[{200|}],status=,code=}"},
        {"field names match nothing", R"({"Fresponse":{"code":"A"}})", "no response"},
        {"field names inside",
         R"({"response":{"Fchain":[1],"Fcode":true,"chain":[{"FstatusCode":"200"}]}})",
         "response{chain[{|}],status=,code=}"},
        {"names are not trimmed", R"({" response":{"code":"A"},"response ":{"code":"B"}})",
         "no response"},
        {"non-ASCII letters are not folded",
         "{\"response\":{\"\xC5\xBFtatus\":true,\"CODE\":\"A\"}}",
         "response{chain[],status=,code=A}"},
        {"escaped long s is not folded", R"({"response":{"\u017ftatus":[1],"code":"A"}})",
         "response{chain[],status=,code=A}"},
        {"embedded NUL", R"({"response":{"code\u0000":"X","status":"A"}})",
         "response{chain[],status=A,code=}"},
        {"duplicates in different case", R"({"response":{"code":"A","CODE":"B","Code":{}}})",
         "response{chain[],status=,code=B}"},
    };
    expectModels(cases);
}

TEST(ReplyMappingTest, IgnoresMembersNotInTheModel) {
    const MappingCase cases[] = {
        {"any value at any level",
         R"({"a":{"response":"x"},"b":[true,{"c":null},[[]]],"c":"s","d":1.5,"e":false,"f":null,)"
         R"("response":{"x":[1,[2,{"chain":5}]],"y":{"chain":"z"},"z":true,)"
         R"("chain":[{"z":true,"w":[1],"v":{"statusCode":true},"statusCode":"200"}],"u":null},)"
         R"("g":{"h":{"i":[{"response":[]}]}}})",
         "response{chain[{200|}],status=,code=}"},
        {"model members at the root level",
         R"({"chain":[1],"code":"A","status":true,"statusCode":[]})", "no response"},
        {"model members at the response level",
         R"({"response":{"statusCode":true,"statusMessage":[1],"response":"x"}})",
         "response{chain[],status=,code=}"},
        {"model members at the entry level",
         R"({"response":{"chain":[{"chain":1,"code":true,"status":[],"response":"x"}]}})",
         "response{chain[{|}],status=,code=}"},
    };
    expectModels(cases);
}

TEST(ReplyMappingTest, AbsorbsFailuresInsideTheResponse) {
    const MappingCase cases[] = {
        {"entry status code true", R"({"response":{"chain":[{"statusCode":true}],"code":"A"}})",
         "no response"},
        {"entry status message false",
         R"({"response":{"code":"A","chain":[{"statusMessage":false}]}})", "no response"},
        {"entry text array", R"({"response":{"chain":[{"statusCode":[200]}],"status":"s"}})",
         "no response"},
        {"element number", R"({"response":{"chain":[{"statusCode":200},200],"code":"A"}})",
         "no response"},
        {"element string", R"({"response":{"chain":["200"]}})", "no response"},
        {"element true", R"({"response":{"chain":[true]}})", "no response"},
        {"element array", R"({"response":{"chain":[[{"statusCode":"200"}]]}})", "no response"},
        {"chain string", R"({"response":{"code":"A","chain":"x"}})", "no response"},
        {"chain number", R"({"response":{"chain":0}})", "no response"},
        {"chain false", R"({"response":{"chain":false}})", "no response"},
        {"status array", R"({"response":{"chain":[{"statusCode":"200"}],"status":[]}})",
         "no response"},
        {"code true", R"({"response":{"code":true}})", "no response"},
        {"first response kept when the second fails",
         R"({"response":{"code":"A"},"response":{"code":"B","chain":[1]}})",
         "response{chain[],status=,code=A}"},
        {"second response taken when the first fails",
         R"({"response":{"code":"A","chain":[1]},"response":{"code":"B"}})",
         "response{chain[],status=,code=B}"},
        {"rest of the failed response skipped",
         R"({"response":{"chain":[{"statusCode":true,"x":{"y":[{}],"z":[[]]}},{"statusCode":"1"}],)"
         R"("code":"A","response":"x"},"after":{"response":"y"},"response":{"code":"B"}})",
         "response{chain[],status=,code=B}"},
        {"failure in a deep value skipped",
         R"({"response":{"status":[[{"a":[1]},[]],{}],"code":"A"},"x":[],"response":{"status":"C"}})",
         "response{chain[],status=C,code=}"},
        {"later null response", R"({"response":{"code":"A"},"response":null})", "no response"},
        {"later object response replaces", R"({"response":{"code":"A"},"RESPONSE":{}})",
         "response{chain[],status=,code=}"},
    };
    expectModels(cases);
}

TEST(ReplyMappingTest, RaisesForTheTopLevelResponseKind) {
    const ErrorCase cases[] = {
        {"string", R"({"response":"x"})", conversionMessage("x", "response")},
        {"empty string", R"({"response":""})",
         "Internal: Value  cannot be converted to be assigned to field response in type "
         "TRetornoTesteExterno"},
        {"string with escapes", R"({"Respons\u0065":"a\"b\u00e9"})",
         conversionMessage("a\"b\xC3\xA9", "Response")},
        {"integer", R"({"response":200})", conversionMessage("200", "response")},
        {"number as written", R"({"RESPONSE":200.0})", conversionMessage("200.0", "RESPONSE")},
        {"negative zero", R"({"response":-0})", conversionMessage("-0", "response")},
        {"exponent", R"({"response":1e3})", conversionMessage("1e3", "response")},
        {"number beyond a double's range", R"({"response":1e400})",
         conversionMessage("1e400", "response")},
        {"true", R"({"response":true})", kTypecast},
        {"false", R"({"response":false})", kTypecast},
        {"empty array", R"({"response":[]})", arrayMessage("response")},
        {"array of objects", R"({"rEsPoNsE":[{"chain":[]}]})", arrayMessage("rEsPoNsE")},
        {"after a mapped response", R"({"response":{"code":"A"},"response":1})",
         conversionMessage("1", "response")},
        {"after a failed response", R"({"response":{"chain":[1]},"response":true})", kTypecast},
        {"the first raise wins", R"({"response":true,"response":"x","response":[]})", kTypecast},
        {"the first raise wins over an array", R"({"response":[true],"response":"x"})",
         arrayMessage("response")},
        {"later members are not mapped", R"({"response":"a","response":{"code":"B"}})",
         conversionMessage("a", "response")},
    };
    expectErrors(cases);
}

TEST(ReplyMappingTest, RejectsTextsThatAreNotOneObject) {
    const ErrorCase cases[] = {
        {"empty", "", kNotAnObject},
        {"blanks", " \t\r\n ", kNotAnObject},
        {"byte-order mark only", "\xEF\xBB\xBF", kNotAnObject},
        {"byte-order mark after whitespace", " \xEF\xBB\xBF{}", kNotAnObject},
        {"two byte-order marks", "\xEF\xBB\xBF\xEF\xBB\xBF{}", kNotAnObject},
        {"top-level array", "[]", kNotAnObject},
        {"top-level array of an object", R"([{"response":{}}])", kNotAnObject},
        {"top-level string", R"("response")", kNotAnObject},
        {"top-level number", "200", kNotAnObject},
        {"top-level true", "true", kNotAnObject},
        {"top-level false", "false", kNotAnObject},
        {"top-level null", "null", kNotAnObject},
        {"second object", "{}{}", kNotAnObject},
        {"text after the object", R"({"response":{"code":"A"}} x)", kNotAnObject},
        {"comma after the object", "{},", kNotAnObject},
        {"NUL after the object", "{}\0"s, kNotAnObject},
        {"NUL inside a string", "{\"a\":\"x\0y\"}"s, kNotAnObject},
        {"no-break space after the object", "{}\xC2\xA0", kNotAnObject},
        {"form feed is not whitespace", "\f{}", kNotAnObject},
        {"vertical tab is not whitespace", "{}\v", kNotAnObject},
        {"trailing comma in object", R"({"a":1,})", kNotAnObject},
        {"trailing comma and whitespace", "{\"a\":1 ,\n }", kNotAnObject},
        {"trailing comma in array", R"({"a":[1,]})", kNotAnObject},
        {"trailing comma in array and whitespace", R"({"a":[1 , ]})", kNotAnObject},
        {"lone comma", "{,}", kNotAnObject},
        {"unclosed object", R"({"response":{"code":"A"})", kNotAnObject},
        {"unclosed string", R"({"a":"x)", kNotAnObject},
        {"member without value", R"({"a"})", kNotAnObject},
        {"member without colon", R"({"a" 1})", kNotAnObject},
        {"unquoted name", "{a:1}", kNotAnObject},
        {"single-quoted name", "{'a':1}", kNotAnObject},
        {"single-quoted value", R"({"a":'x'})", kNotAnObject},
        {"block comment", "{/* c */}", kNotAnObject},
        {"line comment", "{}// c", kNotAnObject},
        {"unknown escape", R"({"a":"\x41"})", kNotAnObject},
        {"capital U escape", R"({"a":"\U0041"})", kNotAnObject},
        {"short unicode escape", R"({"a":"\u12"})", kNotAnObject},
        {"leading zero", R"({"a":01})", kNotAnObject},
        {"point without fraction", R"({"a":1.})", kNotAnObject},
        {"fraction without integer", R"({"a":.5})", kNotAnObject},
        {"plus sign", R"({"a":+1})", kNotAnObject},
        {"exponent without digits", R"({"a":1e})", kNotAnObject},
        {"minus alone", R"({"a":-})", kNotAnObject},
        {"hexadecimal", R"({"a":0x10})", kNotAnObject},
        {"NaN", R"({"a":NaN})", kNotAnObject},
        {"Infinity", R"({"a":-Infinity})", kNotAnObject},
        {"capitalised literal", R"({"a":True})", kNotAnObject},
        {"truncated literal", R"({"a":nul})", kNotAnObject},
        {"missing comma between members", R"({"a":1 "b":2})", kNotAnObject},
        {"missing comma between elements", R"({"a":[1 2]})", kNotAnObject},
        {"member value missing", R"({"a":})", kNotAnObject},
        {"array closed by a brace", R"({"a":[1}})", kNotAnObject},
        {"object closed by a bracket", R"({"a":{"b":1]})", kNotAnObject},
        {"extra closing brace", R"({"a":1}})", kNotAnObject},
        {"colon in an array", R"({"a":[1:2]})", kNotAnObject},
        {"number as a member name", R"({1:2})", kNotAnObject},
        {"raw tab inside a string", "{\"a\":\"x\ty\"}", kNotAnObject},
        {"raw line feed inside a name", "{\"a\nb\":1}", kNotAnObject},
        {"backslash at the end", R"({"a":"x\)", kNotAnObject},
        {"exponent sign without digits", R"({"a":1e+})", kNotAnObject},
        {"minus before a point", R"({"a":-.5})", kNotAnObject},
    };
    expectErrors(cases);
}

TEST(ReplyMappingTest, RejectsTextsThatAreNotUtf8) {
    const ErrorCase cases[] = {
        {"truncated sequence", "{\"a\":\"\xC3\"}", kNotAnObject},
        {"stray continuation byte", "{\"a\":\"\x80\"}", kNotAnObject},
        {"overlong encoding", "{\"a\":\"\xC0\xAF\"}", kNotAnObject},
        {"encoded surrogate", "{\"a\":\"\xED\xA0\x80\"}", kNotAnObject},
        {"beyond U+10FFFF", "{\"a\":\"\xF4\x90\x80\x80\"}", kNotAnObject},
        {"in a member name", "{\"\xFF\":1}", kNotAnObject},
        {"in a mapped text", "{\"response\":{\"code\":\"\xE2\x82\"}}", kNotAnObject},
        {"outside strings", "{\"a\":1\xC3\xA9}", kNotAnObject},
    };
    expectErrors(cases);
}

// The whole text is accepted before any model is made, so a malformed text is reported as such
// even when its top-level response member has a kind that raises.
TEST(ReplyMappingTest, ReportsAMalformedTextBeforeAResponseKind) {
    const ErrorCase cases[] = {
        {"trailing comma after a raising member", R"({"response":"x",})", kNotAnObject},
        {"truncated after a raising member", R"({"response":true)", kNotAnObject},
        {"fault inside a raising array", R"({"response":[1,]})", kNotAnObject},
        {"fault after a raising array", R"({"response":[],"a":tru})", kNotAnObject},
        {"text after the object", R"({"response":1} {})", kNotAnObject},
        {"fault after a mapped response", R"({"response":{"code":"A"}},)", kNotAnObject},
        {"fault inside a failed response", R"({"response":{"chain":[1],"x":01}})", kNotAnObject},
        {"fault after a failed response", R"({"response":{"chain":[1]},})", kNotAnObject},
    };
    expectErrors(cases);
}

// A reply from the network may nest without bound; nesting must not exhaust the stack.
TEST(ReplyMappingTest, HandlesDeepNesting) {
    constexpr std::size_t kDepth = 200000;
    const std::string arrays = std::string(kDepth, '[') + std::string(kDepth, ']');
    std::string objects;
    for (std::size_t i = 0; i < kDepth; ++i) {
        objects += "{\"a\":";
    }
    objects += "1" + std::string(kDepth, '}');

    const MappingCase cases[] = {
        {"ignored arrays", "{\"x\":" + arrays + ",\"response\":{\"code\":\"A\"}}",
         "response{chain[],status=,code=A}"},
        {"ignored objects in the response", "{\"response\":{\"x\":" + objects + ",\"code\":\"A\"}}",
         "response{chain[],status=,code=A}"},
        {"ignored text value", "{\"response\":{\"code\":" + objects + "}}",
         "response{chain[],status=,code=}"},
        {"failed response",
         "{\"response\":{\"status\":" + arrays + "},\"response\":{\"code\":\"B\"}}",
         "response{chain[],status=,code=B}"},
    };
    expectModels(cases);

    expectMappingError("{\"x\":" + std::string(kDepth, '['), kNotAnObject);
    expectMappingError("{\"response\":" + arrays + "}", arrayMessage("response"));
}

TEST(ReplyMappingTest, MakesEntriesThatOwnTheirTexts) {
    const auto root = converterRetornoExterno(
        R"({"response":{"chain":[{"statusCode":200,"statusMessage":"OK"},null],"code":"EPROTO"}})");
    ASSERT_NE(root->response(), nullptr);
    const TResponse& response = *root->response();
    ASSERT_EQ(response.chain().size(), 2u);
    ASSERT_NE(response.chain()[0], nullptr);
    EXPECT_EQ(response.chain()[0]->statusCode(), "200");
    EXPECT_EQ(response.chain()[0]->statusMessage(), "OK");
    EXPECT_EQ(response.chain()[1], nullptr);
    EXPECT_EQ(response.status(), "");
    EXPECT_EQ(response.code(), "EPROTO");
}

TEST(ReplyMappingTest, MakesEmptyModelObjects) {
    const TRetornoTesteExterno root;
    EXPECT_EQ(root.response(), nullptr);
    const TResponse response;
    EXPECT_TRUE(response.chain().empty());
    EXPECT_EQ(response.status(), "");
    EXPECT_EQ(response.code(), "");
    const TChain entry;
    EXPECT_EQ(entry.statusCode(), "");
    EXPECT_EQ(entry.statusMessage(), "");
}

}  // namespace
}  // namespace quelvar
