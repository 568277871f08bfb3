#pragma once

#include <QByteArrayView>
#include <QColor>
#include <QString>

#include "theme/ThemeRoles.h"

namespace quelvar {

// The colours of a visual theme, by the role they play in the window, as the Qt style draws
// them. The same description file gives the native Windows window its colours.
struct ThemeColours : ThemeRoles<QColor> {
    QString name;

    // Returns the theme a description gives: a "name NAME" line and one "role #rrggbb" line
    // per colour; lines starting with "#" are comments. Throws Error on a line it cannot read
    // and when the name is missing.
    static ThemeColours parse(QByteArrayView description);
};

}  // namespace quelvar
