#include "tests/form/ConfigFile.h"

#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

#include "settings/SettingsFile.h"

namespace quelvar::test {

std::filesystem::path configPath() {
    return SettingsFile::besideExecutable();
}

void removeConfig() {
    std::error_code ignored;
    std::filesystem::remove(configPath(), ignored);
}

void writeConfig(std::string_view bytes) {
    removeConfig();
    std::ofstream file(configPath(), std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        throw std::runtime_error("cannot write " + configPath().string());
    }
}

}  // namespace quelvar::test
