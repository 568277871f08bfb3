#include "status/IdnaHost.h"

#include <idn2.h>

#include <algorithm>
#include <cstdlib>

namespace quelvar::status {

std::optional<std::string> toIdnaHost(std::string_view host) {
    if (std::all_of(host.begin(), host.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return std::string(host);
    }
    const std::string input(host);
    if (input.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    // The flags libcurl uses: NFC input, non-transitional processing, and the transitional
    // rules as a fall-back for names only they allow (such as those with symbols).
    char* output = nullptr;
    int result = idn2_to_ascii_8z(input.c_str(), &output, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
    if (result == IDN2_DISALLOWED) {
        result = idn2_to_ascii_8z(input.c_str(), &output, IDN2_NFC_INPUT | IDN2_TRANSITIONAL);
    }
    if (result != IDN2_OK || output == nullptr) {
        idn2_free(output);
        return std::nullopt;
    }
    std::string ascii(output);
    idn2_free(output);
    return ascii;
}

}  // namespace quelvar::status
