// The settings file reader on real files: the order of its calls, the blocks, the hold it
// takes on the file and the release of it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/Error.h"
#include "settings/SettingsFile.h"
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

// Pads with a comment line so that the text after it starts at the byte offset.
std::string paddedTo(std::size_t offset) {
    std::string padding = "// ";
    padding.append(offset - padding.size() - 1, 'p');
    padding += '\n';
    return padding;
}

std::string cannotOpen(const std::string& path, const std::string& systemText) {
    return "Cannot open file \"" + path + "\". " + systemText;
}

// A child process that holds an exclusive lock on a file until the object goes.
class LockingProcess {
public:
    explicit LockingProcess(const std::string& path) {
        int ready[2];
        if (::pipe(ready) != 0) {
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            const int fd = ::open(path.c_str(), O_RDONLY);
            if (fd < 0 || ::flock(fd, LOCK_EX) != 0 || ::write(ready[1], "h", 1) != 1) {
                ::_exit(1);
            }
            for (;;) {
                ::pause();
            }
        }
        ::close(ready[1]);
        char byte = 0;
        m_holding = m_pid > 0 && ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
    }
    ~LockingProcess() { release(); }

    bool holding() const { return m_holding; }
    void release() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

private:
    pid_t m_pid = -1;
    bool m_holding = false;
};

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

TEST(SettingsFileTest, CallsInLineAndMarkerOrder) {
    TempDir dir;
    const std::string path =
        dir.write("config.js",
                  "const IP_INTERNO = 'i1';\n"
                  "const IP_EXTERNO = 'a'; const IP_INTERNO = 'b'; const USA_HTTPS = true;\n"
                  "const USA_HTTPS = true;\r\n"
                  "nothing here\r"
                  "const USA_HTTPS = no;");
    RecordingTarget target;
    SettingsFile::read(path, target);
    const std::string both = "a'; const IP_INTERNO = 'b'; const USA_HTTPS = tru";
    // The third marker of line 2 takes its value from the first "=" of the line too.
    EXPECT_EQ(target.calls, (Calls{"interno=i1", "https=0", "externo=" + both, "interno=" + both,
                                   "https=1", "https=0"}));
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
    LockingProcess holder(path);
    ASSERT_TRUE(holder.holding());
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

// A character of every UTF-8 length, its bytes split at every place by the block end.
TEST(SettingsFileTest, CharactersStraddlingTheBlockEndDecodeWhole) {
    const std::string value = "\xC3\xA3-\xE2\x82\xAC-\xF0\x9F\x98\x80";  // ã-€-😀
    const std::string marker = "const IP_EXTERNO = '";
    for (std::size_t shift = 0; shift <= value.size(); ++shift) {
        SCOPED_TRACE(shift);
        // The value's bytes start `shift` bytes before the block end.
        const std::string content =
            paddedTo(4096 - shift - marker.size()) + marker + value + "';\n";
        TempDir dir;
        RecordingTarget target;
        EXPECT_EQ(readError(dir.write("config.js", content), target), kNoError);
        EXPECT_EQ(target.calls, Calls{"externo=" + value});
    }
}

TEST(SettingsFileTest, CrLfSplitByTheBlockEndIsOneLineEnd) {
    // The CR is the block's last byte and its LF the next block's first.
    const std::string line = "const IP_EXTERNO = 'x';";
    const std::string content =
        paddedTo(4095 - line.size()) + line + "\r\n" + "const IP_INTERNO = 'y';";
    ASSERT_EQ(content.find('\r'), std::size_t{4095});
    TempDir dir;
    RecordingTarget target;
    EXPECT_EQ(readError(dir.write("config.js", content), target), kNoError);
    EXPECT_EQ(target.calls, (Calls{"externo=x", "interno=y"}));
}

TEST(SettingsFileTest, LoneCrAtTheBlockEndIsALineEnd) {
    const std::string line = "const IP_EXTERNO = 'x';";
    const std::string content =
        paddedTo(4095 - line.size()) + line + "\r" + "const IP_INTERNO = 'y';\r";
    TempDir dir;
    RecordingTarget target;
    EXPECT_EQ(readError(dir.write("config.js", content), target), kNoError);
    EXPECT_EQ(target.calls, (Calls{"externo=x", "interno=y"}));
}

TEST(SettingsFileTest, LinesOfEarlierBlocksApplyBeforeAFault) {
    // Block 1 ends with a whole line; block 2 holds a Latin-1 byte.
    const std::string line = "const IP_EXTERNO = 'primeiro';\n";
    std::string content = paddedTo(4096 - line.size()) + line;
    ASSERT_EQ(content.size(), std::size_t{4096});
    content += "const IP_INTERNO = 'conex\xE3o';\n";
    TempDir dir;
    RecordingTarget target;
    EXPECT_EQ(readError(dir.write("config.js", content), target), kNoMapping);
    EXPECT_EQ(target.calls, Calls{"externo=primeiro"});
}

TEST(SettingsFileTest, AFaultFailsItsWholeBlock) {
    // The line before the fault is in the same block: it is never applied.
    TempDir dir;
    RecordingTarget target;
    const std::string content = "const IP_EXTERNO = 'antes';\n// \xE9\nconst IP_INTERNO = 'x';\n";
    EXPECT_EQ(readError(dir.write("config.js", content), target), kNoMapping);
    EXPECT_TRUE(target.calls.empty());
}

TEST(SettingsFileTest, InvalidSequences) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"Latin-1 letter", "\xE9"},
        {"lone continuation", "\x80"},
        {"overlong slash", "\xC0\xAF"},
        {"overlong three bytes", "\xE0\x80\xAF"},
        {"encoded surrogate", "\xED\xA0\x80"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80"},
        {"F5 lead", "\xF5\x80\x80\x80"},
        {"cut short by a letter", "\xE2\x82x"},
        {"cut short by the end of the file", "\xE2\x82"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        RecordingTarget target;
        const std::string content = "const IP_EXTERNO = 'a';\n" + c.bytes;
        EXPECT_EQ(readError(dir.write("config.js", content), target), kNoMapping);
        EXPECT_TRUE(target.calls.empty());
    }
}

