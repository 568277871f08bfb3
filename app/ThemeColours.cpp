#include "app/ThemeColours.h"

#include <string>

#include "http/Error.h"

namespace quelvar {

namespace {

struct Role {
    QByteArrayView name;
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

std::string toStd(QByteArrayView bytes) {
    return {bytes.data(), static_cast<std::size_t>(bytes.size())};
}

}  // namespace

ThemeColours ThemeColours::parse(QByteArrayView description) {
    ThemeColours theme;
    while (!description.isEmpty()) {
        const qsizetype end = description.indexOf('\n');
        QByteArrayView line = end < 0 ? description : description.first(end);
        description = end < 0 ? QByteArrayView{} : description.sliced(end + 1);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (line.isEmpty() || line.front() == '#') {
            continue;
        }
        const qsizetype blank = line.indexOf(' ');
        if (blank < 0) {
            throw Error("Theme line without value: " + toStd(line));
        }
        const QByteArrayView role = line.first(blank);
        const QByteArrayView value = line.sliced(blank + 1);
        if (role == "name") {
            theme.name = QString::fromUtf8(value);
            continue;
        }
        bool hex = value.size() == 7 && value.front() == '#';
        const uint rgb = hex ? value.sliced(1).toUInt(&hex, 16) : 0;
        // toUInt accepts a sign and blanks, which a colour never holds.
        for (qsizetype i = 1; hex && i < value.size(); ++i) {
            hex = QChar::fromLatin1(value[i]).isLetterOrNumber();
        }
        if (!hex) {
            throw Error("Theme colour is not #rrggbb: " + toStd(line));
        }
        bool known = false;
        for (const Role& each : kRoles) {
            if (each.name == role) {
                theme.*each.colour = QColor::fromRgb(rgb);
                known = true;
            }
        }
        if (!known) {
            throw Error("Unknown theme role: " + toStd(role));
        }
    }
    if (theme.name.isEmpty()) {
        throw Error("Theme without name");
    }
    return theme;
}

}  // namespace quelvar
