#include <string>
#include <system_error>

#include "base/Error.h"
#include "settings/SettingsFile.h"

namespace quelvar {

std::filesystem::path SettingsFile::besideExecutable() {
    // The kernel's link names the running executable with every symbolic link resolved,
    // whatever the working directory or the name the program was started by.
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        throw Error("Cannot find the running executable: " + error.message());
    }
    return executable.parent_path() / "config.js";
}

}  // namespace quelvar
