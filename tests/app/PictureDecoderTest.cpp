#include <QByteArray>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <zlib.h>

#include <cstdlib>
#include <vector>

#include "app/PictureDecoder.h"
#include "app/Resources.h"

using quelvar::PictureDecoder;

namespace {

// PNG filter types, applied by the test's own encoder below.
enum Filter : quint8 { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4 };

QByteArray bigEndian(quint32 value) {
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray chunk(const char* type, const QByteArray& content) {
    const QByteArray typed = QByteArray(type, 4) + content;
    const auto crc = static_cast<quint32>(
        crc32(0, reinterpret_cast<const Bytef*>(typed.constData()), uInt(typed.size())));
    return bigEndian(quint32(content.size())) + typed + bigEndian(crc);
}

int paeth(int left, int above, int upperLeft) {
    const int estimate = left + above - upperLeft;
    const int toLeft = std::abs(estimate - left);
    const int toAbove = std::abs(estimate - above);
    const int toUpperLeft = std::abs(estimate - upperLeft);
    if (toLeft <= toAbove && toLeft <= toUpperLeft) {
        return left;
    }
    return toAbove <= toUpperLeft ? above : upperLeft;
}

// A PNG file written here rather than by QImage::save, which adds a resolution chunk and picks
// its own filters: 8-bit samples, the given colour type (6 RGBA, 2 RGB), one filter per row
// (cycling through the list), the zlib stream split over `idatChunks` IDAT chunks.
struct PngSpec {
    int width = 1;
    int height = 1;
    quint8 colourType = 6;
    quint8 interlace = 0;
    QList<quint8> filters{None};
    int idatChunks = 1;
    QByteArray extraChunk;  // Placed between IHDR and the first IDAT.
    int rowsLeftOut = 0;    // Rows missing from the compressed stream.
};

PngSpec spec(int width, int height, QList<quint8> filters = {None}, quint8 colourType = 6,
             quint8 interlace = 0, int idatChunks = 1) {
    PngSpec png;
    png.width = width;
    png.height = height;
    png.filters = std::move(filters);
    png.colourType = colourType;
    png.interlace = interlace;
    png.idatChunks = idatChunks;
    return png;
}

// The pixels of a test picture: RGBA bytes, row after row.
using Rgba = std::vector<uchar>;

QByteArray encode(const PngSpec& spec, const Rgba& rgba) {
    const int channels = spec.colourType == 6 ? 4 : 3;
    const int stride = spec.width * channels;
    QByteArray filtered;
    std::vector<uchar> above(static_cast<std::size_t>(stride), 0);
    for (int y = 0; y < spec.height - spec.rowsLeftOut; ++y) {
        std::vector<uchar> row(static_cast<std::size_t>(stride));
        for (int x = 0; x < spec.width; ++x) {
            for (int c = 0; c < channels; ++c) {
                row[std::size_t(x * channels + c)] =
                    rgba[std::size_t((y * spec.width + x) * 4 + c)];
            }
        }
        const quint8 filter = spec.filters[y % spec.filters.size()];
        filtered.append(char(filter));
        for (int i = 0; i < stride; ++i) {
            const int left = i >= channels ? row[std::size_t(i - channels)] : 0;
            const int up = above[std::size_t(i)];
            const int upperLeft = i >= channels ? above[std::size_t(i - channels)] : 0;
            int predictor = 0;
            switch (filter) {
                case Sub:
                    predictor = left;
                    break;
                case Up:
                    predictor = up;
                    break;
                case Average:
                    predictor = (left + up) / 2;
                    break;
                case Paeth:
                    predictor = paeth(left, up, upperLeft);
                    break;
                default:
                    break;
            }
            filtered.append(char(uchar(row[std::size_t(i)] - predictor)));
        }
        above = row;
    }
    uLongf compressedSize = compressBound(uLong(filtered.size()));
    QByteArray compressed(qsizetype(compressedSize), '\0');
    compress2(reinterpret_cast<Bytef*>(compressed.data()), &compressedSize,
              reinterpret_cast<const Bytef*>(filtered.constData()), uLong(filtered.size()), 9);
    compressed.truncate(qsizetype(compressedSize));

    QByteArray header = bigEndian(quint32(spec.width)) + bigEndian(quint32(spec.height));
    header.append(char(8)).append(char(spec.colourType)).append('\0').append('\0');
    header.append(char(spec.interlace));
    QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + spec.extraChunk;
    const qsizetype part = compressed.size() / spec.idatChunks + 1;
    for (qsizetype at = 0; at < compressed.size(); at += part) {
        png += chunk("IDAT", compressed.mid(at, part));
    }
    return png + chunk("IEND", {});
}

Rgba randomPixels(int width, int height, bool opaque, quint32 seed) {
    QRandomGenerator random(seed);
    Rgba pixels(std::size_t(width * height * 4));
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = uchar(random.bounded(256));
        if (opaque && i % 4 == 3) {
            pixels[i] = 255;
        }
    }
    return pixels;
}

Rgba solidPixels(int width, int height, QRgb colour) {
    Rgba pixels;
    for (int i = 0; i < width * height; ++i) {
        pixels.insert(pixels.end(), {uchar(qRed(colour)), uchar(qGreen(colour)),
                                     uchar(qBlue(colour)), uchar(qAlpha(colour))});
    }
    return pixels;
}

QString writeFile(const QTemporaryDir& directory, const QString& name, const QByteArray& data) {
    const QString path = directory.filePath(name + QStringLiteral(".png"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

}  // namespace

Q_DECLARE_METATYPE(PngSpec)
Q_DECLARE_METATYPE(Rgba)

// The decoder of the carried pictures, against QImageReader on the same bytes.
class PictureDecoderTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_directory.isValid()); }

