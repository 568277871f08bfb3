#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace quelvar {

// Reads config.js beside the executable into the API tab's controls, named as in the form:
// calls setText with a field's name and its new text (UTF-16) and setChecked with the HTTPS
// box's name and its state, in the file's order. Throws Error with the reader's message when
// the file cannot be opened or decoded.
void readApiTabSettings(
    const std::function<void(std::string_view field, const std::u16string& text)>& setText,
    const std::function<void(std::string_view box, bool checked)>& setChecked);

}  // namespace quelvar
