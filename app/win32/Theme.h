#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "theme/ThemeRoles.h"

namespace quelvar {

// The colours of a visual theme, by the role they play in the window, as the window's painter
// draws them.
struct Theme : ThemeRoles<COLORREF> {
    std::wstring name;

    // Returns the theme a description gives: a "name NAME" line and one "role #rrggbb" line
    // per colour; lines starting with "#" are comments. Throws Error on a line it cannot read.
    static Theme parse(std::string_view description);
};

// The visual themes the program knows: those loaded at run time and those an executable
// carries as resources of type QUELVARTHEME.
class ThemeRegistry {
public:
    // Lists the themes the module carries; a null module carries none.
    explicit ThemeRegistry(HMODULE carrier = GetModuleHandleW(nullptr));

    // Adds a loaded theme.
    void addLoaded(Theme theme);
    // Returns the theme of that name, compared without regard to case, first among the
    // loaded themes, then among the carried ones.
    std::optional<Theme> find(std::wstring_view name) const;
    // Returns the named theme; when there is none of that name, shows the "Style '%s' not
    // found" box (error icon, one Close button) and returns none: the standard look.
    std::optional<Theme> select(std::wstring_view name) const;

private:
    std::vector<Theme> m_loaded;
    std::vector<Theme> m_carried;
};

}  // namespace quelvar
