#include "app/ThemeRegistry.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QStyleFactory>

#include "app/EventErrorBox.h"
#include "app/Resources.h"

namespace quelvar {

ThemeRegistry::ThemeRegistry(const QString& carriedFolder) {
    Resources::ensureLoaded();
    const QDir folder(carriedFolder);
    const QStringList files =
        folder.entryList({QStringLiteral("*.qss")}, QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QString& file : files) {
        m_carried.append({QFileInfo(file).completeBaseName(), {}, folder.filePath(file)});
    }
}

void ThemeRegistry::addLoaded(const QString& name, const QString& styleSheet) {
    m_loaded.append({name, styleSheet, {}});
}

QStringList ThemeRegistry::loadedNames() const {
    QStringList names;
    for (const Theme& theme : m_loaded) {
        names.append(theme.name);
    }
    return names;
}

QStringList ThemeRegistry::carriedNames() const {
    QStringList names;
    for (const Theme& theme : m_carried) {
        names.append(theme.name);
    }
    return names;
}

std::optional<QString> ThemeRegistry::find(const QString& name) const {
    for (const Theme& theme : m_loaded) {
        if (theme.name.compare(name, Qt::CaseInsensitive) == 0) {
            return theme.styleSheet;
        }
    }
    for (const Theme& theme : m_carried) {
        if (theme.name.compare(name, Qt::CaseInsensitive) == 0) {
            QFile file(theme.file);
            if (!file.open(QIODevice::ReadOnly)) {
                return std::nullopt;
            }
            return QString::fromUtf8(file.readAll());
        }
    }
    return std::nullopt;
}

bool ThemeRegistry::select(const QString& name) const {
    const std::optional<QString> styleSheet = find(name);
    if (!styleSheet) {
        QMessageBox box(QMessageBox::Critical, EventErrorBox::applicationTitle(),
                        QStringLiteral("Style '%1' not found").arg(name), QMessageBox::Close);
        box.setTextFormat(Qt::PlainText);
        box.exec();
        return false;
    }
    // The style sheets are written over Fusion, which draws the same on every desktop.
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
        QApplication::setStyle(fusion);
    }
    qApp->setStyleSheet(*styleSheet);
    return true;
}

}  // namespace quelvar
