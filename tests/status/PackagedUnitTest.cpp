// The systemd unit as installed: systemd accepts it, it names the installed program, and the
// program started with the unit's own ExecStart= arguments answers over TLS at once without any
// certificate files, then takes a real pair on SIGHUP.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>

#include "tests/fixtures/Certificates.h"
#include "tests/fixtures/TestFiles.h"
#include "tests/status/StatusProcess.h"
#include "tests/status/StatusTestSupport.h"

using namespace quelvar::test;
using namespace std::chrono_literals;

namespace {

struct CommandResult {
    int status = -1;     // the exit status, or -1 when the command did not end in time
    std::string output;  // stdout and stderr together
};

// Runs the program (found on PATH) with the arguments and extra "NAME=value" environment
// entries, for at most the wait.
CommandResult runCommand(std::vector<std::string> arguments, std::vector<std::string> environment,
                         std::chrono::milliseconds wait = 60s) {
    int out[2];
    if (pipe(out) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(out[0]);
        for (std::string& entry : environment) {
            putenv(entry.data());
        }
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    CommandResult result;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{out[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) != 1) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            close(out[0]);
            return result;
        }
        char chunk[4096];
        const ssize_t n = read(out[0], chunk, sizeof chunk);
        if (n <= 0) {
            break;
        }
        result.output.append(chunk, static_cast<std::size_t>(n));
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Returns the value of the unit's first line "NAME=...", continuation lines joined.
std::string unitSetting(const std::string& unit, const std::string& name) {
    const std::string joined = std::regex_replace(unit, std::regex("\\\\\n"), " ");
    std::istringstream lines(joined);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(name + "=")) {
            return line.substr(name.size() + 1);
        }
    }
    return {};
}

std::vector<std::string> splitWords(const std::string& text) {
    std::istringstream words(text);
    std::vector<std::string> result;
    for (std::string word; words >> word;) {
        result.push_back(word);
    }
    return result;
}

std::string escapeForRegex(const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

std::string hostName() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

// The status component installed once for these tests, to a prefix of their own.
class PackagedUnitTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_prefix = std::make_unique<TempDir>();
        s_install = runCommand({QUELVAR_CMAKE_COMMAND, "--install", QUELVAR_BUILD_DIR, "--prefix",
                                s_prefix->path(), "--component", "status"},
                               {});
    }
    static void TearDownTestSuite() { s_prefix.reset(); }

    void SetUp() override {
        ASSERT_EQ(s_install.status, 0) << s_install.output;
        m_unit = readText(unitPath());
        ASSERT_FALSE(m_unit.empty()) << unitPath();
    }

    static std::string unitPath() {
        return s_prefix->path() + "/lib/systemd/system/quelvar-status.service";
    }

    static inline std::unique_ptr<TempDir> s_prefix;
    static inline CommandResult s_install;
    std::string m_unit;
};

TEST_F(PackagedUnitTest, UnitNamesTheInstalledProgramAndReloadsWithSighup) {
    const std::vector<std::string> command = splitWords(unitSetting(m_unit, "ExecStart"));
    ASSERT_FALSE(command.empty());
    EXPECT_EQ(command[0], s_prefix->path() + "/bin/quelvar-status");
    EXPECT_EQ(access(command[0].c_str(), X_OK), 0) << command[0];
    EXPECT_EQ(unitSetting(m_unit, "ExecReload"), "/bin/kill -HUP $MAINPID");
    EXPECT_EQ(unitSetting(m_unit, "StateDirectory"), "quelvar-status");
    EXPECT_EQ(m_unit.find("LoadCredential"), std::string::npos)
        << "credentials are copied once at start, so a reload would not see a renewed pair";
}

TEST_F(PackagedUnitTest, SystemdAnalyzeVerifiesTheInstalledUnit) {
    // What systemd-analyze needs to run at all: a trivial unit must pass first.
    TempDir scratch;
    const std::string trivial = scratch.write("quelvar-probe.service",
                                              "[Unit]\nDescription=probe\n[Service]\n"
                                              "ExecStart=/bin/true\n");
    const CommandResult probe = runCommand({"systemd-analyze", "verify", trivial}, {});
    if (probe.status != 0) {
        GTEST_SKIP() << "systemd-analyze cannot run here (exit " << probe.status
                     << "): " << probe.output;
    }
    // Documentation=man:quelvar-status(1) is checked too, against the installed page.
    const CommandResult verified = runCommand({"systemd-analyze", "verify", unitPath()},
                                              {"MANPATH=" + s_prefix->path() + "/share/man"});
    EXPECT_EQ(verified.status, 0) << verified.output;
    EXPECT_EQ(verified.output, "");
}

