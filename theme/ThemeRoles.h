#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "theme/ThemeFile.h"

namespace quelvar {

// The colours of a visual theme by the role each plays in the window, held in the colour type
// of the platform that draws them (QColor, COLORREF). The roles' names here are the ones the
// theme files use.
template <typename Colour>
struct ThemeRoles {
    Colour face{};
    Colour text{};
    Colour disabledText{};
    Colour bevelLight{};
    Colour bevelDark{};
    Colour border{};
    Colour hoverBorder{};
    Colour tab{};
    Colour tabText{};
    Colour accent{};
    Colour accentBright{};
    Colour accentLight{};
    Colour accentDark{};
    Colour groupFace{};
    Colour field{};
    Colour readOnlyField{};
    Colour readOnlyText{};
    Colour logText{};
    Colour buttonTop{};
    Colour buttonBottom{};
    Colour buttonBorder{};
    Colour buttonText{};
    Colour tipFace{};
    Colour tipText{};

    using Role = std::pair<std::string_view, Colour ThemeRoles::*>;

    // Returns every role: its name in a theme file and its member.
    static constexpr std::array<Role, 24> roles() {
        return {{
            {"face", &ThemeRoles::face},
            {"text", &ThemeRoles::text},
            {"disabledText", &ThemeRoles::disabledText},
            {"bevelLight", &ThemeRoles::bevelLight},
            {"bevelDark", &ThemeRoles::bevelDark},
            {"border", &ThemeRoles::border},
            {"hoverBorder", &ThemeRoles::hoverBorder},
            {"tab", &ThemeRoles::tab},
            {"tabText", &ThemeRoles::tabText},
            {"accent", &ThemeRoles::accent},
            {"accentBright", &ThemeRoles::accentBright},
            {"accentLight", &ThemeRoles::accentLight},
            {"accentDark", &ThemeRoles::accentDark},
            {"groupFace", &ThemeRoles::groupFace},
            {"field", &ThemeRoles::field},
            {"readOnlyField", &ThemeRoles::readOnlyField},
            {"readOnlyText", &ThemeRoles::readOnlyText},
            {"logText", &ThemeRoles::logText},
            {"buttonTop", &ThemeRoles::buttonTop},
            {"buttonBottom", &ThemeRoles::buttonBottom},
            {"buttonBorder", &ThemeRoles::buttonBorder},
            {"buttonText", &ThemeRoles::buttonText},
            {"tipFace", &ThemeRoles::tipFace},
            {"tipText", &ThemeRoles::tipText},
        }};
    }

    // Sets the colours a theme description gives (see readThemeFile), each converted from
    // 0xRRGGBB by convert, and returns the theme's name (UTF-8). Throws Error as readThemeFile
    // does, an unknown role included.
    template <typename Convert>
    std::string read(std::string_view description, Convert convert) {
        return readThemeFile(description,
                             [this, &convert](std::string_view role, std::uint32_t rgb) {
                                 for (const auto& [name, member] : roles()) {
                                     if (name == role) {
                                         this->*member = convert(rgb);
                                         return true;
                                     }
                                 }
                                 return false;
                             });
    }
};

}  // namespace quelvar
