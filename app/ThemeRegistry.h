#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace quelvar {

// The visual themes the program knows: those loaded at run time and those the executable
// carries as style sheets in its resources, one file per theme named after it.
class ThemeRegistry {
public:
    // Lists the carried themes of a resource folder.
    explicit ThemeRegistry(const QString& carriedFolder = QStringLiteral(":/themes"));

    // Adds a loaded theme.
    void addLoaded(const QString& name, const QString& styleSheet);
    // Returns the names of the loaded themes.
    QStringList loadedNames() const;
    // Returns the names of the carried themes.
    QStringList carriedNames() const;
    // Returns the style sheet of the theme of that name, compared without regard to case,
    // first among the loaded themes, then among the carried ones.
    std::optional<QString> find(const QString& name) const;
    // Makes the named theme the look of every window of the program and returns true; when
    // there is none of that name, shows the "Style '%s' not found" box, leaves the standard
    // look and returns false.
    bool select(const QString& name) const;

private:
    struct Theme {
        QString name;
        QString styleSheet;  // Empty for a carried theme, read from its file when found.
        QString file;
    };
    QList<Theme> m_loaded;
    QList<Theme> m_carried;
};

}  // namespace quelvar
