#pragma once

#include <filesystem>

#include "settings/SettingsTarget.h"

namespace quelvar {

// The Lumora Web application's "config.js", read line by line for three fixed markers whose
// values are cut out of their lines by position.
//
// The reader is shared by every platform; only the file access and the conversion of whole
// UTF-8 are the platform's. Each platform folder (settings/posix/, and settings/win32/ beside
// it) defines:
//   - LockedFile (settings/LockedFile.h): the open without sharing, the reads and the close,
//     with the system's error texts;
//   - platformUtf16FromUtf8 (settings/Utf8Conversion.h): UTF-8 to UTF-16, strict or with
//     replacement;
//   - SettingsFile::besideExecutable (below): where "config.js" is looked for.
// The byte-order marks and 4096-byte blocks (BlockDecoder), the characters carried over from
// one block to the next (text/Utf8Decoder), the line ends (LineReader) and the markers
// (MarkerRules) are one copy for all.
class SettingsFile {
public:
    // Returns the full path of "config.js" in the directory of the running executable.
    static std::filesystem::path besideExecutable();
    // Reads the settings file, applying each key to the target as its line is read; throws
    // quelvar::Error with the exact message on failure (after closing the file).
    static void read(const std::filesystem::path& path, SettingsTarget& target);
};

}  // namespace quelvar
