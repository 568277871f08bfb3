#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

namespace quelvar::test {

// A running quelvar-status with its stderr read line by line.
class StatusProcess {
public:
    // Starts the program with the arguments and extra "NAME=value" environment entries; throws
    // std::runtime_error when it cannot.
    explicit StatusProcess(std::vector<std::string> arguments,
                           std::vector<std::string> environment = {});
    // Kills the program if it still runs.
    ~StatusProcess();
    StatusProcess(const StatusProcess&) = delete;
    StatusProcess& operator=(const StatusProcess&) = delete;

    // Reads stderr until a line matches; returns the match or an empty result after the wait.
    std::smatch waitForLine(const std::regex& pattern,
                            std::chrono::milliseconds wait = std::chrono::milliseconds(5000));
    // Returns the port of the "listening on <scheme>://ADDR:PORT" line, or 0 when none comes.
    std::uint16_t waitForPort(const char* scheme);
    // Sends the signal to the program.
    void signal(int number);
    // Waits for the exit and returns its status, or -1 when it does not come in time.
    int waitForExit(std::chrono::milliseconds wait = std::chrono::milliseconds(10000));
    // Reads stdout up to its end.
    std::string readStdout();
    // Returns the stderr lines read so far.
    const std::vector<std::string>& lines() const { return m_lines; }

private:
    pid_t m_pid = -1;
    int m_stderr = -1;
    int m_stdout = -1;
    std::string m_buffer;
    std::vector<std::string> m_lines;
};

}  // namespace quelvar::test
