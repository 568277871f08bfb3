// The settings file reader's Windows half on real files under the Windows calls: the open
// without sharing and its messages in the system's words, the place beside the executable,
// the byte-order marks and the strict UTF-8 of MultiByteToWideChar, blocks included.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Error.h"
#include "settings/SettingsFile.h"
#include "tests/fixtures/TestFiles.h"
#include "tests/fixtures/ThrowMessage.h"
#include "tests/settings/RecordingTarget.h"
#include "text/win32/WideText.h"

namespace quelvar {
namespace {

using test::RecordingTarget;
using test::TempDir;
using Calls = std::vector<std::string>;

const std::string kNoMapping =
    "No mapping for the Unicode character exists in the target multi-byte code page";

// The message a failed open gives, with the system's own text for the error.
std::string cannotOpen(const std::string& path, DWORD error) {
    return "Cannot open file \"" + path + "\". " + systemMessage(error);
}

// Holds a file open with share mode 0, as another program that has it open would.
class HeldFile {
public:
    explicit HeldFile(const std::string& path)
        : m_handle(CreateFileW(toWide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~HeldFile() {
        if (m_handle != INVALID_HANDLE_VALUE) {
            CloseHandle(m_handle);
        }
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    bool held() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

// Returns whether another open of the file with share mode 0 succeeds now.
bool canOpenAlone(const std::string& path) {
    return HeldFile(path).held();
}

TEST(SettingsFileWindows, ConfigJsLiesBesideTheExecutable) {
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring expected = module;
    expected.resize(expected.find_last_of(L"\\") + 1);
    expected += L"config.js";
    EXPECT_EQ(SettingsFile::besideExecutable().native(), expected);
}

TEST(SettingsFileWindows, FailedOpensCarryTheSystemsText) {
    TempDir directory;
    const std::string missing = directory.path() + "\\config.js";
    RecordingTarget target;
    EXPECT_THROW_MESSAGE(SettingsFile::read(missing, target), Error,
                         cannotOpen(missing, ERROR_FILE_NOT_FOUND));
    // CreateFileW opens a directory only with FILE_FLAG_BACKUP_SEMANTICS.
    EXPECT_THROW_MESSAGE(SettingsFile::read(directory.path(), target), Error,
                         cannotOpen(directory.path(), ERROR_ACCESS_DENIED));
    EXPECT_TRUE(target.calls.empty());
    // The system's text ends in a letter once trimmed, so the box adds its full stop.
    EXPECT_FALSE(systemMessage(ERROR_SHARING_VIOLATION).empty());
    EXPECT_NE(systemMessage(ERROR_SHARING_VIOLATION).back(), '.');
}

TEST(SettingsFileWindows, FileHeldByAnotherOpenIsASharingViolation) {
    TempDir directory;
    const std::string path = directory.write("config.js", "const IP_EXTERNO = 'x';\n");
    RecordingTarget target;
    {
        HeldFile other(path);
        ASSERT_TRUE(other.held());
        EXPECT_THROW_MESSAGE(SettingsFile::read(path, target), Error,
                             cannotOpen(path, ERROR_SHARING_VIOLATION));
    }
    EXPECT_TRUE(target.calls.empty());
    // While the reader holds the file, no other open gets it; after the read it is free.
    bool openedDuringRead = true;
    target.onCall = [&] { openedDuringRead = canOpenAlone(path); };
    SettingsFile::read(path, target);
    EXPECT_EQ(target.calls, (Calls{"externo=x"}));
    EXPECT_FALSE(openedDuringRead);
    EXPECT_TRUE(canOpenAlone(path));
}

TEST(SettingsFileWindows, ByteOrderMarksAndStrictUtf8) {
    const std::string line = "const IP_EXTERNO = 'S\xC3\xA3o';\r\nconst USA_HTTPS = true;\n";
    const auto utf16 = [&](bool bigEndian) {
        const std::wstring wide = toWide(line);
        std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (wchar_t unit : wide) {
            const char low = static_cast<char>(unit & 0xFF);
            const char high = static_cast<char>(unit >> 8);
            bytes += bigEndian ? std::string{high, low} : std::string{low, high};
        }
        return bytes;
    };
    struct Case {
        const char* name;
        std::string bytes;
        Calls calls;
        std::string error;
    };
    const Calls decoded{"externo=S\xC3\xA3o", "https=1"};
    const Case cases[] = {
        {"plain UTF-8", line, decoded, ""},
        {"UTF-8 with mark", "\xEF\xBB\xBF" + line, decoded, ""},
        {"UTF-16 little-endian", utf16(false), decoded, ""},
        {"UTF-16 big-endian", utf16(true), decoded, ""},
        {"only a mark", "\xEF\xBB\xBF", {}, ""},
        {"empty", "", {}, ""},
        // An accented letter saved in a Windows single-byte code page.
        {"Windows-1252 without mark", "const IP_EXTERNO = 'S\xE3o';\n", {}, kNoMapping},
        {"encoded surrogate", "const IP_EXTERNO = '\xED\xA0\x80';\n", {}, kNoMapping},
        {"overlong slash", "const IP_EXTERNO = '\xC0\xAF';\n", {}, kNoMapping},
        {"cut off at the end", "const IP_EXTERNO = 'x';\n\xE2\x82", {}, kNoMapping},
        // With a UTF-8 mark a faulty sequence is replaced, not refused.
        {"UTF-8 mark, faulty byte",
         "\xEF\xBB\xBF"
         "const IP_EXTERNO = 'S\xE3o';\n",
         {"externo=S\xEF\xBF\xBDo"},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir directory;
        const std::string path = directory.write("config.js", c.bytes);
        RecordingTarget target;
        EXPECT_THROW_MESSAGE(SettingsFile::read(path, target), Error,
                             c.error.empty() ? "[no exception]" : c.error);
        EXPECT_EQ(target.calls, c.calls);
    }
}

TEST(SettingsFileWindows, CharactersStraddlingBlocksAreDecodedWhole) {
    // "ã" (C3 A3) and "€" (E2 82 AC) with their bytes on both sides of the 4096-byte boundary,
    // and a CR LF split by it.
    struct Case {
        const char* name;
        std::size_t splitAfter;  // bytes of the sequence in the first block
        std::string character;
    };
    const Case cases[] = {
        {"two bytes, one before", 1, "\xC3\xA3"},
        {"three bytes, one before", 1, "\xE2\x82\xAC"},
        {"three bytes, two before", 2, "\xE2\x82\xAC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string prefix = "const IP_EXTERNO = '";
        std::string padding = "// ";
        padding.append(4096 - prefix.size() - c.splitAfter - padding.size() - 1, 'p');
        padding += '\n';
        TempDir directory;
        const std::string path =
            directory.write("config.js", padding + prefix + c.character + "';\r\n");
        RecordingTarget target;
        SettingsFile::read(path, target);
        EXPECT_EQ(target.calls, (Calls{"externo=" + c.character}));
    }
    // A fault in the second block leaves what the first block's lines set.
    std::string first = "const IP_INTERNO = 'a';\n// ";
    first.append(4096 - first.size(), 'p');
    TempDir directory;
    const std::string path = directory.write("config.js", first + "\nconst IP_EXTERNO = '\xFF';\n");
    RecordingTarget target;
    EXPECT_THROW_MESSAGE(SettingsFile::read(path, target), Error, kNoMapping);
    EXPECT_EQ(target.calls, (Calls{"interno=a"}));
}

}  // namespace
}  // namespace quelvar
