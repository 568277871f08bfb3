#include "settings/LockedFile.h"

#include <windows.h>

#include "base/Error.h"
#include "settings/SystemText.h"
#include "text/win32/WideText.h"

namespace quelvar {

namespace {

HANDLE handleOf(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

// Opens the file for reading only and without sharing: the open fails while another process
// has it open (ERROR_SHARING_VIOLATION), and no other open succeeds while it is held here. A
// directory fails too, as CreateFileW opens one only with FILE_FLAG_BACKUP_SEMANTICS.
std::intptr_t openExclusive(const std::filesystem::path& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        throw Error(cannotOpenMessage(fromWide(path.native()), systemMessage(error)));
    }
    return reinterpret_cast<std::intptr_t>(file);
}

}  // namespace

LockedFile::LockedFile(const std::filesystem::path& path) : m_handle(openExclusive(path)) {}

LockedFile::~LockedFile() {
    CloseHandle(handleOf(m_handle));
}

std::size_t LockedFile::read(char* buffer, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
        DWORD got = 0;
        const DWORD wanted = static_cast<DWORD>(size - total);
        if (!ReadFile(handleOf(m_handle), buffer + total, wanted, &got, nullptr)) {
            throw Error(systemMessage(GetLastError()));
        }
        if (got == 0) {
            break;
        }
        total += got;
    }
    return total;
}

}  // namespace quelvar
