#include "http/CharsetConversion.h"

#include <iconv.h>

#include <cerrno>
#include <memory>

namespace quelvar {

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

struct IconvCloser {
    void operator()(void* descriptor) const { iconv_close(static_cast<iconv_t>(descriptor)); }
};

}  // namespace

std::optional<std::string> convertToUtf8(std::string_view bytes, const std::string& charset) {
    const iconv_t descriptor = iconv_open("UTF-8", charset.c_str());
    if (descriptor == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    const std::unique_ptr<void, IconvCloser> guard(descriptor);
    std::string output;
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buffer[16384];
    while (inLeft > 0) {
        char* out = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = iconv(descriptor, &in, &inLeft, &out, &outLeft);
        const int error = errno;
        output.append(buffer, sizeof buffer - outLeft);
        if (result == static_cast<std::size_t>(-1) && error != E2BIG) {
            output += kReplacementCharacter;
            ++in;
            --inLeft;
            iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
        }
    }
    // Stateful encodings may still owe the bytes that return them to their initial state.
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(descriptor, nullptr, nullptr, &out, &outLeft);
    output.append(buffer, sizeof buffer - outLeft);
    return output;
}

}  // namespace quelvar
