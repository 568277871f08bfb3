#include "http/DirectReplyReader.h"

#include <algorithm>
#include <cctype>

#include "base/Error.h"
#include "http/HeaderFields.h"
#include "text/Ascii.h"
#include "text/MediaType.h"

namespace quelvar {

namespace {

constexpr std::size_t kReadSize = 16384;

// Parses a run of hexadecimal digits; nullopt when the text is empty, holds anything else or
// is too long to be a length this client could hold.
std::optional<std::size_t> parseHex(std::string_view text) {
    if (text.empty() || text.size() > 15) {
        return std::nullopt;
    }
    std::size_t value = 0;
    for (const char c : text) {
        const auto digit = static_cast<unsigned char>(c);
        if (!std::isxdigit(digit)) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<std::size_t>(std::isdigit(digit)
                                                          ? digit - '0'
                                                          : std::tolower(digit) - 'a' + 10);
    }
    return value;
}

// Returns the body length the Content-Length headers announce: nothing when there is none or
// none that is a number, and an error when they name different lengths, since the framing of
// the reply is then unknown (RFC 9110 section 8.6; a list of one repeated value is that value).
std::optional<std::size_t> announcedLength(const DirectReplyReader::Headers& headers) {
    std::optional<std::size_t> length;
    bool unreadable = false;
    for (const auto& [name, value] : headers) {
        if (!equalsIgnoringCase(name, "Content-Length")) {
            continue;
        }
        std::string_view rest = value;
        for (;;) {
            const auto comma = rest.find(',');
            const auto parsed = parseDecimal(trimBlanks(rest.substr(0, comma)));
            if (!parsed) {
                unreadable = true;
            } else if (length && *length != *parsed) {
                throw Error("Conflicting Content-Length values.");
            } else {
                length = parsed;
            }
            if (comma == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(comma + 1);
        }
    }
    // A value that is no number beside one that is leaves the length in doubt as well.
    if (length && unreadable) {
        throw Error("Conflicting Content-Length values.");
    }
    return length;
}

// Returns whether the last transfer coding of a Transfer-Encoding value is chunked, which
// decides the framing (RFC 9112 section 6.3).
bool isChunked(std::string_view transferEncoding) {
    const auto comma = transferEncoding.rfind(',');
    const auto last =
        comma == std::string_view::npos ? transferEncoding : transferEncoding.substr(comma + 1);
    return equalsIgnoringCase(trimBlanks(last), "chunked");
}

}  // namespace

DirectReplyReader::DirectReplyReader(ByteSource& source) : m_source(source) {}

DirectReplyReader::Reply DirectReplyReader::read() {
    Reply reply;
    for (;;) {
        std::optional<std::string> statusLine = readLine();
        if (!statusLine) {
            throw Error("Connection Closed Gracefully.");
        }
        reply.statusLine = std::move(*statusLine);
        reply.statusCode = statusCodeOf(reply.statusLine);
        reply.headers = readHeaders();
        // 100 Continue is interim: the real reply follows it on the same connection.
        if (reply.statusCode != 100) {
            break;
        }
    }
    readBody(reply);
    reply.closed = m_closed;
    reply.bodyCut = m_bodyCut;
    return reply;
}

int DirectReplyReader::statusCodeOf(std::string_view statusLine) {
    const auto blank = statusLine.find(' ');
    if (blank == std::string_view::npos) {
        return -1;
    }
    std::string_view code = statusLine.substr(blank + 1);
    code = code.substr(0, code.find(' '));
    code = code.substr(0, code.find('.'));
    bool negative = false;
    if (!code.empty() && (code.front() == '-' || code.front() == '+')) {
        negative = code.front() == '-';
        code.remove_prefix(1);
    }
    if (code.empty() || code.size() > 9) {
        return -1;
    }
    int value = 0;
    for (const char c : code) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

std::optional<std::string> DirectReplyReader::headerValue(const Headers& headers,
                                                          std::string_view name) {
    for (const auto& [headerName, value] : headers) {
        if (equalsIgnoringCase(headerName, name)) {
            return value;
        }
    }
    return std::nullopt;
}

std::optional<std::string> DirectReplyReader::readLine() {
    std::size_t scanned = 0;
    for (;;) {
        const std::string_view rest = pending();
        const auto lineFeed = rest.find('\n', scanned);
        std::string line;
        if (lineFeed != std::string_view::npos) {
            line.assign(rest.substr(0, lineFeed));
            consume(lineFeed + 1);
        } else {
            // A line already past the limit fails now instead of being buffered to its end
            // (one byte more is allowed for the CR of the line break).
            if (rest.size() > kMaxLineLength + 1) {
                throw Error("Max line length exceeded.");
            }
            scanned = rest.size();
            if (fill()) {
                continue;
            }
            // The peer closed: a started line is the last one, none at all means no line.
            if (pending().empty()) {
                return std::nullopt;
            }
            line.assign(pending());
            consume(pending().size());
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.size() > kMaxLineLength) {
            throw Error("Max line length exceeded.");
        }
        return line;
    }
}

DirectReplyReader::Headers DirectReplyReader::readHeaders() {
    Headers headers;
    std::size_t count = 0;
    for (;;) {
        // A close among the headers ends them; the reply is judged by what arrived.
        const std::optional<std::string> line = readLine();
        if (!line || line->empty()) {
            return headers;
        }
        if (++count > kMaxHeaderLines) {
            throw Error("Too many header lines.");
        }
        // Obsolete line folding (RFC 9112 section 5.2) continues the previous value.
        if ((line->front() == ' ' || line->front() == '\t') && !headers.empty()) {
            std::string& value = headers.back().second;
            if (!value.empty()) {
                value += ' ';
            }
            value += trimBlanks(*line);
            continue;
        }
        if (auto field = splitHeaderLine(*line)) {
            headers.push_back(std::move(*field));
        }
    }
}

void DirectReplyReader::readBody(Reply& reply) {
    const int code = reply.statusCode;
    // 1xx, 204 and 304 end at their headers (RFC 9112 section 6.3).
    if (code == 204 || code == 304 || (code >= 100 && code < 200)) {
        return;
    }
    if (const auto encoding = headerValue(reply.headers, "Transfer-Encoding");
        encoding && isChunked(*encoding)) {
        readChunked(reply.body);
        return;
    }
    if (const auto length = announcedLength(reply.headers)) {
        readExactly(*length, reply.body);
        return;
    }
    if (const auto contentType = headerValue(reply.headers, "Content-Type")) {
        const MediaType mediaType(*contentType);
        const std::string boundary = mediaType.parameter("boundary").value_or(std::string());
        if (mediaType.typeStartsWith("multipart/") && !boundary.empty()) {
            readMultipart(boundary, reply.body);
            return;
        }
    }
    readUntilClose(reply.body);
}

void DirectReplyReader::readChunked(std::string& body) {
    for (;;) {
        const std::optional<std::string> sizeLine = readLine();
        if (!sizeLine) {
            return;
        }
        // Chunk extensions after ";" carry nothing this client uses. A size that cannot be
        // read ends the body like a close would: what arrived is kept.
        const std::string_view sizeText = *sizeLine;
        const auto size = parseHex(trimBlanks(sizeText.substr(0, sizeText.find(';'))));
        if (!size) {
            return;
        }
        if (*size == 0) {
            readHeaders();  // trailer fields, not used
            return;
        }
        readExactly(*size, body);
        if (m_bodyCut || !readLine()) {  // the line break after the chunk data
            return;
        }
    }
}

void DirectReplyReader::readExactly(std::size_t length, std::string& body) {
    while (length > 0) {
        if (pending().empty() && !fill()) {
            return;
        }
        const std::size_t take = std::min(length, pending().size());
        const bool kept = keep(body, pending().substr(0, take));
        consume(take);
        length -= take;
        if (!kept) {
            return;
        }
    }
}

void DirectReplyReader::readMultipart(std::string_view boundary, std::string& body) {
    // The body ends with the close delimiter "--boundary--" at the start of a line
    // (RFC 2046 section 5.1.1); what follows it, its line break included, is epilogue and
    // stays unread, so a server that keeps the connection open is not waited for.
    const std::string delimiter = "--" + std::string(boundary) + "--";
    std::size_t searchFrom = 0;
    for (;;) {
        const bool kept = keep(body, pending());
        consume(pending().size());
        for (auto at = body.find(delimiter, searchFrom); at != std::string::npos;
             at = body.find(delimiter, at + 1)) {
            if (at != 0 && body[at - 1] != '\n') {
                continue;
            }
            const std::size_t end = at + delimiter.size();
            m_buffer.assign(body, end);
            m_position = 0;
            body.resize(end);
            return;
        }
        searchFrom = body.size() > delimiter.size() ? body.size() - delimiter.size() : 0;
        if (!kept || !fill()) {
            return;
        }
    }
}

void DirectReplyReader::readUntilClose(std::string& body) {
    do {
        const bool kept = keep(body, pending());
        consume(pending().size());
        if (!kept) {
            return;
        }
    } while (fill());
}

// Appends what fits within kMaxBodyBytes; returns false, marking the body cut, when bytes
// beyond it arrived.
bool DirectReplyReader::keep(std::string& body, std::string_view data) {
    const std::size_t room = kMaxBodyBytes - body.size();
    if (data.size() <= room) {
        body.append(data);
        return true;
    }
    body.append(data.substr(0, room));
    m_bodyCut = true;
    return false;
}

bool DirectReplyReader::fill() {
    if (m_closed) {
        return false;
    }
    m_buffer.erase(0, m_position);
    m_position = 0;
    char chunk[kReadSize];
    const std::size_t n = m_source.read(chunk, sizeof chunk);
    if (n == 0) {
        m_closed = true;
        return false;
    }
    m_buffer.append(chunk, n);
    return true;
}

std::string_view DirectReplyReader::pending() const {
    return std::string_view(m_buffer).substr(m_position);
}

void DirectReplyReader::consume(std::size_t count) {
    m_position += count;
}

}  // namespace quelvar
