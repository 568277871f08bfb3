#include "app/Resources.h"

#include "app/PictureDecoder.h"

#include <QImage>
#include <QtGlobal>

#include <array>
#include <future>
#include <mutex>
#include <optional>
#include <system_error>

// Q_INIT_RESOURCE declares the initialiser in the enclosing namespace, so it is called from
// the global one.
static void initQuelvarResources() {
    Q_INIT_RESOURCE(quelvar);
}

namespace quelvar {

namespace {

using Pictures = std::array<QImage, 2>;

std::size_t indexOf(IndicatorColour colour) {
    return colour == IndicatorColour::Green ? 0 : 1;
}

Pictures decodePictures() {
    return {PictureDecoder::read(Resources::kGreenPicture),
            PictureDecoder::read(Resources::kRedPicture)};
}

// The decoded pictures, reached from the window's thread only. The pictures are kept as images:
// a pixmap must not outlive the application object, which a static one would.
struct PictureStore {
    std::future<Pictures> decoding;
    std::optional<Pictures> pictures;

    static PictureStore& instance() {
        static PictureStore store;
        return store;
    }
};

}  // namespace

void Resources::ensureLoaded() {
    static std::once_flag once;
    std::call_once(once, initQuelvarResources);
}

void Resources::prepareIndicatorPictures() {
    PictureStore& store = PictureStore::instance();
    if (store.pictures || store.decoding.valid()) {
        return;
    }
    ensureLoaded();
    // The pictures are large (several MB of pixels), and decoding them takes longer than the
    // rest of start-up; on a thread of their own it overlaps with the theme, the font and the
    // making of the window. The thread only reads the carried files into images, which are
    // handed over when it has ended. When no thread can be started, indicatorPicture() decodes
    // them itself.
    try {
        store.decoding = std::async(std::launch::async, decodePictures);
    } catch (const std::system_error&) {
        store.decoding = {};
    }
}

QIcon Resources::applicationIcon() {
    // Built from PNG renditions rather than from the SVG: the SVG icon engine is a plugin to
    // load, and the window system has it render the icon at every size on each start.
    static const QList<QImage> renditions = [] {
        ensureLoaded();
        QList<QImage> images;
        for (int size : kIconSizes) {
            images.append(PictureDecoder::read(QStringLiteral(":/icons/quelvar-%1.png").arg(size)));
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
    PictureStore& store = PictureStore::instance();
    if (!store.pictures) {
        if (store.decoding.valid()) {
            store.pictures = store.decoding.get();
        } else {
            ensureLoaded();
            store.pictures = decodePictures();
        }
    }
    const QImage& picture = (*store.pictures)[indexOf(colour)];
    // Both kept formats are taken over as they are, and the pixmap shares the image's pixels.
    const bool kept = picture.format() == QImage::Format_RGB32 ||
                      picture.format() == QImage::Format_ARGB32_Premultiplied;
    return QPixmap::fromImage(picture, kept ? Qt::NoOpaqueDetection : Qt::AutoColor);
}

}  // namespace quelvar
