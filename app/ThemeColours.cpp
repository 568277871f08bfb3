#include "app/ThemeColours.h"

#include <string_view>

#include "theme/ThemeFile.h"

namespace quelvar {

namespace {

struct Role {
    std::string_view name;
    QColor ThemeColours::*colour;
};

constexpr Role kRoles[] = {
    {"face", &ThemeColours::face},
    {"text", &ThemeColours::text},
    {"disabledText", &ThemeColours::disabledText},
    {"bevelLight", &ThemeColours::bevelLight},
    {"bevelDark", &ThemeColours::bevelDark},
    {"border", &ThemeColours::border},
    {"hoverBorder", &ThemeColours::hoverBorder},
    {"tab", &ThemeColours::tab},
    {"tabText", &ThemeColours::tabText},
    {"accent", &ThemeColours::accent},
    {"accentBright", &ThemeColours::accentBright},
    {"accentLight", &ThemeColours::accentLight},
    {"accentDark", &ThemeColours::accentDark},
    {"groupFace", &ThemeColours::groupFace},
    {"field", &ThemeColours::field},
    {"readOnlyField", &ThemeColours::readOnlyField},
    {"readOnlyText", &ThemeColours::readOnlyText},
    {"logText", &ThemeColours::logText},
    {"buttonTop", &ThemeColours::buttonTop},
    {"buttonBottom", &ThemeColours::buttonBottom},
    {"buttonBorder", &ThemeColours::buttonBorder},
    {"buttonText", &ThemeColours::buttonText},
    {"tipFace", &ThemeColours::tipFace},
    {"tipText", &ThemeColours::tipText},
};

}  // namespace

ThemeColours ThemeColours::parse(QByteArrayView description) {
    ThemeColours theme;
    const std::string name =
        readThemeFile({description.data(), static_cast<std::size_t>(description.size())},
                      [&theme](std::string_view role, std::uint32_t rgb) {
                          for (const Role& each : kRoles) {
                              if (each.name == role) {
                                  theme.*each.colour = QColor::fromRgb(rgb);
                                  return true;
                              }
                          }
                          return false;
                      });
    theme.name = QString::fromStdString(name);
    return theme;
}

}  // namespace quelvar
