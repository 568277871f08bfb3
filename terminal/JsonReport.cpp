#include "terminal/JsonReport.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "text/Utf8.h"

namespace quelvar {

namespace {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

const char* verdictName(TerminalTab::PairState state) {
    switch (state) {
        case TerminalTab::PairState::Green:
            return "green";
        case TerminalTab::PairState::Red:
            return "red";
        case TerminalTab::PairState::None:
            break;
    }
    return "none";
}

// Writes a text as a JSON string. Causes carry system and server texts, which need not be
// UTF-8; the writer would stop at the first invalid byte, so such bytes are replaced first.
void writeText(JsonWriter& writer, std::string_view text) {
    const std::string valid = toValidUtf8(text);
    writer.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
}

void writeHalf(JsonWriter& writer, const char* name, const HalfReport& half) {
    writer.Key(name);
    writer.StartObject();
    writer.Key("verdict");
    writer.String(verdictName(half.verdict));
    writer.Key("line");
    if (half.record.line) {
        writeText(writer, *half.record.line);
    } else {
        writer.Null();
    }
    writer.Key("cause");
    writeText(writer, half.record.cause);
    writer.Key("durationMs");
    writer.Int64(half.record.duration.count());
    writer.EndObject();
}

}  // namespace

std::string jsonReport(const RunReport& report) {
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    writer.StartObject();
    writer.Key("tab");
    writeText(writer, report.tab);
    writer.Key("statusEndpoint");
    writeText(writer, report.statusEndpoint);
    writer.Key("statusEndpointSource");
    writeText(writer, report.statusEndpointSource);
    writeHalf(writer, "external", report.external);
    writeHalf(writer, "internal", report.internal);
    writer.Key("durationMs");
    writer.Int64(report.duration.count());
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

}  // namespace quelvar
