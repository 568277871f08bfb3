#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

#include "app/qt/ThemeColours.h"

namespace quelvar {

// The visual themes the program knows: those loaded at run time and those the executable
// carries as colour descriptions in its resources, one ".theme" file per theme, named by its
// "name" line. The native Windows window carries the same files.
class ThemeRegistry {
public:
    // Lists the carried themes of a resource folder; a file that cannot be read is left out.
    explicit ThemeRegistry(const QString& carriedFolder = QStringLiteral(":/themes"));

    // Adds a loaded theme.
    void addLoaded(ThemeColours theme);
    // Returns the names of the loaded themes.
    QStringList loadedNames() const;
    // Returns the names of the carried themes.
    QStringList carriedNames() const;
    // Returns the theme of that name, compared without regard to case, first among the loaded
    // themes, then among the carried ones.
    std::optional<ThemeColours> find(const QString& name) const;
    // Makes the named theme the look of every window of the program (a ThemeStyle and its
    // palette) and returns true; when there is none of that name, shows the "Style '%s' not
    // found" box, leaves the standard look and returns false.
    bool select(const QString& name) const;

private:
    QList<ThemeColours> m_loaded;
    QList<ThemeColours> m_carried;
};

}  // namespace quelvar
