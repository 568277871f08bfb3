#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quelvar {

// Holds the last final reply of a RestRequest execution: status, headers, raw body and the
// body decoded to text (UTF-8).
class RestResponse {
public:
    // Returns the status code of the last reply (0 before any reply).
    int statusCode() const { return m_statusCode; }
    // Returns the reason phrase of the last reply.
    const std::string& statusText() const { return m_statusText; }
    // Returns the reply body decoded to UTF-8 text by its charset.
    const std::string& content() const { return m_content; }
    // Returns the media type of the reply (the Content-Type header as sent).
    const std::string& contentType() const { return m_contentType; }
    // Returns the Content-Encoding header of the reply.
    const std::string& contentEncoding() const { return m_contentEncoding; }
    // Returns the Server header of the reply.
    const std::string& server() const { return m_server; }
    // Returns every reply header as "name=value", in the order received.
    const std::vector<std::string>& headers() const { return m_headers; }
    // Returns the body bytes as received, before any decompression.
    const std::string& rawBytes() const { return m_rawBytes; }
    // Returns the full URL of the request that produced this reply.
    const std::string& fullRequestURL() const { return m_fullRequestURL; }

    // Replaces everything held with a new final reply.
    void assign(int statusCode, std::string statusText, std::string content,
                std::string contentType, std::string contentEncoding, std::string server,
                std::vector<std::string> headers, std::string rawBytes,
                std::string fullRequestURL) {
        m_statusCode = statusCode;
        m_statusText = std::move(statusText);
        m_content = std::move(content);
        m_contentType = std::move(contentType);
        m_contentEncoding = std::move(contentEncoding);
        m_server = std::move(server);
        m_headers = std::move(headers);
        m_rawBytes = std::move(rawBytes);
        m_fullRequestURL = std::move(fullRequestURL);
    }

private:
    int m_statusCode = 0;
    std::string m_statusText;
    std::string m_content;
    std::string m_contentType;
    std::string m_contentEncoding;
    std::string m_server;
    std::vector<std::string> m_headers;
    std::string m_rawBytes;
    std::string m_fullRequestURL;
};

}  // namespace quelvar
