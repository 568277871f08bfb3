#include "settings/posix/ClientIniSearch.h"

#include <cstdlib>
#include <system_error>

#include "base/Error.h"
#include "settings/ClientIni.h"

namespace quelvar {

namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

}  // namespace

std::vector<std::filesystem::path> xdgSearchPath(const std::filesystem::path& executableDirectory,
                                                 const std::optional<std::string>& configHome,
                                                 const std::optional<std::string>& home) {
    const std::filesystem::path name(ClientIni::kFileName);
    std::vector<std::filesystem::path> places{executableDirectory / name};
    if (configHome && !configHome->empty() && std::filesystem::path(*configHome).is_absolute()) {
        places.push_back(std::filesystem::path(*configHome) / "quelvar" / name);
    } else if (home && !home->empty()) {
        places.push_back(std::filesystem::path(*home) / ".config" / "quelvar" / name);
    }
    places.push_back(std::filesystem::path("/etc/quelvar") / name);
    return places;
}

std::vector<std::filesystem::path> ClientIni::searchPath() {
    // The kernel's link names the running executable with every symbolic link resolved.
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        throw Error("Cannot find the running executable: " + error.message());
    }
    return xdgSearchPath(executable.parent_path(), environment("XDG_CONFIG_HOME"),
                         environment("HOME"));
}

}  // namespace quelvar
