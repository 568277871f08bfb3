#pragma once

#include <string>

namespace quelvar {

// What the settings file fills: the API tab's HTTPS box and its two address fields. The texts
// are UTF-16, as the reader holds its lines; a front end converts them for its controls.
class SettingsTarget {
public:
    virtual ~SettingsTarget() = default;
    // Ticks or unticks the HTTPS box.
    virtual void setUsaHttps(bool checked) = 0;
    // Replaces the whole text of the external address field.
    virtual void setIpExterno(const std::u16string& text) = 0;
    // Replaces the whole text of the internal address field.
    virtual void setIpInterno(const std::u16string& text) = 0;
};

}  // namespace quelvar
