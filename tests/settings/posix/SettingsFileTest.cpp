// The settings file reader's POSIX half on real files: the place beside the executable, the
// hold it takes on the file, the release of it and the failed opens in the system's words. The
// lines, encodings and block ends are SettingsFileCasesTest.cpp's, on every platform.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/Error.h"
#include "settings/SettingsFile.h"
#include "tests/fixtures/HeldFile.h"
#include "tests/fixtures/TestFiles.h"
#include "tests/fixtures/ThrowMessage.h"
#include "tests/settings/RecordingTarget.h"

namespace quelvar {
namespace {

using test::RecordingTarget;
using test::TempDir;
using Calls = std::vector<std::string>;

const std::string kNoMapping =
    "No mapping for the Unicode character exists in the target multi-byte code page";

// Returns whether another open file description can take an exclusive lock on the file now.
bool canLock(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return locked;
}

const std::string kNoError = "[no exception]";

// Reads the file and returns the message of the Error it throws, or kNoError.
std::string readError(const std::string& path, SettingsTarget& target) {
    return quelvar::test::thrownMessage<Error>([&] { SettingsFile::read(path, target); });
}

std::string cannotOpen(const std::string& path, const std::string& systemText) {
    return "Cannot open file \"" + path + "\". " + systemText;
}

TEST(SettingsFileTest, BesideExecutableIsTheExecutablesDirectory) {
    const std::filesystem::path expected =
        std::filesystem::path(QUELVAR_TEST_EXECUTABLE_DIR) / "config.js";
    EXPECT_EQ(SettingsFile::besideExecutable(), expected);
    EXPECT_TRUE(SettingsFile::besideExecutable().is_absolute());
    // Never the working directory.
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    EXPECT_EQ(SettingsFile::besideExecutable(), expected);
    std::filesystem::current_path(previous);
}

TEST(SettingsFileTest, HoldsTheFileExclusivelyWhileReading) {
    TempDir dir;
    const std::string path = dir.write("config.js", "const IP_EXTERNO = 'x';\n");
    RecordingTarget target;
    bool lockableDuringRead = true;
    target.onCall = [&] { lockableDuringRead = canLock(path); };
    SettingsFile::read(path, target);
    EXPECT_EQ(target.calls.size(), 1u);
    EXPECT_FALSE(lockableDuringRead);
    EXPECT_TRUE(canLock(path));
}

TEST(SettingsFileTest, ReleasesTheFileAfterAFailure) {
    TempDir dir;
    const std::string path = dir.write("config.js", "const IP_EXTERNO = 'conex\xE3o';\n");
    RecordingTarget target;
    EXPECT_EQ(readError(path, target), kNoMapping);
    EXPECT_TRUE(target.calls.empty());
    EXPECT_TRUE(canLock(path));
}

TEST(SettingsFileTest, LockedByAnotherDescriptionIsRefused) {
    TempDir dir;
    const std::string path = dir.write("config.js", "const IP_EXTERNO = 'x';\n");
    const int holder = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    RecordingTarget target;
    EXPECT_EQ(readError(path, target), cannotOpen(path, "Resource temporarily unavailable"));
    EXPECT_TRUE(target.calls.empty());
    ::close(holder);
    EXPECT_EQ(readError(path, target), kNoError);
    EXPECT_EQ(target.calls, Calls{"externo=x"});
}

TEST(SettingsFileTest, LockedByAnotherProcessIsRefused) {
    TempDir dir;
    const std::string path = dir.write("config.js", "const IP_EXTERNO = 'x';\n");
    test::HeldFile holder(path);
    ASSERT_TRUE(holder.held());
    RecordingTarget target;
    EXPECT_EQ(readError(path, target), cannotOpen(path, "Resource temporarily unavailable"));
    holder.release();
    EXPECT_EQ(readError(path, target), kNoError);
    EXPECT_EQ(target.calls, Calls{"externo=x"});
}

TEST(SettingsFileTest, OpenFailures) {
    struct Case {
        const char* name;
        const char* systemText;
    };
    const Case cases[] = {
        {"missing", "No such file or directory"},
        {"directory", "Is a directory"},
        {"missing directory", "No such file or directory"},
        {"not a directory", "Not a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string path = dir.path() + "/config.js";
        const std::string kind = c.name;
        if (kind == "directory") {
            ASSERT_TRUE(std::filesystem::create_directory(path));
        } else if (kind == "missing directory") {
            path = dir.path() + "/gone/config.js";
        } else if (kind == "not a directory") {
            dir.write("file", "x");
            path = dir.path() + "/file/config.js";
        }
        RecordingTarget target;
        EXPECT_EQ(readError(path, target), cannotOpen(path, c.systemText));
        EXPECT_TRUE(target.calls.empty());
    }
}

}  // namespace
}  // namespace quelvar
