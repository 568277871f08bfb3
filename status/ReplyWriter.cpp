#include "status/ReplyWriter.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cstdio>

#include "text/Utf8.h"

namespace quelvar::status {

namespace {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void writeText(JsonWriter& writer, std::string_view text) {
    // What a target server sent is not always UTF-8; the reply's JSON must be.
    const std::string valid = toValidUtf8(text);
    writer.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
}

void writeKey(JsonWriter& writer, std::string_view key) {
    writer.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
}

// Writes a duration as milliseconds with three decimals (microsecond precision), exactly,
// without the rounding of a binary floating-point number.
void writeMilliseconds(JsonWriter& writer, std::chrono::microseconds duration) {
    const std::string text = ReplyWriter::millisecondsText(duration);
    writer.RawValue(text.data(), text.size(), rapidjson::kNumberType);
}

}  // namespace

std::string ReplyWriter::checkReply(const CheckResult& result) {
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    writer.StartObject();
    writeKey(writer, "response");
    writer.StartObject();
    writeKey(writer, "requestUrl");
    writeText(writer, result.requestUrl);
    writeKey(writer, "chain");
    writer.StartArray();
    for (const ChainEntry& entry : result.chain) {
        writer.StartObject();
        writeKey(writer, "url");
        writeText(writer, entry.url);
        writeKey(writer, "statusCode");
        writer.Int(entry.statusCode);
        writeKey(writer, "statusMessage");
        writeText(writer, entry.statusMessage);
        if (entry.redirectUrl) {
            writeKey(writer, "redirectUrl");
            writeText(writer, *entry.redirectUrl);
        }
        writeKey(writer, "timings");
        writer.StartObject();
        writeKey(writer, "dns");
        writeMilliseconds(writer, entry.timings.dns);
        writeKey(writer, "connect");
        writeMilliseconds(writer, entry.timings.connect);
        writeKey(writer, "tls");
        writeMilliseconds(writer, entry.timings.tls);
        writeKey(writer, "firstByte");
        writeMilliseconds(writer, entry.timings.firstByte);
        writeKey(writer, "total");
        writeMilliseconds(writer, entry.timings.total);
        writer.EndObject();
        if (entry.certificateExpiresInDays) {
            writeKey(writer, "certificateExpiresInDays");
            writer.Int64(*entry.certificateExpiresInDays);
        }
        writer.EndObject();
    }
    writer.EndArray();
    writeKey(writer, "status");
    writer.Int(result.status());
    writeKey(writer, "code");
    if (result.code) {
        writeText(writer, *result.code);
    } else {
        writer.Null();
    }
    writeKey(writer, "durationMs");
    writeMilliseconds(writer, result.duration);
    writer.EndObject();
    writer.EndObject();
    return {buffer.GetString(), buffer.GetSize()};
}

std::string ReplyWriter::millisecondsText(std::chrono::microseconds duration) {
    const long long micros = std::max<long long>(0, duration.count());
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", micros / 1000, micros % 1000);
    return text;
}

std::string ReplyWriter::errorReply(int httpStatus, std::string_view message) {
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    writer.StartObject();
    writeKey(writer, "error");
    writer.StartObject();
    writeKey(writer, "status");
    writer.Int(httpStatus);
    writeKey(writer, "message");
    writeText(writer, message);
    writer.EndObject();
    writer.EndObject();
    return {buffer.GetString(), buffer.GetSize()};
}

}  // namespace quelvar::status
