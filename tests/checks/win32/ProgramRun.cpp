#include <windows.h>

#include <memory>
#include <stdexcept>
#include <thread>

#include "tests/checks/ProgramRun.h"
#include "text/win32/WideText.h"

namespace quelvar::test {

namespace {

// Quotes one argument so that the program's CommandLineToArgvW (and the C runtime) read it
// back unchanged: backslashes count only in front of a quotation mark.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring text = L"\"";
    for (auto it = argument.begin();; ++it) {
        std::size_t backslashes = 0;
        while (it != argument.end() && *it == L'\\') {
            ++it;
            ++backslashes;
        }
        if (it == argument.end()) {
            text.append(backslashes * 2, L'\\');
            break;
        }
        if (*it == L'"') {
            text.append(backslashes * 2 + 1, L'\\');
        } else {
            text.append(backslashes, L'\\');
        }
        text += *it;
    }
    return text + L"\"";
}

struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// Makes a pipe whose write end the child inherits.
void makePipe(Handle& readEnd, Handle& writeEnd) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0)) {
        throw std::runtime_error("CreatePipe failed: " + systemMessage(GetLastError()));
    }
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    readEnd.reset(read);
    writeEnd.reset(write);
}

void drain(HANDLE pipe, std::string& sink) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        sink.append(buffer, got);
    }
}

}  // namespace

ProgramResult runProgram(const std::string& path, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds limit) {
    std::wstring program = toWide(path);
    // A path of the build machine ("/work/...") names the same file on the current drive under
    // Wine, whose drive Z: is the file system's root.
    if (!program.empty() && program.front() == L'/') {
        for (wchar_t& c : program) {
            if (c == L'/') {
                c = L'\\';
            }
        }
    }
    std::wstring commandLine = quoted(program);
    for (const std::string& argument : arguments) {
        commandLine += L" " + quoted(toWide(argument));
    }

    Handle outRead;
    Handle outWrite;
    Handle errRead;
    Handle errWrite;
    makePipe(outRead, outWrite);
    makePipe(errRead, errWrite);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const Handle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inherit, OPEN_EXISTING, 0, nullptr));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = outWrite.get();
    startup.hStdError = errWrite.get();
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
        throw std::runtime_error("cannot start " + path + ": " + systemMessage(GetLastError()));
    }
    const Handle processHandle(process.hProcess);
    CloseHandle(process.hThread);
    // Only the child holds the write ends now, so the reads end when it does.
    outWrite.reset();
    errWrite.reset();

    ProgramResult result;
    std::thread outReader(drain, outRead.get(), std::ref(result.out));
    std::thread errReader(drain, errRead.get(), std::ref(result.err));
    const bool finished = WaitForSingleObject(processHandle.get(),
                                              static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0;
    if (!finished) {
        TerminateProcess(processHandle.get(), 1);
        WaitForSingleObject(processHandle.get(), INFINITE);
    }
    outReader.join();
    errReader.join();
    DWORD exitCode = 0;
    if (finished && GetExitCodeProcess(processHandle.get(), &exitCode)) {
        result.exitStatus = static_cast<int>(exitCode);
    }
    return result;
}

}  // namespace quelvar::test
