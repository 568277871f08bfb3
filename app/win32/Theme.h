#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar {

// The colours of a visual theme, by the role they play in the window.
struct Theme {
    std::wstring name;
    COLORREF face = 0;
    COLORREF text = 0;
    COLORREF disabledText = 0;
    COLORREF bevelLight = 0;
    COLORREF bevelDark = 0;
    COLORREF border = 0;
    COLORREF hoverBorder = 0;
    COLORREF tab = 0;
    COLORREF tabText = 0;
    COLORREF accent = 0;
    COLORREF accentBright = 0;
    COLORREF accentLight = 0;
    COLORREF accentDark = 0;
    COLORREF groupFace = 0;
    COLORREF field = 0;
    COLORREF readOnlyField = 0;
    COLORREF readOnlyText = 0;
    COLORREF logText = 0;
    COLORREF buttonTop = 0;
    COLORREF buttonBottom = 0;
    COLORREF buttonBorder = 0;
    COLORREF buttonText = 0;
    COLORREF tipFace = 0;
    COLORREF tipText = 0;

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
