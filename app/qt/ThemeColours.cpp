#include "app/qt/ThemeColours.h"

#include <string>

namespace quelvar {

ThemeColours ThemeColours::parse(QByteArrayView description) {
    ThemeColours theme;
    const std::string name =
        theme.read({description.data(), static_cast<std::size_t>(description.size())},
                   [](std::uint32_t rgb) { return QColor::fromRgb(rgb); });
    theme.name = QString::fromStdString(name);
    return theme;
}

}  // namespace quelvar
