#pragma once

#include <QString>

namespace quelvar {

// What the settings file fills: the API tab's HTTPS box and its two address fields.
class SettingsTarget {
public:
    virtual ~SettingsTarget() = default;
    virtual void setUsaHttps(bool) = 0;
    virtual void setIpExterno(const QString&) = 0;
    virtual void setIpInterno(const QString&) = 0;
};

// The Lumora Web application's "config.js", read line by line for three fixed markers whose
// values are cut out of their lines by position.
class SettingsFile {
public:
    // Returns the full path of "config.js" in the directory of the running executable.
    static QString besideExecutable();
    // Reads the settings file, applying each key to the target as its line is read; throws
    // quelvar::Error with the exact message on failure (after closing the file).
    static void read(const QString& path, SettingsTarget& target);
};

}  // namespace quelvar
