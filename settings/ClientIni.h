#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar {

// The optional "quelvar.ini", only read, never written, that names the status service's host
// where Quelvar is installed:
//   [status]
//   host = status.example.org:8443
// The endpoint is the fixed scheme https, the host and the fixed path "/v1/status".
//
// The rules are one copy for every platform: at most 64 KiB of UTF-8, with or without a
// byte-order mark; lines end in LF or CR LF; blanks (space, tab) around a line, a section name,
// a key and a value are ignored; a line whose first character is ";" or "#" is a comment;
// "[name]" opens a section, "key = value" sets a key; section names and keys are compared
// without regard to ASCII case. In [status] only "host" is known, and only once; other
// sections are passed over. Only the file access and the search path are the platform's
// (settings/posix/, settings/win32/).
class ClientIni {
public:
    static constexpr std::string_view kFileName = "quelvar.ini";
    static constexpr std::size_t kMaxSize = 64 * 1024;

    // Returns the places the file is looked for, in order: beside the executable on Windows;
    // beside the executable, $XDG_CONFIG_HOME/quelvar/ (default ~/.config/quelvar/) and
    // /etc/quelvar/ on Linux. Throws quelvar::Error when the executable cannot be found.
    static std::vector<std::filesystem::path> searchPath();
    // Returns the first candidate that is there (whatever it is, so that a directory or a file
    // that cannot be read is found and then fails), or none.
    static std::optional<std::filesystem::path> firstPresent(
        const std::vector<std::filesystem::path>& candidates);
    // Returns the host the file's bytes name; throws quelvar::Error with a message that begins
    // with the file's name (and the line, where there is one) when they are wrong.
    static std::string hostOf(std::string_view fileName, std::string_view bytes);
    // Returns whether the text is a host name, an IPv4 address or a bracketed IPv6 address,
    // with an optional port from 1 to 65535, and nothing else.
    static bool isHost(std::string_view text);
    // Returns the status service's endpoint on a host: "https://" host "/v1/status".
    static std::string statusEndpoint(std::string_view host);

    // Reads the first of the candidates that is there; returns none when none is. Throws
    // quelvar::Error naming the file when it cannot be read or is wrong.
    static std::optional<ClientIni> load(const std::vector<std::filesystem::path>& candidates);

    // The file that was read.
    std::filesystem::path file;
    // The host it names.
    std::string host;
    // The status service's endpoint on that host.
    std::string statusEndpoint() const { return statusEndpoint(host); }
};

}  // namespace quelvar
