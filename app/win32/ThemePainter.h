#pragma once

#include <windows.h>

#include <memory>
#include <optional>

#include "app/win32/Theme.h"

namespace quelvar {

// The Win32 counterpart of the Qt window's theme style: paints the window's surfaces in the
// theme, or in the system's colours without one, and in the theme draws the group boxes, the
// tab control, the push buttons and the fields' borders, and answers WM_CTLCOLOR* with the
// theme's colours and brushes. The window tells it its font and DPI.
class ThemePainter {
public:
    explicit ThemePainter(std::optional<Theme> theme);
    ~ThemePainter();
    ThemePainter(const ThemePainter&) = delete;
    ThemePainter& operator=(const ThemePainter&) = delete;

    // Returns the theme, or none for the standard look.
    const std::optional<Theme>& theme() const { return m_theme; }
    bool themed() const { return m_theme.has_value(); }
    // Takes the font the window draws its texts in and the DPI it is laid out for.
    void setMetrics(HFONT font, UINT dpi);

    // The face colour of the window's surfaces.
    COLORREF face() const;
    void fillFace(HDC dc, const RECT& rect) const;
    // A container of controls: its face, and a raised edge when it has a bevel.
    void paintContainer(HWND container, HDC dc, bool bevel) const;

    // Only in a theme:
    // - a group box: a rounded frame on the darker group surface, its caption in the light
    //   accent on the window's face, breaking the frame's top line;
    void paintGroupBox(HWND groupBox, HDC dc) const;
    // - the tab control: the pane's border with an accent top line, the tab in front in the
    //   accent, the others raised;
    void paintTabs(HWND tabs, HDC dc) const;
    // - an owner-drawn push button;
    void drawButton(const DRAWITEMSTRUCT& item) const;
    // - a field's border (a log box's or another's);
    void paintEditBorder(HWND edit, bool log) const;
    // - the colours of a control, which is a log box or sits on a group box or not.
    LRESULT controlColour(HWND control, HDC dc, UINT message, bool log, bool onGroup) const;

private:
    struct Brushes;

    int scale(int value) const;

    std::optional<Theme> m_theme;
    std::unique_ptr<Brushes> m_brushes;
    HFONT m_font = nullptr;
    UINT m_dpi = 96;
};

}  // namespace quelvar
