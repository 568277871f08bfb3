#include "settings/MarkerRules.h"

#include <cstddef>
#include <string>

#include "settings/SettingsTarget.h"

namespace quelvar {

namespace {

constexpr std::u16string_view kUsaHttpsMarker = u"const USA_HTTPS = ";
constexpr std::u16string_view kIpExternoMarker = u"const IP_EXTERNO = ";
constexpr std::u16string_view kIpInternoMarker = u"const IP_INTERNO = ";

// Returns count code units from the 1-based position start, or the empty text when the count
// is not positive or the start lies beyond the line.
std::u16string cut(std::u16string_view line, std::ptrdiff_t start, std::ptrdiff_t count) {
    const auto size = static_cast<std::ptrdiff_t>(line.size());
    if (count <= 0 || start > size) {
        return {};
    }
    return std::u16string(
        line.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count)));
}

}  // namespace

void applyMarkers(std::u16string_view line, SettingsTarget& target) {
    const auto n = static_cast<std::ptrdiff_t>(line.size());
    // Every marker holds an "=", so e exists whenever a marker is found; it is the first "="
    // of the whole line, wherever the marker stands.
    const auto e = [line] { return static_cast<std::ptrdiff_t>(line.find(u'=')) + 1; };
    if (line.find(kUsaHttpsMarker) != std::u16string_view::npos) {
        target.setUsaHttps(cut(line, e() + 2, n - e() - 2) == u"true");
    }
    if (line.find(kIpExternoMarker) != std::u16string_view::npos) {
        target.setIpExterno(cut(line, e() + 3, n - e() - 4));
    }
    if (line.find(kIpInternoMarker) != std::u16string_view::npos) {
        target.setIpInterno(cut(line, e() + 3, n - e() - 4));
    }
}

}  // namespace quelvar
