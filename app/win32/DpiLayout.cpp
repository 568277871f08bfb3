#include "app/win32/DpiLayout.h"

#include <commctrl.h>

#include <string>

#include "app/win32/SystemFunction.h"
#include "app/win32/WindowCheckTab.h"
#include "form/MainForm.h"

namespace quelvar {

DpiLayout::~DpiLayout() {
    if (m_font != nullptr) {
        DeleteObject(m_font);
    }
}

UINT DpiLayout::dpiOf(HWND window) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow =
        loadedSystemFunction<GetDpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
    if (getDpiForWindow != nullptr && window != nullptr) {
        if (const UINT dpi = getDpiForWindow(window); dpi != 0) {
            return dpi;
        }
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

int DpiLayout::scale(int value) const {
    return MulDiv(value, static_cast<int>(m_dpi), 96);
}

void DpiLayout::setDpi(UINT dpi) {
    m_dpi = dpi;
    HFONT font = CreateFontW(-MulDiv(8, static_cast<int>(m_dpi), 72), 0, 0, 0, FW_NORMAL, FALSE,
                             FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
    for (const Placement& placement : m_placements) {
        SendMessageW(placement.control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    for (const LabeledEdit* edit : m_labels) {
        SendMessageW(edit->label, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    if (m_font != nullptr) {
        DeleteObject(m_font);
    }
    m_font = font;
    if (m_toolTip != nullptr) {
        SendMessageW(m_toolTip, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), TRUE);
        SendMessageW(m_toolTip, TTM_SETMAXTIPWIDTH, 0, scale(640));
    }
}

void DpiLayout::keep(HWND control, RECT logical) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    m_placements.push_back({control, logical});
}

void DpiLayout::keepLabel(const LabeledEdit& edit) {
    SendMessageW(edit.label, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    m_labels.push_back(&edit);
}

void DpiLayout::keepToolTip(HWND toolTip) {
    m_toolTip = toolTip;
    SendMessageW(m_toolTip, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    // A maximum width makes the tool tip break its text at the hints' CR LF.
    SendMessageW(m_toolTip, TTM_SETMAXTIPWIDTH, 0, scale(640));
}

void DpiLayout::layOut() const {
    for (const Placement& placement : m_placements) {
        const RECT& r = placement.logical;
        SetWindowPos(placement.control, nullptr, scale(r.left), scale(r.top),
                     scale(r.right - r.left), scale(r.bottom - r.top),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    for (const LabeledEdit* edit : m_labels) {
        placeLabel(*edit);
    }
}

void DpiLayout::placeLabel(const LabeledEdit& edit) const {
    const std::wstring text = windowText(edit.label);
    HDC dc = GetDC(edit.label);
    HGDIOBJ previous = SelectObject(dc, m_font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(edit.label, dc);
    const int height = metrics.tmHeight;

    RECT field{};
    GetWindowRect(edit.edit, &field);
    MapWindowPoints(HWND_DESKTOP, GetParent(edit.edit), reinterpret_cast<POINT*>(&field), 2);
    SetWindowPos(edit.label, nullptr, field.left - scale(MainForm::kLabelSpacing) - size.cx,
                 field.top + (field.bottom - field.top - height) / 2, size.cx, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void DpiLayout::resizeToClient(HWND window, int width, int height) const {
    RECT frame{};
    RECT client{};
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    SetWindowPos(window, nullptr, 0, 0, (frame.right - frame.left) - client.right + scale(width),
                 (frame.bottom - frame.top) - client.bottom + scale(height),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace quelvar
