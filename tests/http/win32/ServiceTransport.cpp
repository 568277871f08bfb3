#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "tests/fixtures/Wine.h"
#include "tests/http/ServiceTransport.h"
#include "tests/http/win32/InternetSettings.h"

namespace quelvar::test {

namespace {

constexpr const wchar_t* kConnectionsKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
constexpr const wchar_t* kSettingsValue = L"DefaultConnectionSettings";
constexpr const char* kSavedKey = "DefaultConnectionSettings";

void appendDword(std::string& bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

void appendText(std::string& bytes, const std::string& text) {
    appendDword(bytes, static_cast<std::uint32_t>(text.size()));
    bytes += text;
}

}  // namespace

std::string InternetSettings::encoded() const {
    // The layout Windows writes: version 0x46, a counter, the flags, then the proxy list, the
    // bypass list and the script address, each with its length in front.
    std::string bytes;
    appendDword(bytes, 0x46);
    appendDword(bytes, 1);
    appendDword(bytes, flags);
    appendText(bytes, proxy);
    appendText(bytes, bypass);
    appendText(bytes, scriptUrl);
    bytes.append(32, '\0');
    return bytes;
}

std::optional<std::string> readConnectionSettings() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kConnectionsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD size = 0;
    DWORD type = 0;
    std::optional<std::string> value;
    if (RegQueryValueExW(key, kSettingsValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::string bytes(size, '\0');
        if (RegQueryValueExW(key, kSettingsValue, nullptr, &type,
                             reinterpret_cast<BYTE*>(bytes.data()), &size) == ERROR_SUCCESS) {
            bytes.resize(size);
            value = bytes;
        }
    }
    RegCloseKey(key);
    return value;
}

void writeConnectionSettings(const std::optional<std::string>& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kConnectionsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot open the Internet Settings key");
    }
    LONG result = ERROR_SUCCESS;
    if (value) {
        result = RegSetValueExW(key, kSettingsValue, 0, REG_BINARY,
                                reinterpret_cast<const BYTE*>(value->data()),
                                static_cast<DWORD>(value->size()));
    } else {
        result = RegDeleteValueW(key, kSettingsValue);
        if (result == ERROR_FILE_NOT_FOUND) {
            result = ERROR_SUCCESS;
        }
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        throw std::runtime_error("cannot write the Internet Settings value");
    }
}

std::string transportFailure(TransportFailure failure) {
    switch (failure) {
        case TransportFailure::ConnectionRefused:
            return "Error sending data: (12029) A connection with the server could not be "
                   "established";
        case TransportFailure::ResetBeforeReply:
            return "Error receiving data: (12030) The connection with the server was "
                   "terminated abnormally";
        case TransportFailure::ClosedBeforeReply:
            return "Error receiving data: (12152) The server returned an invalid or "
                   "unrecognized response";
        case TransportFailure::NoHttpReply:
            return "Error receiving data: (12152) The server returned an invalid or "
                   "unrecognized response";
        case TransportFailure::ClosedWithinBody:
            return "Error reading data: (12030) The connection with the server was terminated "
                   "abnormally";
        case TransportFailure::BadContentCoding:
            return "Error reading data: (12152) The server returned an invalid or unrecognized "
                   "response";
        case TransportFailure::SilentServer:
            return "Error receiving data: (12002) The operation timed out";
        case TransportFailure::StalledBody:
            return "Error reading data: (12002) The operation timed out";
        case TransportFailure::SilentTlsHandshake:
            // Wine's WinHTTP reports every failed handshake as a secure channel error.
            if (runsUnderWine()) {
                return "Error sending data: (12157) An error occurred in the secure channel "
                       "support";
            }
            return "Error sending data: (12002) The operation timed out";
        case TransportFailure::DeadlineBeforeReply:
            return "Error receiving data: (12002) The operation timed out";
        case TransportFailure::DeadlineWithinBody:
            return "Error reading data: (12002) The operation timed out";
        case TransportFailure::BodyTooLarge:
            return "Error reading data: (12184) The response exceeds an internal WinHTTP size "
                   "limit";
    }
    return {};
}

std::string interimReplyFailure() {
    // Wine's WinHTTP takes the interim reply for the final one and fails on what follows it;
    // Windows reads on to the final reply.
    if (runsUnderWine()) {
        return "REST request failed: Error receiving data: (12152) The server returned an "
               "invalid or unrecognized response";
    }
    return {};
}

bool checksCertificateInHandshake() {
    return false;
}

std::optional<std::string> ansiCodePageFormOfCafe() {
    if (GetACP() == 1252) {
        return "caf\xE9";
    }
    return std::nullopt;
}

std::vector<std::string> transportHeaders() {
    // WinHTTP keeps the session's connections open for later requests and says so.
    return {"Connection: Keep-Alive"};
}

std::string wireForm(const std::string& request) {
    // WinHTTP writes the headers in an order of its own, which differs between Windows and
    // Wine: the comparison is of the request line, the set of header lines and the body.
    const auto headEnd = request.find("\r\n\r\n");
    const std::string head = request.substr(0, headEnd);
    const std::string body = headEnd == std::string::npos ? "" : request.substr(headEnd + 4);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= head.size()) {
        const auto end = head.find("\r\n", start);
        lines.push_back(head.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 2;
    }
    const std::string requestLine = lines.empty() ? "" : lines.front();
    std::vector<std::string> headers(lines.empty() ? lines.end() : lines.begin() + 1, lines.end());
    const std::vector<std::string> added = transportHeaders();
    std::erase_if(headers, [&added](const std::string& line) {
        return std::find(added.begin(), added.end(), line) != added.end();
    });
    std::sort(headers.begin(), headers.end());
    std::string form = requestLine + "\r\n";
    for (const std::string& line : headers) {
        form += line + "\r\n";
    }
    return form + "\r\n" + body;
}

UserProxyIsolation::UserProxyIsolation() {
    if (const auto saved = readConnectionSettings()) {
        m_saved[kSavedKey] = *saved;
        m_hadSaved = true;
    }
    // Direct connections only, as a machine without proxy settings has them.
    InternetSettings direct;
    writeConnectionSettings(direct.encoded());
}

UserProxyIsolation::~UserProxyIsolation() {
    try {
        writeConnectionSettings(m_hadSaved ? std::optional<std::string>(m_saved[kSavedKey])
                                           : std::nullopt);
    } catch (const std::exception&) {
        // The prefix is the test run's own; nothing else reads the value.
    }
}

}  // namespace quelvar::test
