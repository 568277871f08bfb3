#include "app/qt/ThemeRegistry.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QToolTip>

#include "app/qt/EventErrorBox.h"
#include "app/qt/Resources.h"
#include "app/qt/ThemeStyle.h"
#include "base/Error.h"

namespace quelvar {

namespace {

QStringList namesOf(const QList<ThemeColours>& themes) {
    QStringList names;
    for (const ThemeColours& theme : themes) {
        names.append(theme.name);
    }
    return names;
}

const ThemeColours* findIn(const QList<ThemeColours>& themes, const QString& name) {
    for (const ThemeColours& theme : themes) {
        if (theme.name.compare(name, Qt::CaseInsensitive) == 0) {
            return &theme;
        }
    }
    return nullptr;
}

}  // namespace

ThemeRegistry::ThemeRegistry(const QString& carriedFolder) {
    Resources::ensureLoaded();
    const QDir folder(carriedFolder);
    const QStringList files =
        folder.entryList({QStringLiteral("*.theme")}, QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QString& file : files) {
        QFile description(folder.filePath(file));
        if (!description.open(QIODevice::ReadOnly)) {
            continue;
        }
        try {
            m_carried.append(ThemeColours::parse(description.readAll()));
        } catch (const Error&) {
            // A carried file the build checked cannot be wrong; one that is stays unknown.
        }
    }
}

void ThemeRegistry::addLoaded(ThemeColours theme) {
    m_loaded.append(std::move(theme));
}

QStringList ThemeRegistry::loadedNames() const {
    return namesOf(m_loaded);
}

QStringList ThemeRegistry::carriedNames() const {
    return namesOf(m_carried);
}

std::optional<ThemeColours> ThemeRegistry::find(const QString& name) const {
    if (const ThemeColours* theme = findIn(m_loaded, name)) {
        return *theme;
    }
    if (const ThemeColours* theme = findIn(m_carried, name)) {
        return *theme;
    }
    return std::nullopt;
}

bool ThemeRegistry::select(const QString& name) const {
    std::optional<ThemeColours> theme = find(name);
    if (!theme) {
        QMessageBox box(QMessageBox::Critical, EventErrorBox::applicationTitle(),
                        QStringLiteral("Style '%1' not found").arg(name), QMessageBox::Close);
        box.setTextFormat(Qt::PlainText);
        box.exec();
        return false;
    }
    // Drawn by a style rather than a style sheet: a style sheet routes the polishing and
    // drawing of every widget through the style sheet style, which costs the window's start
    // several milliseconds.
    auto* style = new ThemeStyle(std::move(*theme));
    QApplication::setStyle(style);
    // The style's palette is applied explicitly: the platform theme's palette would otherwise
    // take precedence over it.
    QApplication::setPalette(style->standardPalette());
    QToolTip::setPalette(style->standardPalette());
    return true;
}

}  // namespace quelvar