    // Files of the decoded form: each must give QImageReader's pixels, in the pixmap's form.
    void decodesLikeImageReader_data() {
        QTest::addColumn<PngSpec>("spec");
        QTest::addColumn<Rgba>("pixels");
        QTest::addColumn<bool>("opaque");
        const auto row = [](const char* name, PngSpec spec, Rgba pixels, bool opaque) {
            QTest::newRow(name) << spec << pixels << opaque;
        };
        row("solid opaque, no filter", spec(40, 30), solidPixels(40, 30, qRgb(60, 213, 63)), true);
        row("solid transparent", spec(5, 4), solidPixels(5, 4, qRgba(246, 0, 1, 128)), false);
        for (quint8 filter : {None, Sub, Up, Average, Paeth}) {
            static const char* const names[] = {"none", "sub", "up", "average", "paeth"};
            const QByteArray name = QByteArray("random with alpha, ") + names[filter];
            QTest::newRow(name.constData())
                << spec(17, 9, {filter}) << randomPixels(17, 9, false, filter) << false;
        }
        row("random opaque, filters cycling", spec(23, 11, {Paeth, None, Average, Up, Sub}),
            randomPixels(23, 11, true, 7), true);
        row("one pixel", spec(1, 1, {Paeth}), solidPixels(1, 1, qRgba(1, 2, 3, 255)), true);
        row("one transparent pixel", spec(1, 1, {Sub}), solidPixels(1, 1, qRgba(9, 8, 7, 0)),
            false);
        row("stream over several IDAT chunks", spec(31, 13, {Up, Sub}, 6, 0, 5),
            randomPixels(31, 13, true, 11), true);
        // The resolution QImage::save writes, in metres, and one in an unknown unit.
        PngSpec metres = spec(8, 8, {Average});
        metres.extraChunk = chunk("pHYs", bigEndian(5000) + bigEndian(2000) + QByteArray(1, 1));
        row("resolution in metres", metres, randomPixels(8, 8, false, 5), false);
        PngSpec unknownUnit = spec(8, 8, {Average});
        unknownUnit.extraChunk =
            chunk("pHYs", bigEndian(5000) + bigEndian(2000) + QByteArray(1, 0));
        row("resolution without unit", unknownUnit, randomPixels(8, 8, true, 6), true);
    }
    void decodesLikeImageReader() {
        QFETCH(PngSpec, spec);
        QFETCH(Rgba, pixels);
        QFETCH(bool, opaque);
        const QByteArray png = encode(spec, pixels);
        const QString file =
            writeFile(m_directory, QString::fromLatin1(QTest::currentDataTag()), png);

        const QImage fast = PictureDecoder::decodeRgbaPng(png);
        QVERIFY(!fast.isNull());
        const QImage picture = PictureDecoder::read(file);
        QCOMPARE(picture.format(),
                 opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(fast.format(), picture.format());
        QCOMPARE(picture.size(), QSize(spec.width, spec.height));

        const QImage expected = QImageReader(file).read().convertToFormat(picture.format());
        QCOMPARE(picture, expected);
        QCOMPARE(fast, expected);
        QCOMPARE(picture.dotsPerMeterX(), expected.dotsPerMeterX());
        QCOMPARE(picture.dotsPerMeterY(), expected.dotsPerMeterY());
        // And the pixels are the encoded ones.
        const QImage straight = picture.convertToFormat(QImage::Format_ARGB32);
        if (opaque) {
            for (int y = 0; y < spec.height; ++y) {
                for (int x = 0; x < spec.width; ++x) {
                    const uchar* p = &pixels[std::size_t((y * spec.width + x) * 4)];
                    QCOMPARE(straight.pixel(x, y), qRgba(p[0], p[1], p[2], p[3]));
                }
            }
        }
    }

    // Anything else is left to QImageReader, whose result read() returns in the pixmap's form.
    void leavesOtherFilesToImageReader_data() {
        QTest::addColumn<QByteArray>("png");
        const Rgba pixels = randomPixels(6, 5, true, 3);
        const PngSpec plain = spec(6, 5, {Sub});
        const QByteArray good = encode(plain, pixels);
        QTest::newRow("RGB without alpha") << encode(spec(6, 5, {Up}, 2), pixels);
        QTest::newRow("interlaced") << encode(spec(6, 5, {None}, 6, 1), pixels);
        PngSpec gamma = plain;
        gamma.extraChunk = chunk("gAMA", bigEndian(45455));
        QTest::newRow("gamma chunk") << encode(gamma, pixels);
        PngSpec text = plain;
        text.extraChunk = chunk("tEXt", QByteArray("Title\0Quelvar", 13));
        QTest::newRow("text chunk") << encode(text, pixels);
        PngSpec shortResolution = plain;
        shortResolution.extraChunk = chunk("pHYs", bigEndian(5000) + bigEndian(2000));
        QTest::newRow("resolution chunk too short") << encode(shortResolution, pixels);
        PngSpec shortStream = plain;
        shortStream.rowsLeftOut = 1;
        QTest::newRow("stream one row short") << encode(shortStream, pixels);
        QByteArray badCrc = good;
        badCrc[badCrc.size() - 13] = char(badCrc[badCrc.size() - 13] ^ 1);  // Last IDAT's CRC.
        QTest::newRow("IDAT with a wrong CRC") << badCrc;
        QTest::newRow("cut before IEND") << good.left(good.size() - 12);
        QTest::newRow("cut inside IDAT") << good.left(good.size() - 20);
        QTest::newRow("not a PNG") << QByteArray("GIF89a...");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("unknown filter type") << [&] {
            // Rewrites the stream with filter type 5 on the first row.
            QByteArray filtered;
            for (int y = 0; y < 5; ++y) {
                filtered.append(char(y == 0 ? 5 : 0));
                filtered.append(reinterpret_cast<const char*>(&pixels[std::size_t(y * 24)]), 24);
            }
            QByteArray stream = qCompress(filtered).mid(4);
            return QByteArray("\x89PNG\r\n\x1a\n", 8) + good.mid(8, 25) /* IHDR */ +
                   chunk("IDAT", stream) + chunk("IEND", {});
        }();
        QByteArray huge = QByteArray("\x89PNG\r\n\x1a\n", 8);
        QByteArray header = bigEndian(100000) + bigEndian(100000);
        header.append(char(8)).append(char(6)).append('\0').append('\0').append('\0');
        huge += chunk("IHDR", header) + chunk("IDAT", qCompress(QByteArray(16, '\0')).mid(4)) +
                chunk("IEND", {});
        QTest::newRow("beyond the allocation limit") << huge;
        QTest::newRow("wider than libpng takes")
            << encode(spec(1000001, 1, {None}), solidPixels(1000001, 1, qRgb(1, 2, 3)));
    }
    void leavesOtherFilesToImageReader() {
        QFETCH(QByteArray, png);
        QVERIFY(PictureDecoder::decodeRgbaPng(png).isNull());
        const QString file =
            writeFile(m_directory, QString::fromLatin1(QTest::currentDataTag()), png);
        const QImage picture = PictureDecoder::read(file);
        const QImage expected = QImageReader(file).read();
        QCOMPARE(picture.isNull(), expected.isNull());
        if (!expected.isNull()) {
            QCOMPARE(picture, expected.convertToFormat(picture.format()));
            QVERIFY(picture.format() == QImage::Format_RGB32 ||
                    picture.format() == QImage::Format_ARGB32_Premultiplied);
        }
    }

    void missingFileIsNull() {
        QVERIFY(PictureDecoder::read(m_directory.filePath(QStringLiteral("absent.png"))).isNull());
    }

    // The carried pictures take the fast path and give what QImageReader gives.
    void carriedPictures_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("size");
        QTest::newRow("green") << quelvar::Resources::kGreenPicture << QSize(678, 1000);
        QTest::newRow("red") << quelvar::Resources::kRedPicture << QSize(640, 896);
    }
    void carriedPictures() {
        QFETCH(QString, file);
        QFETCH(QSize, size);
        quelvar::Resources::ensureLoaded();
        QFile carried(file);
        QVERIFY(carried.open(QIODevice::ReadOnly));
        const QImage fast = PictureDecoder::decodeRgbaPng(carried.readAll());
        QVERIFY(!fast.isNull());
        QCOMPARE(fast.size(), size);
        QCOMPARE(fast.format(), QImage::Format_RGB32);
        QCOMPARE(fast, QImage(file).convertToFormat(QImage::Format_RGB32));
    }

