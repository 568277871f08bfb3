// The settings file reader's Windows half on real files under the Windows calls: the open
// without sharing and its messages in the system's words, the place beside the executable. The
// lines, byte-order marks, strict UTF-8 of MultiByteToWideChar and block ends are
// SettingsFileCasesTest.cpp's, the same cases as on Linux.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Error.h"
#include "settings/SettingsFile.h"
#include "tests/fixtures/HeldFile.h"
#include "tests/fixtures/TestFiles.h"
#include "tests/fixtures/ThrowMessage.h"
#include "tests/settings/RecordingTarget.h"
#include "text/win32/WideText.h"

namespace quelvar {
namespace {

using test::HeldFile;
using test::RecordingTarget;
using test::TempDir;
using Calls = std::vector<std::string>;

// The message a failed open gives, with the system's own text for the error.
std::string cannotOpen(const std::string& path, DWORD error) {
    return "Cannot open file \"" + path + "\". " + systemMessage(error);
}

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

}  // namespace
}  // namespace quelvar
