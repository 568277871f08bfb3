#include "terminal/Console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "text/win32/WideText.h"

namespace quelvar {

namespace {

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

Console::Console() {
    // The C runtime would turn every "\n" into CR LF; the program writes the same bytes as on
    // other systems, which consoles and editors show alike.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);

    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (isConsole(out) || isConsole(GetStdHandle(STD_ERROR_HANDLE))) {
        // The program writes UTF-8; the console shows it as such with this output code page.
        m_savedCodePage = GetConsoleOutputCP();
        SetConsoleOutputCP(CP_UTF8);
    }
    if (isConsole(out) && std::getenv("NO_COLOR") == nullptr) {
        DWORD mode = 0;
        GetConsoleMode(out, &mode);
        m_savedMode = mode;
        // Consoles of Windows 10 and later read ANSI colour sequences in this mode only; older
        // ones refuse it and get no colours.
        m_colour = SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    }
}

Console::~Console() {
    std::fflush(stdout);
    std::fflush(stderr);
    if (m_colour) {
        SetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), m_savedMode);
    }
    if (m_savedCodePage != 0) {
        SetConsoleOutputCP(m_savedCodePage);
    }
}

std::vector<std::string> Console::arguments(int, char*[]) {
    // The C runtime's argv holds the ANSI code page's form of the command line, which loses
    // every character outside it; the wide command line holds them all.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    if (wide == nullptr) {
        return arguments;
    }
    for (int i = 1; i < count; ++i) {
        arguments.push_back(fromWide(wide[i]));
    }
    LocalFree(wide);
    return arguments;
}

}  // namespace quelvar
