#pragma once

#include <QFont>
#include <QString>

namespace quelvar {

// The window's font: Tahoma at 11 pixels (8 points at 96 pixels per inch).
class WindowFont {
public:
    // Where Debian's fonts-wine package puts its metric-compatible Tahoma, outside the
    // directories fontconfig searches.
    static inline const QString kWineTahoma = QStringLiteral("/usr/share/wine/fonts/tahoma.ttf");
    static constexpr int kPixelSize = 11;

    // Loads the regular face from the file when the system knows no Tahoma and the file exists;
    // returns whether a Tahoma is available afterwards. The bold face is left out: nothing in
    // the window draws bold text.
    static bool loadTahoma(const QString& regular = kWineTahoma);
    // Returns Tahoma at 11 pixels when available, else the desktop's sans-serif at that size.
    static QFont font();
};

}  // namespace quelvar
