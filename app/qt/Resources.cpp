#include "app/qt/Resources.h"

#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <QtGlobal>

#include <array>
#include <mutex>
#include <optional>

// Q_INIT_RESOURCE declares the initialiser in the enclosing namespace, so it is called from
// the global one.
static void initQuelvarResources() {
    Q_INIT_RESOURCE(quelvar);
}

namespace quelvar {

namespace {

// The indicator pictures read so far, reached from the window's thread only. A pixmap must not
// outlive the application object, so they are let go when it is destroyed.
std::array<std::optional<QPixmap>, 2>& indicatorPictures() {
    static std::array<std::optional<QPixmap>, 2> pictures;
    return pictures;
}

void releaseIndicatorPictures() {
    for (std::optional<QPixmap>& picture : indicatorPictures()) {
        picture.reset();
    }
}

// Reads a carried PNG file as PNG only. A reader left to detect the format loads every image
// format plugin (SVG, GIF, ICO, JPEG and their libraries) to ask each whether it knows the
// data, which takes longer than reading the four icon renditions.
QImage readCarriedPng(const QString& file) {
    QImageReader reader(file, QByteArrayLiteral("png"));
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

QPixmap readPicture(const QString& file) {
    QImage image = readCarriedPng(file);
    if (image.isNull()) {
        return {};
    }
    // Handing the image over lets the pixmap convert it in place (an opaque picture to RGB32)
    // instead of copying several MB.
    return QPixmap::fromImage(std::move(image));
}

}  // namespace

void Resources::ensureLoaded() {
    static std::once_flag once;
    std::call_once(once, initQuelvarResources);
}

QIcon Resources::applicationIcon() {
    // Built from PNG renditions rather than from the SVG: the SVG icon engine is a plugin to
    // load, and the window system has it render the icon at every size on each start. The
    // renditions are read once and kept as images, which may outlive the application object.
    static const QList<QImage> renditions = [] {
        ensureLoaded();
        QList<QImage> images;
        for (int size : kIconSizes) {
            images.append(readCarriedPng(QStringLiteral(":/icons/quelvar-%1.png").arg(size)));
        }
        return images;
    }();
    QIcon icon;
    for (const QImage& rendition : renditions) {
        icon.addPixmap(QPixmap::fromImage(rendition));
    }
    return icon;
}

QPixmap Resources::indicatorPicture(IndicatorColour colour) {
    const bool green = colour == IndicatorColour::Green;
    std::optional<QPixmap>& picture = indicatorPictures()[green ? 0 : 1];
    if (!picture) {
        ensureLoaded();
        static std::once_flag release;
        std::call_once(release, [] { qAddPostRoutine(releaseIndicatorPictures); });
        picture = readPicture(green ? kGreenPicture : kRedPicture);
    }
    return *picture;
}

}  // namespace quelvar
