#include "settings/ClientIni.h"

#include <system_error>

#include "base/Error.h"
#include "settings/SharedFile.h"
#include "text/Ascii.h"
#include "text/Utf8.h"

namespace quelvar {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kStatusSection = "status";
constexpr std::string_view kHostKey = "host";

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isLetterOrDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool allDigits(std::string_view text) {
    for (const char c : text) {
        if (!isDigit(c)) {
            return false;
        }
    }
    return !text.empty();
}

// A decimal number without leading zeros from 1 to 65535.
bool isPort(std::string_view text) {
    if (!allDigits(text) || text.size() > 5 || text.front() == '0') {
        return false;
    }
    unsigned value = 0;
    for (const char c : text) {
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= 65535;
}

// Four decimal parts from 0 to 255 without leading zeros, which some resolvers read as octal.
bool isIpv4(std::string_view text) {
    int parts = 0;
    while (true) {
        const std::size_t dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        if (!allDigits(part) || part.size() > 3 || (part.size() > 1 && part.front() == '0')) {
            return false;
        }
        unsigned value = 0;
        for (const char c : part) {
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (value > 255) {
            return false;
        }
        ++parts;
        if (dot == std::string_view::npos) {
            break;
        }
        text.remove_prefix(dot + 1);
    }
    return parts == 4;
}

// RFC 4291 section 2.2: eight groups of up to four hexadecimal digits, one run of zero groups
// written "::", the last two groups optionally as an IPv4 address. Zone identifiers are not
// taken: they name an interface of one machine.
bool isIpv6(std::string_view text) {
    int groups = 0;
    bool compressed = false;
    if (text.starts_with("::")) {
        compressed = true;
        text.remove_prefix(2);
        if (text.empty()) {
            return true;
        }
    } else if (text.empty() || text.front() == ':') {
        return false;
    }
    while (true) {
        const std::size_t colon = text.find(':');
        const std::string_view group = text.substr(0, colon);
        if (colon == std::string_view::npos && group.find('.') != std::string_view::npos) {
            if (!isIpv4(group)) {
                return false;
            }
            groups += 2;
            break;
        }
        if (group.empty() || group.size() > 4) {
            return false;
        }
        for (const char c : group) {
            if (!isHexDigit(c)) {
                return false;
            }
        }
        ++groups;
        if (colon == std::string_view::npos) {
            break;
        }
        text.remove_prefix(colon + 1);
        if (text.starts_with(":")) {
            if (compressed) {
                return false;
            }
            compressed = true;
            text.remove_prefix(1);
            if (text.empty()) {
                break;
            }
        } else if (text.empty()) {
            return false;
        }
    }
    return compressed ? groups < 8 : groups == 8;
}

// RFC 1123 section 2.1: labels of letters, digits and hyphens, one to 63 characters, neither
// beginning nor ending in a hyphen, 253 characters in all. A name whose last label is all
// digits must be an IPv4 address (RFC 3696 section 2), so "10.0.0.300" is refused.
bool isHostName(std::string_view text) {
    if (text.empty() || text.size() > 253) {
        return false;
    }
    const std::size_t lastDot = text.rfind('.');
    const std::string_view lastLabel =
        lastDot == std::string_view::npos ? text : text.substr(lastDot + 1);
    if (allDigits(lastLabel)) {
        return isIpv4(text);
    }
    std::string_view rest = text;
    while (true) {
        const std::size_t dot = rest.find('.');
        const std::string_view label = rest.substr(0, dot);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
            return false;
        }
        for (const char c : label) {
            if (!isLetterOrDigit(c) && c != '-') {
                return false;
            }
        }
        if (dot == std::string_view::npos) {
            return true;
        }
        rest.remove_prefix(dot + 1);
    }
}

std::string utf8Name(const std::filesystem::path& path) {
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
}

// The message prefix of a line: the file's name and the line's number.
std::string at(std::string_view fileName, int line) {
    return std::string(fileName) + ", line " + std::to_string(line) + ": ";
}

}  // namespace

std::optional<std::filesystem::path> ClientIni::firstPresent(
    const std::vector<std::filesystem::path>& candidates) {
    for (const std::filesystem::path& candidate : candidates) {
        // A status that cannot be had (no search permission on a directory above) counts as
        // there: the read then fails with the system's reason, rather than the next place
        // being read without a word.
        std::error_code error;
        const std::filesystem::file_status status = std::filesystem::status(candidate, error);
        if (status.type() != std::filesystem::file_type::not_found) {
            return candidate;
        }
    }
    return std::nullopt;
}

bool ClientIni::isHost(std::string_view text) {
    if (text.starts_with("[")) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || !isIpv6(text.substr(1, close - 1))) {
            return false;
        }
        const std::string_view rest = text.substr(close + 1);
        return rest.empty() || (rest.front() == ':' && isPort(rest.substr(1)));
    }
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos && !isPort(text.substr(colon + 1))) {
        return false;
    }
    return isHostName(text.substr(0, colon));
}

