// The quelvar.ini reader, the same on every platform: a table of files and the host or the
// exact message each gives, the host rules alone, and the reading of real files from a list of
// places (which is found first, a directory, a file over the limit).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/Error.h"
#include "settings/ClientIni.h"
#include "tests/fixtures/TestFiles.h"
#include "tests/fixtures/ThrowMessage.h"

namespace quelvar {
namespace {

using test::TempDir;

// The host a file names, or the message of its error.
std::string outcome(const std::string& bytes) {
    try {
        return "host " + ClientIni::hostOf("quelvar.ini", bytes);
    } catch (const Error& error) {
        return error.what();
    }
}

struct FileCase {
    const char* name;
    std::string bytes;
    std::string expected;
};

TEST(ClientIniTest, FilesGiveTheirHostOrAnExactMessage) {
    const std::string notAHost = "\" is not a host; write only the host and an optional port";
    const FileCase cases[] = {
        // Good files.
        {"plain", "[status]\nhost = status.example.org:8443\n", "host status.example.org:8443"},
        {"no line end at the end", "[status]\nhost = a.example", "host a.example"},
        {"byte-order mark", "\xEF\xBB\xBF[status]\nhost = a.example\n", "host a.example"},
        {"CR LF", "[status]\r\nhost = a.example\r\n", "host a.example"},
        {"no blanks around =", "[status]\nhost=a.example\n", "host a.example"},
        {"tabs and blanks everywhere", " \t[ status ]\t\n\t host \t=\t a.example:443 \t\n",
         "host a.example:443"},
        {"comments and blank lines",
         "; Quelvar\n# the status service\n\n[status]\n   ; indented comment\n"
         "host = a.example\n#host = b.example\n",
         "host a.example"},
        {"IPv4 with port", "[status]\nhost = 203.0.113.7:8443\n", "host 203.0.113.7:8443"},
        {"IPv6 with port", "[status]\nhost = [2001:db8::1]:8443\n", "host [2001:db8::1]:8443"},
        {"IPv6 without port", "[status]\nhost = [::1]\n", "host [::1]"},
        {"section and key in other cases", "[Status]\nHOST = a.example\n", "host a.example"},
        {"other sections are passed over",
         "[window]\ncolour = red\n[status]\nhost = a.example\n[later]\nhost = b.example\n",
         "host a.example"},
        {"non-ASCII comment", "# Serviço de situação\n[status]\nhost = a.example\n",
         "host a.example"},

        // Wrong files, with the line named.
        {"scheme and path", "[status]\nhost = https://x/\n",
         "quelvar.ini, line 2: \"https://x/" + notAHost},
        {"path", "[status]\nhost = a.example/v1/status\n",
         "quelvar.ini, line 2: \"a.example/v1/status" + notAHost},
        {"user information", "[status]\nhost = user@a.example\n",
         "quelvar.ini, line 2: \"user@a.example" + notAHost},
        {"port out of range", "[status]\nhost = a.example:65536\n",
         "quelvar.ini, line 2: \"a.example:65536" + notAHost},
        {"port zero", "[status]\nhost = a.example:0\n",
         "quelvar.ini, line 2: \"a.example:0" + notAHost},
        {"empty port", "[status]\nhost = a.example:\n",
         "quelvar.ini, line 2: \"a.example:" + notAHost},
        {"IPv6 without brackets", "[status]\nhost = 2001:db8::1\n",
         "quelvar.ini, line 2: \"2001:db8::1" + notAHost},
        {"IPv6 with zone", "[status]\nhost = [fe80::1%eth0]\n",
         "quelvar.ini, line 2: \"[fe80::1%eth0]" + notAHost},
        {"IPv4 out of range", "[status]\nhost = 10.0.0.300\n",
         "quelvar.ini, line 2: \"10.0.0.300" + notAHost},
        {"quoted", "[status]\nhost = \"a.example\"\n",
         "quelvar.ini, line 2: \"\"a.example\"" + notAHost},
        {"inline comment", "[status]\nhost = a.example ; ours\n",
         "quelvar.ini, line 2: \"a.example ; ours" + notAHost},
        {"non-ASCII host", "[status]\nhost = situação.example\n",
         "quelvar.ini, line 2: \"situação.example" + notAHost},
        {"empty host", "[status]\nhost =\n",
         "quelvar.ini, line 2: host is empty; write the host and an optional port"},
        {"host twice", "[status]\nhost = a.example\n\nhost = b.example\n",
         "quelvar.ini, line 4: host given twice (first on line 2)"},
        {"host twice in two [status] sections",
         "[status]\nhost = a.example\n[status]\nhost = a.example\n",
         "quelvar.ini, line 4: host given twice (first on line 2)"},
        {"unknown key", "[status]\nhots = a.example\n",
         "quelvar.ini, line 2: unknown key \"hots\" in [status]"},
        {"key outside any section", "host = a.example\n",
         "quelvar.ini, line 1: \"host\" stands outside any section; put it under [status]"},
        {"line without =", "[status]\nhost a.example\n",
         "quelvar.ini, line 2: not a \"key = value\" line"},
        {"empty key", "[status]\n= a.example\n", "quelvar.ini, line 2: not a \"key = value\" line"},
        {"unclosed section", "[status\nhost = a.example\n",
         "quelvar.ini, line 1: not a [section] line"},
        {"empty section name", "[ ]\n", "quelvar.ini, line 1: not a [section] line"},
        {"Latin-1 byte", "[status]\n# S\xE3o Paulo\nhost = a.example\n",
         "quelvar.ini, line 2: not UTF-8 text"},
        {"UTF-16 file", std::string("\xFF\xFE[\0s\0", 6), "quelvar.ini, line 1: holds a NUL byte"},
        {"no host", "[status]\n; host = a.example\n", "quelvar.ini: no host in [status]"},
        {"empty file", "", "quelvar.ini: no host in [status]"},
        {"only a byte-order mark", "\xEF\xBB\xBF", "quelvar.ini: no host in [status]"},
        {"over 64 KiB", "[status]\nhost = a.example\n" + std::string(64 * 1024, '#'),
         "quelvar.ini: larger than 64 KiB"},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome(c.bytes), c.expected);
    }
    // Exactly at the limit is still read.
    std::string full = "[status]\nhost = a.example\n";
    full.resize(ClientIni::kMaxSize, '#');
    EXPECT_EQ(outcome(full), "host a.example");
}

TEST(ClientIniTest, HostRules) {
    struct Case {
        std::string text;
        bool host;
    };
    const Case cases[] = {
        {"localhost", true},
        {"a.example", true},
        {"a-b.example", true},
        {"a.example:1", true},
        {"a.example:65535", true},
        {"127.0.0.1", true},
        {"0.0.0.0", true},
        {"[::]", true},
        {"[::1]:8443", true},
        {"[1:2:3:4:5:6:7:8]", true},
        {"[::ffff:192.0.2.1]", true},
        {"[1::]", true},
        {"", false},
        {"-a.example", false},
        {"a-.example", false},
        {"a..example", false},
        {".a.example", false},
        {"a.example.", false},
        {"a_b.example", false},
        {std::string(64, 'a'), false},
        {std::string(63, 'a') + ".example", true},
        {"a.example:08443", false},
        {"a.example:8443:1", false},
        {"a.example:port", false},
        {"1.2.3", false},
        {"1.2.3.4.5", false},
        {"01.2.3.4", false},
        {"[1:2:3:4:5:6:7:8:9]", false},
        {"[1::2::3]", false},
        {"[:1]", false},
        {"[1:]", false},
        {"[12345::]", false},
        {"[::1]8443", false},
        {"[::1", false},
        {"[a.example]", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ClientIni::isHost(c.text), c.host);
    }
    EXPECT_EQ(ClientIni::statusEndpoint("[::1]:8443"), "https://[::1]:8443/v1/status");
}

TEST(ClientIniTest, TheFirstPlaceThatHoldsAFileIsTheOnlyOneRead) {
    TempDir first;
    TempDir second;
    TempDir third;
    const std::filesystem::path a = std::filesystem::path(first.path()) / "quelvar.ini";
    const std::filesystem::path b = std::filesystem::path(second.path()) / "quelvar.ini";
    const std::filesystem::path c = std::filesystem::path(third.path()) / "quelvar.ini";
    const std::vector<std::filesystem::path> places{a, b, c};

    EXPECT_FALSE(ClientIni::load(places).has_value());

    third.write("quelvar.ini", "[status]\nhost = third.example\n");
    std::optional<ClientIni> ini = ClientIni::load(places);
    ASSERT_TRUE(ini.has_value());
    EXPECT_EQ(ini->file, c);
    EXPECT_EQ(ini->host, "third.example");
    EXPECT_EQ(ini->statusEndpoint(), "https://third.example/v1/status");

    // A wrong file found first is an error, never a step on to the next place.
    second.write("quelvar.ini", "[status]\nhost = https://x/\n");
    const std::u8string name = b.u8string();
    EXPECT_THROW_MESSAGE(ClientIni::load(places), Error,
                         std::string(name.begin(), name.end()) +
                             ", line 2: \"https://x/\" is not a host; write only the host and "
                             "an optional port");

    // Something that is there but cannot be read is found, and fails.
    std::filesystem::create_directory(a);
    const std::string thrown = test::thrownMessage<Error>([&] { ClientIni::load(places); });
    EXPECT_EQ(thrown.rfind("Cannot open file \"", 0), 0u) << thrown;
    EXPECT_NE(thrown.find("quelvar.ini\". "), std::string::npos) << thrown;
    std::filesystem::remove(a);

    first.write("quelvar.ini", "[status]\nhost = [::1]:9443\n");
    ini = ClientIni::load(places);
    ASSERT_TRUE(ini.has_value());
    EXPECT_EQ(ini->file, a);
    EXPECT_EQ(ini->statusEndpoint(), "https://[::1]:9443/v1/status");

    // The limit holds for a real file too: the reader reads one byte past it, not the whole.
    first.write("quelvar.ini", "[status]\nhost = a.example\n" + std::string(1 << 20, '#'));
    const std::u8string firstName = a.u8string();
    EXPECT_THROW_MESSAGE(ClientIni::load(places), Error,
                         std::string(firstName.begin(), firstName.end()) + ": larger than 64 KiB");
}

}  // namespace
}  // namespace quelvar
