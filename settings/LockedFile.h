#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace quelvar {

// The settings file, open for reading only and held without sharing: while it is open here no
// other process can open or lock it, and the open fails while another process holds it.
// Defined per platform (settings/posix/LockedFile.cpp, settings/win32/LockedFile.cpp).
class LockedFile {
public:
    // Opens an existing file; throws quelvar::Error with cannotOpenMessage()
    // (settings/SystemText.h) when it cannot.
    explicit LockedFile(const std::filesystem::path& path);
    // Closes the file, which also gives up the hold on it.
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    // Reads up to size bytes and returns how many it read, fewer than size only at the end of
    // the file; throws quelvar::Error with the system's text on a read failure.
    std::size_t read(char* buffer, std::size_t size);

private:
    // A file descriptor on POSIX, a HANDLE on Windows.
    std::intptr_t m_handle;
};

}  // namespace quelvar
