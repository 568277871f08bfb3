#include "tests/status/StatusProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace quelvar::test {

StatusProcess::StatusProcess(std::vector<std::string> arguments,
                             std::vector<std::string> environment) {
    int err[2];
    int out[2];
    if (pipe(err) != 0 || pipe(out) != 0) {
        throw std::runtime_error("pipe failed");
    }
    m_pid = fork();
    if (m_pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(err[0]);
        close(out[0]);
        for (std::string& e : environment) {
            putenv(e.data());
        }
        std::vector<char*> argv{const_cast<char*>(QUELVAR_STATUS_BINARY)};
        for (std::string& a : arguments) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(err[1]);
    close(out[1]);
    m_stderr = err[0];
    m_stdout = out[0];
    if (m_pid < 0) {
        throw std::runtime_error("fork failed");
    }
}

StatusProcess::~StatusProcess() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    close(m_stderr);
    close(m_stdout);
}

std::smatch StatusProcess::waitForLine(const std::regex& pattern, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        std::size_t end;
        while ((end = m_buffer.find('\n')) != std::string::npos) {
            m_lines.push_back(m_buffer.substr(0, end));
            m_buffer.erase(0, end + 1);
            std::smatch match;
            if (std::regex_search(m_lines.back(), match, pattern)) {
                return match;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{m_stderr, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) != 1) {
            return {};
        }
        char chunk[4096];
        const ssize_t n = read(m_stderr, chunk, sizeof chunk);
        if (n <= 0) {
            return {};
        }
        m_buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

std::uint16_t StatusProcess::waitForPort(const char* scheme) {
    // The address is "127.0.0.1" or "[::]"; the port follows its last colon.
    const std::smatch match =
        waitForLine(std::regex(std::string("listening on ") + scheme + "://\\S+:(\\d+)$"));
    return match.empty() ? 0 : static_cast<std::uint16_t>(std::stoi(match[1]));
}

void StatusProcess::signal(int number) {
    kill(m_pid, number);
}

int StatusProcess::waitForExit(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

std::string StatusProcess::readStdout() {
    std::string text;
    char chunk[4096];
    ssize_t n;
    while ((n = read(m_stdout, chunk, sizeof chunk)) > 0) {
        text.append(chunk, static_cast<std::size_t>(n));
    }
    return text;
}

}  // namespace quelvar::test
