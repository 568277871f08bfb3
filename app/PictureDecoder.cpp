#include "app/PictureDecoder.h"

#include <QFile>
#include <QImageReader>
#include <QtEndian>

#include <libdeflate.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace quelvar {

namespace {

constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";
constexpr qsizetype kSignatureSize = 8;
constexpr int kBytesPerPixel = 4;
// libpng's default limit on the pixels of a row and on the rows (png_set_user_limits).
constexpr quint32 kLargestSide = 1000000;

// PNG image header fields of the one form decoded here (PNG specification, 11.2.2).
constexpr quint8 kBitDepth = 8;
constexpr quint8 kColourTypeRgba = 6;

// PNG filter types (PNG specification, 9.2).
enum class Filter : quint8 { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4 };

quint32 bigEndianAt(const uchar* bytes) {
    return qFromBigEndian<quint32>(bytes);
}

uchar paethPredictor(int left, int above, int upperLeft) {
    const int estimate = left + above - upperLeft;
    const int toLeft = std::abs(estimate - left);
    const int toAbove = std::abs(estimate - above);
    const int toUpperLeft = std::abs(estimate - upperLeft);
    if (toLeft <= toAbove && toLeft <= toUpperLeft) {
        return static_cast<uchar>(left);
    }
    return static_cast<uchar>(toAbove <= toUpperLeft ? above : upperLeft);
}

// Reverses the row's filter in place against the previous row (zeros above the first row);
// returns false for an unknown filter type.
bool unfilterRow(quint8 filter, uchar* row, const uchar* above, qsizetype length) {
    switch (static_cast<Filter>(filter)) {
        case Filter::None:
            return true;
        case Filter::Sub:
            for (qsizetype i = kBytesPerPixel; i < length; ++i) {
                row[i] = static_cast<uchar>(row[i] + row[i - kBytesPerPixel]);
            }
            return true;
        case Filter::Up:
            for (qsizetype i = 0; i < length; ++i) {
                row[i] = static_cast<uchar>(row[i] + above[i]);
            }
            return true;
        case Filter::Average:
            for (qsizetype i = 0; i < length; ++i) {
                const int left = i >= kBytesPerPixel ? row[i - kBytesPerPixel] : 0;
                row[i] = static_cast<uchar>(row[i] + ((left + above[i]) >> 1));
            }
            return true;
        case Filter::Paeth:
            for (qsizetype i = 0; i < length; ++i) {
                const bool first = i < kBytesPerPixel;
                const int left = first ? 0 : row[i - kBytesPerPixel];
                const int upperLeft = first ? 0 : above[i - kBytesPerPixel];
                row[i] = static_cast<uchar>(row[i] + paethPredictor(left, above[i], upperLeft));
            }
            return true;
    }
    return false;
}

// Writes a row of RGBA bytes as ARGB pixels and returns the AND of the RGBA words, whose top
// byte is 255 when every pixel is opaque. The row and the pixels do not overlap; the loop is
// written so that the compiler can vectorise it.
quint32 toArgb(const uchar* __restrict rgba, QRgb* __restrict argb, quint32 width) {
    quint32 all = 0xffffffffU;
    for (quint32 x = 0; x < width; ++x) {
        // The bytes R, G, B, A as one little-endian word, whose red and blue swap places.
        quint32 word;
        std::memcpy(&word, rgba + std::size_t(x) * kBytesPerPixel, sizeof word);
        word = qFromLittleEndian(word);
        all &= word;
        argb[x] = (word & 0xff00ff00U) | ((word & 0xffU) << 16) | ((word >> 16) & 0xffU);
    }
    return all;
}

struct FreeDecompressor {
    void operator()(libdeflate_decompressor* decompressor) const {
        libdeflate_free_decompressor(decompressor);
    }
};

struct FreeBuffer {
    void operator()(uchar* buffer) const { std::free(buffer); }
};

void freeBuffer(void* buffer) {
    std::free(buffer);
}

// Stores a 32-bit picture as a raster pixmap would: without alpha when every pixel is opaque,
// premultiplied otherwise. Other formats are left as they are.
QImage toPixmapFormat(QImage picture) {
    if (picture.format() != QImage::Format_ARGB32) {
        return picture;
    }
    for (int y = 0; y < picture.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            if (qAlpha(line[x]) != 255) {
                picture.convertTo(QImage::Format_ARGB32_Premultiplied);
                return picture;
            }
        }
    }
    picture.reinterpretAsFormat(QImage::Format_RGB32);
    return picture;
}

}  // namespace

QImage PictureDecoder::read(const QString& file) {
    QFile source(file);
    if (source.open(QIODevice::ReadOnly)) {
        QImage picture = decodeRgbaPng(source.readAll());
        if (!picture.isNull()) {
            return picture;
        }
    }
    return toPixmapFormat(QImageReader(file).read());
}

