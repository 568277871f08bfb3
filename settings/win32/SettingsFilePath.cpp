#include "settings/SettingsFile.h"
#include "settings/win32/ExecutablePath.h"

namespace quelvar {

std::filesystem::path SettingsFile::besideExecutable() {
    // The directory is the module's path cut after its last "\" or ":", with a "\" added when
    // it does not end in one (a path like "C:quelvar.exe" keeps its drive).
    std::wstring directory = executablePath();
    const std::size_t cut = directory.find_last_of(L"\\:");
    directory.resize(cut == std::wstring::npos ? 0 : cut + 1);
    if (!directory.empty() && directory.back() != L'\\') {
        directory += L'\\';
    }
    return std::filesystem::path(directory + L"config.js");
}

}  // namespace quelvar
