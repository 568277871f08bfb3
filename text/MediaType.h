#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quelvar {

// A Content-Type value taken apart: the media type before the first ";" and the
// "name=value" parameters after it (RFC 9110 section 8.3.1). Parameters are split at every
// ";", as the profiles have always read them; a parameter without "=" is passed over.
class MediaType {
public:
    // Splits a Content-Type value; never fails.
    explicit MediaType(std::string_view contentType);

    // Returns the media type without blanks, in lower case ("application/json").
    const std::string& type() const { return m_type; }
    // Returns the value of the first parameter of that name (compared without regard to
    // case): trimmed of blanks, then freed of enclosing single quotes, then of enclosing
    // double quotes. Returns nothing when the value holds no such parameter.
    std::optional<std::string> parameter(std::string_view name) const;

    // Returns whether the type begins with the text (given in lower case), as "multipart/"
    // or "image" do.
    bool typeStartsWith(std::string_view prefix) const { return m_type.starts_with(prefix); }

private:
    std::string m_type;
    std::vector<std::pair<std::string, std::string>> m_parameters;
};

}  // namespace quelvar