QImage PictureDecoder::decodeRgbaPng(const QByteArray& data) {
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    const qsizetype size = data.size();
    if (size < kSignatureSize || std::memcmp(bytes, kSignature, kSignatureSize) != 0) {
        return {};
    }

    // The chunks: IHDR first, then consecutive IDAT chunks, then IEND (PNG specification, 5.6).
    quint32 width = 0;
    quint32 height = 0;
    // The resolution, in pixels per metre, when a pHYs chunk gives it in metres; QImageReader
    // gives it to its image as dots per metre.
    quint32 pixelsPerMetreX = 0;
    quint32 pixelsPerMetreY = 0;
    bool resolution = false;
    QByteArray compressed;
    bool header = false;
    bool seenImageData = false;
    bool imageData = false;  // Whether the previous chunk was IDAT.
    bool end = false;
    for (qsizetype at = kSignatureSize; !end;) {
        if (size - at < 12) {
            return {};
        }
        const quint32 length = bigEndianAt(bytes + at);
        if (length > 0x7fffffffU || static_cast<qsizetype>(length) > size - at - 12) {
            return {};
        }
        const uchar* type = bytes + at + 4;
        const uchar* content = type + 4;
        if (libdeflate_crc32(0, type, length + 4) != bigEndianAt(content + length)) {
            return {};
        }
        const bool isHeader = std::memcmp(type, "IHDR", 4) == 0;
        const bool isImageData = std::memcmp(type, "IDAT", 4) == 0;
        if (isHeader != !header) {
            return {};
        }
        if (isHeader) {
            if (length != 13 || content[8] != kBitDepth || content[9] != kColourTypeRgba ||
                content[10] != 0 || content[11] != 0 || content[12] != 0) {
                return {};
            }
            width = bigEndianAt(content);
            height = bigEndianAt(content + 4);
            header = true;
        } else if (isImageData) {
            if (seenImageData && !imageData) {
                return {};
            }
            compressed.append(reinterpret_cast<const char*>(content), length);
            seenImageData = true;
        } else if (std::memcmp(type, "IEND", 4) == 0 && seenImageData) {
            end = true;
        } else if (std::memcmp(type, "pHYs", 4) == 0 && length == 9 && !resolution &&
                   !seenImageData) {
            // Written by QImage::save into every PNG file (PNG specification, 11.3.5.3).
            if (content[8] == 1) {
                pixelsPerMetreX = bigEndianAt(content);
                pixelsPerMetreY = bigEndianAt(content + 4);
            }
            resolution = true;
        } else {
            // Any other chunk (gamma, colour space, text, ...) may change what QImageReader
            // makes of the file, so such a file is left to it.
            return {};
        }
        imageData = isImageData;
        at += 12 + static_cast<qsizetype>(length);
    }

    // The same bounds as QImageReader: libpng's default limit on each side and the reader's
    // allocation limit.
    const int limitMegabytes = QImageReader::allocationLimit();
    const quint64 pixelBytes = quint64(width) * height * kBytesPerPixel;
    if (width == 0 || height == 0 || width > kLargestSide || height > kLargestSide ||
        (limitMegabytes > 0 && pixelBytes > quint64(limitMegabytes) * 1024 * 1024)) {
        return {};
    }
    const qsizetype stride = qsizetype(width) * kBytesPerPixel;
    const qsizetype filteredStride = stride + 1;
    const qsizetype filteredSize = filteredStride * qsizetype(height);

    const std::unique_ptr<libdeflate_decompressor, FreeDecompressor> decompressor(
        libdeflate_alloc_decompressor());
    std::unique_ptr<uchar, FreeBuffer> buffer(static_cast<uchar*>(std::malloc(filteredSize)));
    if (!decompressor || !buffer) {
        return {};
    }
    // The stream must fill the rows exactly, each with its filter byte.
    if (libdeflate_zlib_decompress(
            decompressor.get(), compressed.constData(), static_cast<std::size_t>(compressed.size()),
            buffer.get(), static_cast<std::size_t>(filteredSize), nullptr) != LIBDEFLATE_SUCCESS) {
        return {};
    }

    // Each row is unfiltered where it lies, kept as the next row's "above", and then written as
    // 32-bit ARGB pixels to the start of the same buffer: row y moves y + 1 bytes forward, so
    // every pixel is read before it is overwritten, and the buffer becomes the image.
    std::vector<uchar> above(static_cast<std::size_t>(stride), 0);
    quint32 allPixels = 0xffffffffU;  // The AND of every pixel: its alpha is 255 when all are.
    uchar* pixels = buffer.get();
    for (qsizetype y = 0; y < qsizetype(height); ++y) {
        uchar* row = pixels + y * filteredStride + 1;
        if (!unfilterRow(row[-1], row, above.data(), stride)) {
            return {};
        }
        std::memcpy(above.data(), row, static_cast<std::size_t>(stride));
        allPixels &= toArgb(above.data(), reinterpret_cast<QRgb*>(pixels + y * stride), width);
    }

    const bool opaque = (allPixels >> 24) == 0xffU;
    QImage picture(buffer.get(), int(width), int(height), stride,
                   opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32, freeBuffer, buffer.get());
    if (picture.isNull()) {
        return {};
    }
    buffer.release();  // The image frees it.
    // As QImageReader does; a resolution of 0 leaves the image's default.
    picture.setDotsPerMeterX(int(pixelsPerMetreX));
    picture.setDotsPerMeterY(int(pixelsPerMetreY));
    if (!opaque) {
        picture.convertTo(QImage::Format_ARGB32_Premultiplied);
    }
    return picture;
}

}  // namespace quelvar
