#include "settings/SystemText.h"

namespace quelvar {

std::string trimmedSystemText(std::string text) {
    while (!text.empty()) {
        const char last = text.back();
        if (last != ' ' && last != '\t' && last != '\r' && last != '\n' && last != '.') {
            break;
        }
        text.pop_back();
    }
    return text;
}

std::string cannotOpenMessage(const std::string& pathText, std::string systemText) {
    return "Cannot open file \"" + pathText + "\". " + trimmedSystemText(std::move(systemText));
}

}  // namespace quelvar
