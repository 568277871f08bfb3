#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace quelvar::test {

// What a finished program left: its exit status (-1 when a signal ended it) and everything it
// wrote to standard output and standard error.
struct ProgramResult {
    int exitStatus = -1;
    std::string out;
    std::string err;
};

// Runs a program with the arguments, standard input empty, and waits for it; kills it when it
// runs longer than the limit. Throws std::runtime_error when it cannot be started.
ProgramResult runProgram(const std::string& path, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds limit);

}  // namespace quelvar::test
