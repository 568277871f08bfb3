#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/ByteSource.h"

namespace quelvar {

// Reads one HTTP/1.1 reply of a direct GET from a byte source: the status line and headers
// (skipping interim 100 replies), then the body by its framing.
class DirectReplyReader {
public:
    static constexpr std::size_t kMaxLineLength = 16384;
    static constexpr std::size_t kMaxHeaderLines = 1000;

    using Headers = std::vector<std::pair<std::string, std::string>>;

    struct Reply {
        std::string statusLine;
        int statusCode = -1;
        Headers headers;
        std::string body;
        // Whether the peer closed the connection while the reply was read.
        bool closed = false;
    };

    explicit DirectReplyReader(ByteSource& source);

    // Reads the final reply. Throws Error "Connection Closed Gracefully." when the peer closes
    // before a status line, "Max line length exceeded." for a status, header or chunk line of
    // more than kMaxLineLength bytes, "Too many header lines." for more than kMaxHeaderLines
    // header lines, and the source's error when reading fails.
    Reply read();

    // Returns the status code of a status line: the number after the first blank, up to the
    // next blank or "."; -1 when that is no number.
    static int statusCodeOf(std::string_view statusLine);
    // Returns the value of the first header of that name (compared without regard to case).
    static std::optional<std::string> headerValue(const Headers& headers, std::string_view name);

private:
    std::optional<std::string> readLine();
    Headers readHeaders();
    void readBody(Reply& reply);
    void readChunked(std::string& body);
    void readExactly(std::size_t length, std::string& body);
    void readMultipart(std::string_view boundary, std::string& body);
    void readUntilClose(std::string& body);
    bool fill();
    std::string_view pending() const;
    void consume(std::size_t count);

    ByteSource& m_source;
    std::string m_buffer;
    std::size_t m_position = 0;
    bool m_closed = false;
};

}  // namespace quelvar