std::string ClientIni::statusEndpoint(std::string_view host) {
    return "https://" + std::string(host) + "/v1/status";
}

std::string ClientIni::hostOf(std::string_view fileName, std::string_view bytes) {
    if (bytes.size() > kMaxSize) {
        throw Error(std::string(fileName) + ": larger than 64 KiB");
    }
    if (bytes.starts_with(kByteOrderMark)) {
        bytes.remove_prefix(kByteOrderMark.size());
    }
    bool inSection = false;
    bool inStatus = false;
    int hostLine = 0;
    std::string host;
    int number = 0;
    while (!bytes.empty()) {
        ++number;
        const std::size_t end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (line.find('\0') != std::string_view::npos) {
            throw Error(at(fileName, number) + "holds a NUL byte");
        }
        if (!isValidUtf8(line)) {
            throw Error(at(fileName, number) + "not UTF-8 text");
        }
        const std::string_view text = trimBlanks(line);
        if (text.empty() || text.front() == ';' || text.front() == '#') {
            continue;
        }
        if (text.front() == '[') {
            const std::string_view name =
                text.back() == ']' ? trimBlanks(text.substr(1, text.size() - 2)) : "";
            if (name.empty()) {
                throw Error(at(fileName, number) + "not a [section] line");
            }
            inSection = true;
            inStatus = equalsIgnoringCase(name, kStatusSection);
            continue;
        }
        const std::size_t equals = text.find('=');
        const std::string_view key =
            trimBlanks(text.substr(0, equals == std::string_view::npos ? 0 : equals));
        if (key.empty()) {
            throw Error(at(fileName, number) + "not a \"key = value\" line");
        }
        if (!inSection) {
            throw Error(at(fileName, number) + "\"" + std::string(key) +
                        "\" stands outside any section; put it under [status]");
        }
        if (!inStatus) {
            continue;
        }
        if (!equalsIgnoringCase(key, kHostKey)) {
            throw Error(at(fileName, number) + "unknown key \"" + std::string(key) +
                        "\" in [status]");
        }
        if (hostLine != 0) {
            throw Error(at(fileName, number) + "host given twice (first on line " +
                        std::to_string(hostLine) + ")");
        }
        hostLine = number;
        const std::string_view value = trimBlanks(text.substr(equals + 1));
        if (value.empty()) {
            throw Error(at(fileName, number) +
                        "host is empty; write the host and an optional port");
        }
        if (!isHost(value)) {
            throw Error(at(fileName, number) + "\"" + std::string(value) +
                        "\" is not a host; write only the host and an optional port");
        }
        host = value;
    }
    if (hostLine == 0) {
        throw Error(std::string(fileName) + ": no host in [status]");
    }
    return host;
}

std::optional<ClientIni> ClientIni::load(const std::vector<std::filesystem::path>& candidates) {
    const std::optional<std::filesystem::path> found = firstPresent(candidates);
    if (!found) {
        return std::nullopt;
    }
    const std::string name = utf8Name(*found);
    std::string bytes;
    try {
        // One byte past the limit tells a file over it from one that fills it.
        bytes = readSharedFile(*found, kMaxSize + 1);
    } catch (const Error& error) {
        const std::string message = error.what();
        // The open's message names the file already; a read's is the system's text alone.
        if (message.find(name) != std::string::npos) {
            throw;
        }
        throw Error(name + ": cannot be read: " + message);
    }
    ClientIni ini;
    ini.file = *found;
    ini.host = hostOf(name, bytes);
    return ini;
}

}  // namespace quelvar
