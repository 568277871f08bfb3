#include "settings/SharedFile.h"

#include <windows.h>

#include "base/Error.h"
#include "settings/SystemText.h"
#include "text/win32/WideText.h"

namespace quelvar {

namespace {

// Closes the handle when it goes.
class Handle {
public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle() { CloseHandle(m_handle); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

}  // namespace

std::string readSharedFile(const std::filesystem::path& path, std::size_t limit) {
    // Shared with every other reader, writer and deleter: an editor that holds the file open
    // does not keep the program from starting. A directory fails, as CreateFileW opens one only
    // with FILE_FLAG_BACKUP_SEMANTICS.
    HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        throw Error(cannotOpenMessage(fromWide(path.native()), systemMessage(error)));
    }
    const Handle file(opened);
    std::string bytes(limit, '\0');
    std::size_t total = 0;
    while (total < limit) {
        DWORD got = 0;
        const DWORD wanted = static_cast<DWORD>(limit - total);
        if (!ReadFile(file.get(), bytes.data() + total, wanted, &got, nullptr)) {
            throw Error(systemMessage(GetLastError()));
        }
        if (got == 0) {
            break;
        }
        total += got;
    }
    bytes.resize(total);
    return bytes;
}

}  // namespace quelvar
