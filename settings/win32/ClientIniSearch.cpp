#include "settings/ClientIni.h"
#include "settings/win32/ExecutablePath.h"

namespace quelvar {

std::vector<std::filesystem::path> ClientIni::searchPath() {
    // Beside the executable only: the program is copied into the Lumora Web folder, and the
    // file belongs to that copy.
    std::wstring directory = executablePath();
    const std::size_t cut = directory.find_last_of(L"\\:");
    directory.resize(cut == std::wstring::npos ? 0 : cut + 1);
    if (!directory.empty() && directory.back() != L'\\') {
        directory += L'\\';
    }
    return {std::filesystem::path(directory + L"quelvar.ini")};
}

}  // namespace quelvar
