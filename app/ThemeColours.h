#pragma once

#include <QByteArrayView>
#include <QColor>
#include <QString>

namespace quelvar {

// The colours of a visual theme, by the role they play in the window. The same description
// file gives the native Windows window its colours.
struct ThemeColours {
    QString name;
    QColor face;
    QColor text;
    QColor disabledText;
    QColor bevelLight;
    QColor bevelDark;
    QColor border;
    QColor hoverBorder;
    QColor tab;
    QColor tabText;
    QColor accent;
    QColor accentBright;
    QColor accentLight;
    QColor accentDark;
    QColor groupFace;
    QColor field;
    QColor readOnlyField;
    QColor readOnlyText;
    QColor logText;
    QColor buttonTop;
    QColor buttonBottom;
    QColor buttonBorder;
    QColor buttonText;
    QColor tipFace;
    QColor tipText;

    // Returns the theme a description gives: a "name NAME" line and one "role #rrggbb" line
    // per colour; lines starting with "#" are comments. Throws Error on a line it cannot read
    // and when the name is missing.
    static ThemeColours parse(QByteArrayView description);
};

}  // namespace quelvar
