#include "app/win32/ThemePainter.h"

#include <commctrl.h>

#include <iterator>
#include <string>

#include "app/win32/WindowCheckTab.h"

namespace quelvar {

namespace {

void fill(HDC dc, const RECT& rect, COLORREF colour) {
    SetDCBrushColor(dc, colour);
    FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void frame(HDC dc, const RECT& rect, COLORREF colour) {
    SetDCBrushColor(dc, colour);
    FrameRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void roundFrame(HDC dc, const RECT& rect, COLORREF border, COLORREF inside, int radius) {
    HPEN pen = CreatePen(PS_SOLID, 1, border);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(DC_BRUSH));
    SetDCBrushColor(dc, inside);
    RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, radius, radius);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
}

COLORREF blend(COLORREF from, COLORREF to, int step, int steps) {
    const auto mix = [&](int a, int b) { return a + (b - a) * step / (steps > 0 ? steps : 1); };
    return RGB(mix(GetRValue(from), GetRValue(to)), mix(GetGValue(from), GetGValue(to)),
               mix(GetBValue(from), GetBValue(to)));
}

bool hasClass(HWND window, const wchar_t* name) {
    wchar_t buffer[32] = {};
    GetClassNameW(window, buffer, static_cast<int>(std::size(buffer)));
    return CompareStringOrdinal(buffer, -1, name, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

// The brushes of the theme's surfaces, made once per window.
struct ThemePainter::Brushes {
    explicit Brushes(const Theme& theme)
        : face(CreateSolidBrush(theme.face)),
          groupFace(CreateSolidBrush(theme.groupFace)),
          field(CreateSolidBrush(theme.field)),
          readOnlyField(CreateSolidBrush(theme.readOnlyField)) {}
    ~Brushes() {
        for (HBRUSH brush : {face, groupFace, field, readOnlyField}) {
            DeleteObject(brush);
        }
    }
    Brushes(const Brushes&) = delete;
    Brushes& operator=(const Brushes&) = delete;

    HBRUSH face;
    HBRUSH groupFace;
    HBRUSH field;
    HBRUSH readOnlyField;
};

ThemePainter::ThemePainter(std::optional<Theme> theme) : m_theme(std::move(theme)) {
    if (m_theme) {
        m_brushes = std::make_unique<Brushes>(*m_theme);
    }
}

ThemePainter::~ThemePainter() = default;

void ThemePainter::setMetrics(HFONT font, UINT dpi) {
    m_font = font;
    m_dpi = dpi;
}

int ThemePainter::scale(int value) const {
    return MulDiv(value, static_cast<int>(m_dpi), 96);
}

COLORREF ThemePainter::face() const {
    return m_theme ? m_theme->face : GetSysColor(COLOR_BTNFACE);
}

void ThemePainter::fillFace(HDC dc, const RECT& rect) const {
    fill(dc, rect, face());
}

void ThemePainter::paintContainer(HWND container, HDC dc, bool bevel) const {
    RECT client{};
    GetClientRect(container, &client);
    fill(dc, client, face());
    if (!bevel) {
        return;
    }
    if (!m_theme) {
        DrawEdge(dc, &client, BDR_RAISEDINNER, BF_RECT);
        return;
    }
    const RECT top{0, 0, client.right, 1};
    const RECT left{0, 0, 1, client.bottom};
    const RECT right{client.right - 1, 0, client.right, client.bottom};
    const RECT bottom{0, client.bottom - 1, client.right, client.bottom};
    fill(dc, top, m_theme->bevelLight);
    fill(dc, left, m_theme->bevelLight);
    fill(dc, right, m_theme->bevelDark);
    fill(dc, bottom, m_theme->bevelDark);
}

// The theme's group box: a rounded frame on the darker group surface, its caption in the
// light ruby accent on the window's face, breaking the frame's top line.
void ThemePainter::paintGroupBox(HWND groupBox, HDC dc) const {
    RECT client{};
    GetClientRect(groupBox, &client);
    fill(dc, client, m_theme->face);
    HGDIOBJ previous = SelectObject(dc, m_font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    const RECT box{0, metrics.tmHeight / 2, client.right, client.bottom};
    roundFrame(dc, box, m_theme->border, m_theme->groupFace, scale(6));

    const std::wstring caption = windowText(groupBox);
    SIZE size{};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
    const RECT behind{scale(8), 0, scale(8) + scale(3) + size.cx + scale(3), metrics.tmHeight};
    fill(dc, behind, m_theme->face);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, m_theme->accentLight);
    TextOutW(dc, scale(8) + scale(3), 0, caption.c_str(), static_cast<int>(caption.size()));
    SelectObject(dc, previous);
}

// The theme's tab control: the pane's border with a ruby top line, the tab in front in the
// ruby accent, the others raised graphite.
void ThemePainter::paintTabs(HWND tabs, HDC dc) const {
    RECT client{};
    GetClientRect(tabs, &client);
    fill(dc, client, m_theme->face);
    HGDIOBJ previous = SelectObject(dc, m_font);
    SetBkMode(dc, TRANSPARENT);

    const int count = static_cast<int>(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0));
    const int selected = static_cast<int>(SendMessageW(tabs, TCM_GETCURSEL, 0, 0));
    RECT first{};
    SendMessageW(tabs, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first));
    const RECT pane{0, first.bottom, client.right, client.bottom};
    frame(dc, pane, m_theme->border);
    fill(dc, RECT{0, first.bottom, client.right, first.bottom + scale(2)}, m_theme->accent);

    for (int i = 0; i < count; ++i) {
        RECT tab{};
        SendMessageW(tabs, TCM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&tab));
        wchar_t text[64] = {};
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = static_cast<int>(std::size(text));
        SendMessageW(tabs, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
        const bool front = i == selected;
        if (!front) {
            tab.top += scale(2);
        }
        tab.bottom = first.bottom + (front ? scale(2) : 0);
        roundFrame(dc, RECT{tab.left, tab.top, tab.right, tab.bottom + scale(3)},
                   front ? m_theme->accentBright : m_theme->border,
                   front ? m_theme->accent : m_theme->tab, scale(5));
        SetTextColor(dc, front ? RGB(255, 255, 255) : m_theme->tabText);
        DrawTextW(dc, text, -1, &tab, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
    SelectObject(dc, previous);
}

// The theme's push button: a ruby gradient, darker while pressed, graphite when disabled.
void ThemePainter::drawButton(const DRAWITEMSTRUCT& item) const {
    HDC dc = item.hDC;
    const RECT& r = item.rcItem;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    // The corners show the group box's surface behind the rounded frame.
    fill(dc, r, m_theme->groupFace);
    if (disabled || pressed) {
        roundFrame(dc, r, disabled ? m_theme->border : m_theme->buttonBorder,
                   disabled ? m_theme->tab : m_theme->accentDark, scale(6));
    } else {
        const int height = r.bottom - r.top;
        for (int y = 1; y < height - 1; ++y) {
            fill(dc, RECT{r.left + 1, r.top + y, r.right - 1, r.top + y + 1},
                 blend(m_theme->buttonTop, m_theme->buttonBottom, y, height - 2));
        }
        HPEN pen = CreatePen(PS_SOLID, 1, m_theme->buttonBorder);
        HGDIOBJ oldPen = SelectObject(dc, pen);
        HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        RoundRect(dc, r.left, r.top, r.right, r.bottom, scale(6), scale(6));
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
        DeleteObject(pen);
    }
    const std::wstring caption = windowText(item.hwndItem);
    RECT text = r;
    if (pressed) {
        OffsetRect(&text, 0, 1);
    }
    HGDIOBJ previous = SelectObject(dc, m_font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, disabled ? m_theme->disabledText : m_theme->buttonText);
    DrawTextW(dc, caption.c_str(), -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, previous);
}

// The theme's field border: one pixel, ruby while the field has the focus.
void ThemePainter::paintEditBorder(HWND edit, bool log) const {
    HDC dc = GetWindowDC(edit);
    RECT outer{};
    GetWindowRect(edit, &outer);
    OffsetRect(&outer, -outer.left, -outer.top);
    COLORREF colour = m_theme->border;
    if (GetFocus() == edit) {
        const bool readOnly = (GetWindowLongPtrW(edit, GWL_STYLE) & ES_READONLY) != 0;
        colour = log || readOnly ? m_theme->accent : m_theme->accentBright;
    }
    frame(dc, outer, colour);
    ReleaseDC(edit, dc);
}

LRESULT ThemePainter::controlColour(HWND control, HDC dc, UINT message, bool log,
                                    bool onGroup) const {
    if (message == WM_CTLCOLOREDIT || log) {
        SetTextColor(dc, log ? m_theme->logText : m_theme->text);
        SetBkColor(dc, m_theme->field);
        return reinterpret_cast<LRESULT>(m_brushes->field);
    }
    if (hasClass(control, WC_EDITW)) {
        // A read-only field.
        SetTextColor(dc, m_theme->readOnlyText);
        SetBkColor(dc, m_theme->readOnlyField);
        return reinterpret_cast<LRESULT>(m_brushes->readOnlyField);
    }
    SetTextColor(dc, IsWindowEnabled(control) ? m_theme->text : m_theme->disabledText);
    SetBkColor(dc, onGroup ? m_theme->groupFace : m_theme->face);
    return reinterpret_cast<LRESULT>(onGroup ? m_brushes->groupFace : m_brushes->face);
}

}  // namespace quelvar
