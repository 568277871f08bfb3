// Feeds arbitrary bytes to the reply mapping; only quelvar::Error may leave it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/Error.h"
#include "checks/ReplyMapping.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        quelvar::converterRetornoExterno(
            std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const quelvar::Error&) {
    }
    return 0;
}
