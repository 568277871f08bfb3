#include "terminal/Console.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace quelvar {

Console::Console() {
    const char* term = std::getenv("TERM");
    m_colour = ::isatty(STDOUT_FILENO) == 1 && std::getenv("NO_COLOR") == nullptr &&
               !(term != nullptr && std::strcmp(term, "dumb") == 0);
}

Console::~Console() = default;

std::vector<std::string> Console::arguments(int argc, char* argv[]) {
    // Byte for byte: the fields are UTF-8 text.
    return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace quelvar
