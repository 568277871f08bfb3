#pragma once

#include <windows.h>

#include <vector>

#include "app/win32/LabeledEdit.h"

namespace quelvar {

// Where the window's controls go at the DPI the window is laid out for: each control's
// rectangle is kept at 96 pixels per inch and scaled, the label of each labelled edit is
// placed left of its field from its text's size, and every control gets the window's font,
// Tahoma 8 points at that DPI (11 pixels high at 96).
class DpiLayout {
public:
    DpiLayout() = default;
    ~DpiLayout();
    DpiLayout(const DpiLayout&) = delete;
    DpiLayout& operator=(const DpiLayout&) = delete;

    // Returns the DPI of the window's monitor (the system DPI for no window, or before
    // Windows 10 1607, where GetDpiForWindow is missing).
    static UINT dpiOf(HWND window);

    UINT dpi() const { return m_dpi; }
    HFONT font() const { return m_font; }
    // Returns a length at 96 pixels per inch scaled to the DPI.
    int scale(int value) const;

    // Lays out for the DPI from now on: makes its font and gives it to every control kept and
    // to the tool tip, whose width for broken lines is scaled too. Call layOut() afterwards.
    void setDpi(UINT dpi);
    // Keeps the control's place, a rectangle at 96 pixels per inch in its parent's client
    // coordinates, and gives it the font.
    void keep(HWND control, RECT logical);
    // Keeps the labelled edit's label beside its field (the field is kept by keep); the edit
    // outlives the layout.
    void keepLabel(const LabeledEdit& edit);
    // Gives the tool tip the font and its width.
    void keepToolTip(HWND toolTip);
    // Moves every control kept to its place at the DPI, then each label beside its field.
    void layOut() const;
    // Sizes the window's frame so that its client area is the size at 96 pixels per inch,
    // scaled, whatever the frame's own metrics are.
    void resizeToClient(HWND window, int width, int height) const;

private:
    struct Placement {
        HWND control;
        RECT logical;
    };

    void placeLabel(const LabeledEdit& edit) const;
    void applyToolTipFont() const;

    UINT m_dpi = 96;
    HFONT m_font = nullptr;
    HWND m_toolTip = nullptr;
    std::vector<Placement> m_placements;
    std::vector<const LabeledEdit*> m_labels;
};

}  // namespace quelvar
