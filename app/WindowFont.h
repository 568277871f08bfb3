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
    static inline const QString kWineTahomaBold =
        QStringLiteral("/usr/share/wine/fonts/tahomabd.ttf");
    static constexpr int kPixelSize = 11;

    // Loads the font files when the system knows no Tahoma and they exist; returns whether a
    // Tahoma is available afterwards.
    static bool loadTahoma(const QString& regular = kWineTahoma,
                           const QString& bold = kWineTahomaBold);
    // Returns Tahoma at 11 pixels when available, else the desktop's sans-serif at that size.
    static QFont font();
};

}  // namespace quelvar
