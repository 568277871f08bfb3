#include "app/WindowFont.h"

#include <QFile>
#include <QFontDatabase>

namespace quelvar {

namespace {

const QString kTahoma = QStringLiteral("Tahoma");

bool hasTahoma() {
    return QFontDatabase::families().contains(kTahoma, Qt::CaseInsensitive);
}

}  // namespace

bool WindowFont::loadTahoma(const QString& regular, const QString& bold) {
    if (hasTahoma()) {
        return true;
    }
    for (const QString& file : {regular, bold}) {
        if (QFile::exists(file)) {
            QFontDatabase::addApplicationFont(file);
        }
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
