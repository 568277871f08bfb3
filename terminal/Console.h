#pragma once

#include <string>
#include <vector>

namespace quelvar {

// What quelvar-check needs of the platform's terminal: its arguments as UTF-8 and output that
// shows UTF-8 text as written. Defined per platform (terminal/posix/Console.cpp,
// terminal/win32/Console.cpp).
class Console {
public:
    // Sets standard output and standard error up for UTF-8 text (on a Windows console, its
    // output code page; redirected, the bytes as written, without line-end translation).
    Console();
    // Puts back what the constructor changed.
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Returns the program's arguments, without its name, as UTF-8 texts.
    static std::vector<std::string> arguments(int argc, char* argv[]);
    // Returns whether standard output is a terminal that shows ANSI colours and the user has
    // not asked for none (NO_COLOR, TERM=dumb).
    bool colourWanted() const { return m_colour; }

private:
    bool m_colour = false;
    unsigned m_savedCodePage = 0;
    unsigned long m_savedMode = 0;
};

}  // namespace quelvar
