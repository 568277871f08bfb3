// The JSON report of quelvar-check written from records: every verdict word, a blank verdict's
// null line, and texts that JSON must escape or that are not UTF-8.
#include <gtest/gtest.h>

#include "terminal/JsonReport.h"

namespace quelvar {
namespace {

using namespace std::chrono_literals;
using State = TerminalTab::PairState;

TEST(JsonReportTest, WritesOneObjectWithEscapedTexts) {
    struct Case {
        const char* name;
        HalfReport external;
        HalfReport internal;
        std::string expectedHalves;
    };
    const Case cases[] = {
        {"green and none",
         {State::Green, {"Conexão Externa - ok", R"(first chain statusCode is "200")", 12ms}},
         {State::None, {std::nullopt, "reply status 204", 3ms}},
         R"("external":{"verdict":"green","line":"Conexão Externa - ok",)"
         R"("cause":"first chain statusCode is \"200\"","durationMs":12},)"
         R"("internal":{"verdict":"none","line":null,"cause":"reply status 204","durationMs":3})"},
        {"red with a backslash, a tab and a control character",
         {State::Red, {"Conexão Externa - Erro", "C:\\dir\tx\x01y", 0ms}},
         {State::Red, {"Conexão Interna - Erro", "", 0ms}},
         R"("external":{"verdict":"red","line":"Conexão Externa - Erro",)"
         R"("cause":"C:\\dir\tx\u0001y","durationMs":0},)"
         R"("internal":{"verdict":"red","line":"Conexão Interna - Erro","cause":"","durationMs":0})"},
        {"bytes that are not UTF-8",
         {State::None, {"Serviço", "S\xE3o \xF0\x9F\x98\x80", 5ms}},
         {State::Green, {"Conexão Interna - ok", "reply status 200", 70000ms}},
         R"("external":{"verdict":"none","line":"Serviço","cause":"S)"
         "\xEF\xBF\xBD"
         R"(o 😀","durationMs":5},)"
         R"("internal":{"verdict":"green","line":"Conexão Interna - ok",)"
         R"("cause":"reply status 200","durationMs":70000})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunReport report;
        report.tab = "api";
        report.statusEndpoint = "https://[::1]:8443/v1/status";
        report.statusEndpointSource = "/etc/quelvar/quelvar.ini";
        report.external = c.external;
        report.internal = c.internal;
        report.duration = 1017ms;
        EXPECT_EQ(jsonReport(report),
                  R"({"tab":"api","statusEndpoint":"https://[::1]:8443/v1/status",)"
                  R"("statusEndpointSource":"/etc/quelvar/quelvar.ini",)" +
                      c.expectedHalves + R"(,"durationMs":1017})" + "\n");
    }
}

}  // namespace
}  // namespace quelvar
