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
    // Body bytes kept of one reply. The direct probe judges only the status, so a longer body
    // is left unread rather than held in memory or waited for.
    static constexpr std::size_t kMaxBodyBytes = 16 * 1024 * 1024;

    using Headers = std::vector<std::pair<std::string, std::string>>;

    struct Reply {
        std::string statusLine;
        int statusCode = -1;
        Headers headers;
        std::string body;
        // Whether the peer closed the connection while the reply was read.
        bool closed = false;
        // Whether the body reached kMaxBodyBytes and the rest was left unread, so that the
        // connection can serve no further reply.
        bool bodyCut = false;
    };

    explicit DirectReplyReader(ByteSource& source);

    // Reads the final reply. Throws Error "Connection Closed Gracefully." when the peer closes
    // before a status line, "Max line length exceeded." for a status, header or chunk line of
    // more than kMaxLineLength bytes, "Too many header lines." for more than kMaxHeaderLines
    // header lines, "Conflicting Content-Length values." when the Content-Length headers that
    // frame the body disagree, and the source's error when reading fails. A body is kept up to
    // kMaxBodyBytes; reading stops there.
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
    bool keep(std::string& body, std::string_view data);
    bool fill();
    std::string_view pending() const;
    void consume(std::size_t count);

    ByteSource& m_source;
    std::string m_buffer;
    std::size_t m_position = 0;
    bool m_closed = false;
    bool m_bodyCut = false;
};

}  // namespace quelvar
