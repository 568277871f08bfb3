#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace quelvar {

// Returns up to limit bytes from the start of a file, opened for reading while other readers
// and writers may have it open too (many quelvar-check runs may start at one moment); throws
// quelvar::Error with cannotOpenMessage() (settings/SystemText.h) when it cannot be opened and
// with the system's text when it cannot be read. Defined per platform
// (settings/posix/SharedFile.cpp, settings/win32/SharedFile.cpp).
std::string readSharedFile(const std::filesystem::path& path, std::size_t limit);

}  // namespace quelvar
