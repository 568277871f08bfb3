#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace quelvar {

// Reads the carried pictures into the form in which a raster pixmap keeps them, so that turning
// one into a pixmap neither scans nor converts its pixels: a 32-bit picture whose pixels are all
// opaque as RGB32, one with transparent pixels as premultiplied ARGB32. The pixels are those
// QImageReader reads from the same file.
class PictureDecoder {
public:
    // Returns the picture in the file, or a null image when it cannot be read. Non-interlaced
    // 8-bit RGBA PNG data that holds no chunks besides IHDR, pHYs, IDAT and IEND is decoded by
    // decodeRgbaPng(); everything else, and any such data it finds fault with, is read by
    // QImageReader.
    static QImage read(const QString& file);

    // Decodes PNG data of the form read() hands to it, checking every chunk's CRC; returns a
    // null image for any other or faulty data. The zlib stream is inflated by libdeflate, which
    // is several times faster than zlib on the long runs of the indicator pictures.
    static QImage decodeRgbaPng(const QByteArray& data);
};

}  // namespace quelvar
