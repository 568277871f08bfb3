// Feeds arbitrary bytes to the direct profile's reply reader as if a server had sent them, and
// decodes the body that results. The first input byte sets how many bytes each read returns,
// so that lines, chunks and boundaries also arrive split at every place.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/Error.h"
#include "http/ByteSource.h"
#include "http/DirectBodyDecoder.h"
#include "http/DirectReplyReader.h"

namespace {

// A byte source over a memory buffer that hands out at most a fixed number of bytes per read
// and then reports the close.
class MemorySource : public quelvar::ByteSource {
public:
    MemorySource(std::string_view data, std::size_t piece) : m_data(data), m_piece(piece) {}

    std::size_t read(char* buffer, std::size_t size) override {
        const std::size_t n = std::min({size, m_piece, m_data.size()});
        std::memcpy(buffer, m_data.data(), n);
        m_data.remove_prefix(n);
        return n;
    }

private:
    std::string_view m_data;
    std::size_t m_piece;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t piece = data[0] == 0 ? 16384 : data[0];
    MemorySource source(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), piece);
    quelvar::DirectReplyReader reader(source);
    try {
        const quelvar::DirectReplyReader::Reply reply = reader.read();
        const auto contentType =
            quelvar::DirectReplyReader::headerValue(reply.headers, "Content-Type");
        quelvar::DirectBodyDecoder::text(contentType.value_or(""), reply.body);
    } catch (const quelvar::Error&) {
        // Malformed replies fail with an Error; anything else is a finding.
    }
    return 0;
}
