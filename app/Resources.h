#pragma once

#include <QString>

namespace quelvar {

// The files the executable carries: themes, indicator pictures and the application icon.
class Resources {
public:
    // Registers the carried files; the library holding them is static, so its resource
    // initialiser is called explicitly. Safe to call more than once.
    static void ensureLoaded();

    static inline const QString kGreenPicture = QStringLiteral(":/pictures/green.png");
    static inline const QString kRedPicture = QStringLiteral(":/pictures/red.png");
    static inline const QString kIcon = QStringLiteral(":/icons/quelvar.svg");
};

}  // namespace quelvar