TEST_F(PackagedUnitTest, ExecStartServesASelfSignedCertificateThenTakesANewPairOnSighup) {
    TempDir run;
    const std::string etc = run.path() + "/etc";
    const std::string state = run.path() + "/state";
    std::filesystem::create_directories(etc);
    // The unit's arguments, with its addresses moved to free loopback ports and its paths
    // into this test's directory; every other argument stays as the unit has it.
    std::vector<std::string> arguments = splitWords(unitSetting(m_unit, "ExecStart"));
    ASSERT_FALSE(arguments.empty());
    arguments.erase(arguments.begin());
    std::map<std::string, int> replaced;
    std::string certFile;
    std::string keyFile;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string option = arguments[i];
        if (option == "${STATE_DIRECTORY}") {
            arguments[i] = state;
            ++replaced[option];
            continue;
        }
        ASSERT_EQ(option.find('$'), std::string::npos) << "unknown substitution " << option;
        if (i + 1 >= arguments.size()) {
            continue;
        }
        if (option == "--listen" || option == "--health-listen") {
            arguments[++i] = "127.0.0.1:0";
            ++replaced[option];
        } else if (option == "--tls-cert" || option == "--tls-key") {
            const std::string moved =
                etc + "/" + std::filesystem::path(arguments[i + 1]).filename().string();
            (option == "--tls-cert" ? certFile : keyFile) = moved;
            arguments[++i] = moved;
            ++replaced[option];
        }
    }
    EXPECT_EQ(replaced, (std::map<std::string, int>{{"${STATE_DIRECTORY}", 1},
                                                    {"--health-listen", 1},
                                                    {"--listen", 1},
                                                    {"--tls-cert", 1},
                                                    {"--tls-key", 1}}));
    ASSERT_FALSE(certFile.empty());
    ASSERT_FALSE(keyFile.empty());

    StatusProcess process(arguments);
    const std::smatch made = process.waitForLine(
        std::regex("^serving the certificate " + escapeForRegex(state) +
                   "/self-signed-cert\\.pem for (\\S+), SHA-256 fingerprint ([0-9A-F:]{95}); it "
                   "is self-signed: Quelvar accepts it, clients that verify certificates refuse "
                   "it$"));
    ASSERT_FALSE(made.empty()) << ::testing::PrintToString(process.lines());
    EXPECT_EQ(made[1].str(), hostName());
    const std::string selfSigned = made[2];
    const std::uint16_t port = process.waitForPort("https");
    ASSERT_NE(port, 0);
    const std::smatch health = process.waitForLine(
        std::regex("health check on http://127\\.0\\.0\\.1:(\\d+)/healthcheck"));
    ASSERT_FALSE(health.empty());

    // At once over TLS, with the certificate the log names, for the host's name; the address
    // policy is on, so a loopback target is refused.
    const TlsExchange first = tlsExchange(port, checkRequest(statusBody("http://127.0.0.1:9/")));
    ASSERT_TRUE(first.handshake);
    EXPECT_EQ(first.fingerprint, selfSigned);
    EXPECT_TRUE(first.selfSigned);
    EXPECT_EQ(first.dnsNames, std::vector<std::string>{hostName()});
    ASSERT_TRUE(first.reply.starts_with("HTTP/1.1 200 ")) << first.reply;
    EXPECT_EQ(replyCode(parseJson(first.reply.substr(first.reply.find("\r\n\r\n") + 4))),
              "EBLOCKED");
    EXPECT_EQ(httpRequest("GET", "http://127.0.0.1:" + health[1].str() + "/healthcheck", "").status,
              200);

    // The real pair arrives (as a certbot deploy hook puts it there) and SIGHUP takes it.
    CertificateSettings realSettings;
    realSettings.commonName = "status.example.test";
    realSettings.dnsNames = {"status.example.test"};
    realSettings.ipAddresses = {};
    const Certificate real = makeCertificate(realSettings);
    {
        std::ofstream(certFile) << real.certPem;
        std::ofstream(keyFile) << real.keyPem;
    }
    process.signal(SIGHUP);
    const std::smatch renewed = process.waitForLine(
        std::regex("^serving the certificate " + escapeForRegex(certFile) +
                   " for status\\.example\\.test, SHA-256 fingerprint ([0-9A-F:]{95})"));
    ASSERT_FALSE(renewed.empty()) << ::testing::PrintToString(process.lines());
    const TlsExchange second = tlsExchange(port);
    EXPECT_EQ(second.fingerprint, renewed[1].str());
    EXPECT_NE(second.fingerprint, selfSigned);
    EXPECT_EQ(second.dnsNames, std::vector<std::string>{"status.example.test"});

    // A key of another certificate: the pair in use stays, and the log says why.
    std::ofstream(keyFile) << makeCertificate(realSettings).keyPem;
    process.signal(SIGHUP);
    EXPECT_FALSE(
        process
            .waitForLine(std::regex("^keeping the certificate in use \\(SHA-256 fingerprint " +
                                    renewed[1].str() + "\\): " + escapeForRegex(certFile) +
                                    ": the key does not belong to the certificate$"))
            .empty())
        << ::testing::PrintToString(process.lines());
    EXPECT_EQ(tlsExchange(port).fingerprint, renewed[1].str());

    process.signal(SIGTERM);
    EXPECT_EQ(process.waitForExit(), 0);
}

}  // namespace
