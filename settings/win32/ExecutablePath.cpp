#include "settings/win32/ExecutablePath.h"

#include <windows.h>

#include "base/Error.h"
#include "text/win32/WideText.h"

namespace quelvar {

std::wstring executablePath() {
    // A path may be longer than MAX_PATH; the buffer grows until the whole path fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            throw Error("Cannot find the running executable: " + systemMessage(GetLastError()));
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace quelvar
