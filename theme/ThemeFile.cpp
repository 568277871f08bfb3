#include "theme/ThemeFile.h"

#include <charconv>

#include "base/Error.h"

namespace quelvar {

std::string readThemeFile(
    std::string_view description,
    const std::function<bool(std::string_view role, std::uint32_t rgb)>& setColour) {
    std::string name;
    while (!description.empty()) {
        const std::size_t end = description.find('\n');
        std::string_view line = description.substr(0, end);
        description =
            end == std::string_view::npos ? std::string_view{} : description.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos) {
            throw Error("Theme line without value: " + std::string(line));
        }
        const std::string_view role = line.substr(0, blank);
        const std::string_view value = line.substr(blank + 1);
        if (role == "name") {
            name = value;
            continue;
        }
        // from_chars takes no sign and no blanks, so exactly six hexadecimal digits pass.
        std::uint32_t rgb = 0;
        if (value.size() != 7 || value.front() != '#' ||
            std::from_chars(value.data() + 1, value.data() + 7, rgb, 16).ptr != value.data() + 7) {
            throw Error("Theme colour is not #rrggbb: " + std::string(line));
        }
        if (!setColour(role, rgb)) {
            throw Error("Unknown theme role: " + std::string(role));
        }
    }
    if (name.empty()) {
        throw Error("Theme without name");
    }
    return name;
}

}  // namespace quelvar
