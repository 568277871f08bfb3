#pragma once

#include <functional>
#include <string>
#include <vector>

#include "settings/SettingsTarget.h"
#include "settings/Utf16.h"

namespace quelvar::test {

// Records every call of the reader, in order, as "https=1", "externo=text", "interno=text",
// the texts in UTF-8.
class RecordingTarget : public SettingsTarget {
public:
    std::function<void()> onCall;
    std::vector<std::string> calls;

    void setUsaHttps(bool checked) override { record("https=" + std::to_string(checked)); }
    void setIpExterno(const std::u16string& text) override {
        record("externo=" + utf8FromUtf16(text));
    }
    void setIpInterno(const std::u16string& text) override {
        record("interno=" + utf8FromUtf16(text));
    }

private:
    void record(std::string call) {
        calls.push_back(std::move(call));
        if (onCall) {
            onCall();
        }
    }
};

}  // namespace quelvar::test
