// Where quelvar.ini is looked for on Linux, and that the first place found wins, with the
// places made in temporary directories.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "settings/ClientIni.h"
#include "settings/posix/ClientIniSearch.h"
#include "tests/fixtures/TestFiles.h"

namespace quelvar {
namespace {

using Paths = std::vector<std::filesystem::path>;
using test::TempDir;

TEST(ClientIniSearchTest, PlacesInOrder) {
    struct Case {
        const char* name;
        std::optional<std::string> configHome;
        std::optional<std::string> home;
        Paths expected;
    };
    const Case cases[] = {
        {"XDG_CONFIG_HOME set",
         "/cfg",
         "/home/u",
         {"/opt/q/bin/quelvar.ini", "/cfg/quelvar/quelvar.ini", "/etc/quelvar/quelvar.ini"}},
        {"XDG_CONFIG_HOME unset",
         std::nullopt,
         "/home/u",
         {"/opt/q/bin/quelvar.ini", "/home/u/.config/quelvar/quelvar.ini",
          "/etc/quelvar/quelvar.ini"}},
        {"XDG_CONFIG_HOME empty",
         "",
         "/home/u",
         {"/opt/q/bin/quelvar.ini", "/home/u/.config/quelvar/quelvar.ini",
          "/etc/quelvar/quelvar.ini"}},
        {"XDG_CONFIG_HOME relative is ignored",
         "cfg",
         "/home/u",
         {"/opt/q/bin/quelvar.ini", "/home/u/.config/quelvar/quelvar.ini",
          "/etc/quelvar/quelvar.ini"}},
        {"neither a config home nor a home",
         std::nullopt,
         std::nullopt,
         {"/opt/q/bin/quelvar.ini", "/etc/quelvar/quelvar.ini"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(xdgSearchPath("/opt/q/bin", c.configHome, c.home), c.expected);
    }
}

TEST(ClientIniSearchTest, TheRunningProgramLooksBesideItselfFirstAndInEtcLast) {
    const Paths places = ClientIni::searchPath();
    ASSERT_GE(places.size(), 2u);
    EXPECT_EQ(places.front(), std::filesystem::path(QUELVAR_TEST_EXECUTABLE_DIR) / "quelvar.ini");
    EXPECT_EQ(places.back(), std::filesystem::path("/etc/quelvar/quelvar.ini"));
}

// The three places made for real, the last standing for /etc/quelvar: each one is read only
// while those before it hold no file.
TEST(ClientIniSearchTest, EarlierPlacesWin) {
    TempDir executable;
    TempDir configHome;
    TempDir etc;
    std::filesystem::create_directories(std::filesystem::path(configHome.path()) / "quelvar");
    Paths places = xdgSearchPath(executable.path(), configHome.path(), "/nonexistent-home");
    ASSERT_EQ(places.size(), 3u);
    places.back() = std::filesystem::path(etc.path()) / "quelvar.ini";

    etc.write("quelvar.ini", "[status]\nhost = etc.example\n");
    EXPECT_EQ(ClientIni::load(places)->host, "etc.example");
    configHome.write("quelvar/quelvar.ini", "[status]\nhost = config.example\n");
    EXPECT_EQ(ClientIni::load(places)->host, "config.example");
    executable.write("quelvar.ini", "[status]\nhost = beside.example\n");
    EXPECT_EQ(ClientIni::load(places)->host, "beside.example");
    EXPECT_EQ(ClientIni::load(places)->file, places.front());
}

// The example that the packages ship is a good file, which names the fixed scheme and path.
TEST(ClientIniSearchTest, TheShippedExampleIsAGoodFile) {
    std::ifstream file(QUELVAR_SOURCE_DIR "/resources/quelvar.ini.example", std::ios::binary);
    ASSERT_TRUE(file);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    EXPECT_EQ(ClientIni::hostOf("quelvar.ini.example", bytes), "status.example.org:8443");
    EXPECT_NE(bytes.find("https"), std::string::npos);
    EXPECT_NE(bytes.find("/v1/status"), std::string::npos);
}

}  // namespace
}  // namespace quelvar
