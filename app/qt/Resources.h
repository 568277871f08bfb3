#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace quelvar {

// The colour of an indicator picture.
enum class IndicatorColour { Green, Red };

// The files the executable carries: themes, indicator pictures and the application icon.
class Resources {
public:
    // Registers the carried files; the library holding them is static, so its resource
    // initialiser is called explicitly. Safe to call more than once.
    static void ensureLoaded();

    // Returns the carried indicator picture of the colour at its natural size. The picture is
    // read by the toolkit's image reader at the first call for its colour and kept until the
    // application object goes; every call shares the same pixels. Call it on the window's
    // thread; a picture that cannot be read is a null pixmap.
    static QPixmap indicatorPicture(IndicatorColour colour);

    // Returns the application icon: the carried renditions of the SVG icon at the sizes the
    // window system asks for. Call it on the window's thread.
    static QIcon applicationIcon();

    static inline const QString kGreenPicture = QStringLiteral(":/pictures/green.png");
    static inline const QString kRedPicture = QStringLiteral(":/pictures/red.png");
    // The application icon as drawn, from which scripts/render-icons makes the renditions.
    static inline const QString kIcon = QStringLiteral(":/icons/quelvar.svg");
    // The sizes of the icon's renditions, ":/icons/quelvar-<size>.png".
    static constexpr int kIconSizes[] = {16, 32, 64, 128};
};

}  // namespace quelvar