TEST(SettingsFileTest, WithUtf8MarkFaultsAreReplaced) {
    TempDir dir;
    RecordingTarget target;
    const std::string content =
        "\xEF\xBB\xBF"
        "const IP_EXTERNO = 'a\xE9z';\n";
    EXPECT_EQ(readError(dir.write("config.js", content), target), kNoError);
    EXPECT_EQ(target.calls, Calls{"externo=a\xEF\xBF\xBDz"});
}

TEST(SettingsFileTest, ManyBlocksLastLineWins) {
    std::string content;
    for (int i = 0; i < 3000; ++i) {
        content += "const IP_EXTERNO = 'h" + std::to_string(i) + "';\r\n";
    }
    TempDir dir;
    RecordingTarget target;
    EXPECT_EQ(readError(dir.write("config.js", content), target), kNoError);
    ASSERT_EQ(target.calls.size(), 3000u);
    EXPECT_EQ(target.calls.back(), "externo=h2999");
    EXPECT_EQ(target.calls.at(1234), "externo=h1234");
}

TEST(SettingsFileTest, Utf16AcrossBlocks) {
    // Code units and surrogate pairs split by the block end, in both byte orders.
    for (const bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        std::u16string text;
        for (int i = 0; i < 700; ++i) {
            text += u"// ção \U0001F600\r\n";
        }
        text += u"const IP_INTERNO = '10.0.0.1:ção';\n";
        std::string content = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (const char16_t c : text) {
            const char high = static_cast<char>(c >> 8);
            const char low = static_cast<char>(c & 0xFF);
            content += bigEndian ? std::string{high, low} : std::string{low, high};
        }
        TempDir dir;
        RecordingTarget target;
        EXPECT_EQ(readError(dir.write("config.js", content), target), kNoError);
        EXPECT_EQ(target.calls, Calls{"interno=10.0.0.1:ção"});
    }
}

}  // namespace
}  // namespace quelvar
