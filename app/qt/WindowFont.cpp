#include "app/qt/WindowFont.h"

#include <QFile>
#include <QFontDatabase>

namespace quelvar {

namespace {

const QString kTahoma = QStringLiteral("Tahoma");

bool hasTahoma() {
    return QFontDatabase::families().contains(kTahoma, Qt::CaseInsensitive);
}

}  // namespace

bool WindowFont::loadTahoma(const QString& regular) {
    if (hasTahoma()) {
        return true;
    }
    if (QFile::exists(regular)) {
        QFontDatabase::addApplicationFont(regular);
    }
    return hasTahoma();
}

QFont WindowFont::font() {
    QFont font =
        hasTahoma() ? QFont(kTahoma) : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    if (!hasTahoma()) {
        font.setStyleHint(QFont::SansSerif);
    }
    font.setPixelSize(kPixelSize);
    return font;
}

}  // namespace quelvar