    // The window's pictures are decoded once and shared by every pixmap made of them.
    void indicatorPicturesAreShared() {
        using quelvar::IndicatorColour;
        using quelvar::Resources;
        Resources::prepareIndicatorPictures();
        const QPixmap green = Resources::indicatorPicture(IndicatorColour::Green);
        const QPixmap red = Resources::indicatorPicture(IndicatorColour::Red);
        QCOMPARE(green.size(), QSize(678, 1000));
        QCOMPARE(red.size(), QSize(640, 896));
        QCOMPARE(green.depth(), 32);
        QVERIFY(!green.hasAlphaChannel());
        QCOMPARE(Resources::indicatorPicture(IndicatorColour::Green).cacheKey(), green.cacheKey());
        QCOMPARE(green.toImage(),
                 QImage(Resources::kGreenPicture).convertToFormat(QImage::Format_RGB32));
        QCOMPARE(red.toImage(),
                 QImage(Resources::kRedPicture).convertToFormat(QImage::Format_RGB32));
    }

    // The icon's renditions hold the pixels the SVG icon engine draws at each size, as the
    // window system receives them (unpremultiplied ARGB).
    void applicationIconMatchesTheSvg_data() {
        QTest::addColumn<int>("size");
        for (int size : quelvar::Resources::kIconSizes) {
            QTest::newRow(QByteArray::number(size).constData()) << size;
        }
    }
    void applicationIconMatchesTheSvg() {
        QFETCH(int, size);
        quelvar::Resources::ensureLoaded();
        const QIcon icon = quelvar::Resources::applicationIcon();
        QVERIFY(icon.availableSizes().contains(QSize(size, size)));
        const QIcon drawn(quelvar::Resources::kIcon);
        const QImage expected =
            drawn.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32);
        QVERIFY(!expected.isNull());
        QCOMPARE(icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32),
                 expected);
    }

private:
    QTemporaryDir m_directory;
};

QTEST_MAIN(PictureDecoderTest)
#include "PictureDecoderTest.moc"
