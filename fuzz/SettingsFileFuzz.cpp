// Feeds arbitrary bytes to the settings file reader as the content of a config.js.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/Error.h"
#include "settings/SettingsFile.h"

namespace {

class DiscardingTarget : public quelvar::SettingsTarget {
public:
    void setUsaHttps(bool) override {}
    void setIpExterno(const std::u16string&) override {}
    void setIpInterno(const std::u16string&) override {}
};

const std::string& inputPath() {
    static const std::string path = [] {
        char pattern[] = "/tmp/quelvar-settings-fuzz-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd >= 0) {
            close(fd);
        }
        return std::string(pattern);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = inputPath();
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    DiscardingTarget target;
    try {
        quelvar::SettingsFile::read(path, target);
    } catch (const quelvar::Error&) {
        // Undecodable text fails with an Error; anything else is a finding.
    }
    return 0;
}
