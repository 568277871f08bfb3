#include "app/win32/TfmPrincipal.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <type_traits>

#include "app/win32/DpiLayout.h"
#include "app/win32/EventErrorBox.h"
#include "app/win32/MessageCourier.h"
#include "app/win32/Resources.h"
#include "app/win32/SystemFunction.h"
#include "app/win32/ThemePainter.h"
#include "app/win32/WindowCheckTab.h"
#include "app/win32/WindowMessages.h"
#include "base/Error.h"
#include "checks/ExternalCheck.h"
#include "checks/Product.h"
#include "form/ApiTabSettings.h"
#include "form/MainForm.h"
#include "form/ServiceComponents.h"
#include "text/win32/WideText.h"

namespace quelvar {

namespace {

constexpr const wchar_t* kWindowClass = L"TfmPrincipal";
constexpr const wchar_t* kContainerClass = L"QuelvarPanel";
constexpr int kClientWidth = MainForm::kClientWidth;
constexpr int kClientHeight = MainForm::kClientHeight;
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
// A tool-window frame (small caption, close button only) that still has a task-bar button.
constexpr DWORD kWindowExtendedStyle = WS_EX_TOOLWINDOW | WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
// The container's GWLP_USERDATA: whether it draws a raised bevel.
constexpr LONG_PTR kBevel = 1;

ATOM g_windowClass = 0;

HINSTANCE instance() {
    return GetModuleHandleW(nullptr);
}

// Turns the visual styles off for a control, so that the classic drawing takes the colours of
// WM_CTLCOLOR* and of the control's own colour messages. uxtheme.dll is loaded from the system
// directory when first needed.
void withoutVisualStyles(HWND control) {
    using SetWindowThemeFunction = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    static const auto setWindowTheme =
        systemFunction<SetWindowThemeFunction>(L"uxtheme.dll", "SetWindowTheme");
    if (setWindowTheme != nullptr) {
        setWindowTheme(control, L"", L"");
    }
}

// Registers the window's class and the containers' class once per process, after the common
// controls the window uses; throws Error when that fails.
void registerClasses(WNDPROC windowProcedure, WNDPROC containerProcedure) {
    if (g_windowClass != 0) {
        return;
    }
    INITCOMMONCONTROLSEX controls{sizeof(controls),
                                  ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSEXW container{};
    container.cbSize = sizeof(container);
    container.lpfnWndProc = containerProcedure;
    container.hInstance = instance();
    container.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    container.lpszClassName = kContainerClass;
    if (RegisterClassExW(&container) == 0) {
        throw Error("Cannot register the window class");
    }
    WNDCLASSEXW window{};
    window.cbSize = sizeof(window);
    window.lpfnWndProc = windowProcedure;
    window.hInstance = instance();
    window.hIcon = LoadIconW(instance(), MAKEINTRESOURCEW(QUELVAR_ICON));
    window.hIconSm = static_cast<HICON>(LoadImageW(instance(), MAKEINTRESOURCEW(QUELVAR_ICON),
                                                   IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                   GetSystemMetrics(SM_CYSMICON), 0));
    window.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window.lpszClassName = kWindowClass;
    g_windowClass = RegisterClassExW(&window);
    if (g_windowClass == 0) {
        throw Error("Cannot register the window class");
    }
}

bool isUserInput(const MSG& message) {
    const UINT id = message.message;
    // Alt+F4 stays usable, as the caption's close button does: the close it asks for waits for
    // the run.
    if (id == WM_SYSKEYDOWN && message.wParam == VK_F4) {
        return false;
    }
    if (id >= WM_KEYFIRST && id <= WM_KEYLAST) {
        return true;
    }
    if (id > WM_MOUSEMOVE && id <= WM_MOUSELAST) {
        return true;
    }
    // The caption's close button stays usable: the close it asks for waits for the run.
    if ((id >= WM_NCLBUTTONDOWN && id <= WM_NCXBUTTONDBLCLK) && message.wParam != HTCLOSE) {
        return true;
    }
    return false;
}

RECT logicalRect(const FormRect& rect) {
    return {rect.left, rect.top, rect.left + rect.width, rect.top + rect.height};
}

bool hasClass(HWND window, const wchar_t* name) {
    wchar_t buffer[32] = {};
    GetClassNameW(window, buffer, static_cast<int>(std::size(buffer)));
    return CompareStringOrdinal(buffer, -1, name, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

TfmPrincipal::TfmPrincipal(CheckRunSettings runSettings, std::optional<Theme> theme)
    : RESTRequest1(RESTClient1, RESTResponse1),
      m_runSettings(std::move(runSettings)),
      m_painter(std::move(theme)) {
    setUpServiceComponents(RESTClient1, RESTRequest1, m_runSettings.statusEndpoint);

    registerClasses(windowProcedure, containerProcedure);

    m_green = std::make_unique<Picture>(instance(), QUELVAR_GREEN_PICTURE);
    m_red = std::make_unique<Picture>(instance(), QUELVAR_RED_PICTURE);

    // Made at the system DPI, then laid out again for the DPI of the monitor it is on.
    m_layout.setDpi(DpiLayout::dpiOf(nullptr));
    RECT frame{0, 0, scale(kClientWidth), scale(kClientHeight)};
    AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExtendedStyle);
    CreateWindowExW(kWindowExtendedStyle, kWindowClass, toWide(MainForm::kCaption).c_str(),
                    kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                    frame.bottom - frame.top, nullptr, nullptr, instance(), this);
    if (m_window == nullptr) {
        throw Error("Cannot create the main window");
    }
    updateDpi(DpiLayout::dpiOf(m_window));
    createControls();
    setTabOrders();
    m_layout.layOut();
    m_layout.resizeToClient(m_window, kClientWidth, kClientHeight);

    // The check runs' view of each tab, from the controls the form names.
    const auto checkTab = [this](CheckKind kind) {
        const FormTab& tab = MainForm::tab(kind);
        WindowCheckTab::Controls controls{m_controls.at(tab.externo),
                                          m_controls.at(tab.interno),
                                          m_controls.at(tab.https),
                                          m_controls.at(tab.log),
                                          {}};
        for (std::size_t i = 0; i < tab.indicators.size(); ++i) {
            controls.indicators[i] = m_controls.at(tab.indicators[i]);
        }
        return std::make_unique<WindowCheckTab>(*m_courier, controls);
    };
    m_courier = std::make_unique<MessageCourier>(m_window);
    for (const CheckKind kind : {CheckKind::Api, CheckKind::Web, CheckKind::Whats}) {
        m_tabs.emplace(kind, checkTab(kind));
    }
}

TfmPrincipal::~TfmPrincipal() {
    m_destroying = true;
    if (m_window != nullptr) {
        DestroyWindow(m_window);
    }
}

int TfmPrincipal::scale(int value) const {
    return m_layout.scale(value);
}

HWND TfmPrincipal::createControl(const wchar_t* windowClass, const wchar_t* text, DWORD style,
                                 DWORD extendedStyle, HWND parent, RECT logical) {
    HWND control = CreateWindowExW(extendedStyle, windowClass, text, WS_CHILD | style, 0, 0, 0, 0,
                                   parent, nullptr, instance(), nullptr);
    if (control == nullptr) {
        throw Error("Cannot create a control of the main window");
    }
    m_layout.keep(control, logical);
    return control;
}

HWND TfmPrincipal::createContainer(HWND parent, RECT logical, bool bevel) {
    HWND container = createControl(kContainerClass, L"", WS_VISIBLE | WS_CLIPCHILDREN,
                                   WS_EX_CONTROLPARENT, parent, logical);
    SetWindowLongPtrW(container, GWLP_USERDATA, bevel ? kBevel : 0);
    return container;
}

HWND TfmPrincipal::createGroupBox(HWND parent, const std::wstring& caption, RECT logical) {
    HWND box =
        createControl(WC_BUTTONW, caption.c_str(), WS_VISIBLE | WS_CLIPCHILDREN | BS_GROUPBOX,
                      WS_EX_CONTROLPARENT, parent, logical);
    SetWindowSubclass(box, controlProcedure, 0, reinterpret_cast<DWORD_PTR>(this));
    return box;
}

// The buttons are worked with the mouse only: no tab stop, and a click does not move the
// focus (the subclass presses and releases them without the focus a push button takes).
HWND TfmPrincipal::createButton(HWND parent, const std::wstring& caption, RECT logical) {
    const DWORD look = m_painter.themed() ? BS_OWNERDRAW : BS_PUSHBUTTON;
    HWND button = createControl(WC_BUTTONW, caption.c_str(), WS_VISIBLE | look, 0, parent, logical);
    SetWindowSubclass(button, controlProcedure, 0, reinterpret_cast<DWORD_PTR>(this));
    return button;
}

LabeledEdit TfmPrincipal::createEdit(HWND parent, const std::wstring& label, RECT logical,
                                     const std::wstring& hint, bool readOnly) {
    LabeledEdit edit;
    const DWORD border = m_painter.themed() ? WS_BORDER : 0;
    const DWORD clientEdge = m_painter.themed() ? 0 : WS_EX_CLIENTEDGE;
    edit.edit = createControl(
        WC_EDITW, L"",
        WS_VISIBLE | WS_TABSTOP | border | ES_AUTOHSCROLL | (readOnly ? ES_READONLY : 0),
        clientEdge, parent, logical);
    // The label is placed from its text's size by the layout, not from a table.
    edit.label =
        CreateWindowExW(0, WC_STATICW, label.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                        0, 0, 0, 0, parent, nullptr, instance(), nullptr);
    SendMessageW(edit.label, WM_SETFONT, reinterpret_cast<WPARAM>(m_layout.font()), FALSE);
    SetWindowSubclass(edit.edit, controlProcedure, 0, reinterpret_cast<DWORD_PTR>(this));

    m_hints.emplace_back(hint);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = parent;
    tool.uId = reinterpret_cast<UINT_PTR>(edit.edit);
    tool.lpszText = m_hints.back().data();
    SendMessageW(m_toolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    return edit;
}

HWND TfmPrincipal::createCheckBox(HWND parent, const std::wstring& caption, RECT logical) {
    HWND box = createControl(WC_BUTTONW, caption.c_str(), WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
                             0, parent, logical);
    if (m_painter.themed()) {
        // With visual styles the system draws the box's text in its own colour; the classic
        // drawing takes the colours of WM_CTLCOLORSTATIC.
        withoutVisualStyles(box);
    }
    return box;
}

HWND TfmPrincipal::createLog(HWND parent, RECT logical) {
    // Multi-line and read-only, wrapping at its width (no ES_AUTOHSCROLL), without scroll
    // bars; ES_AUTOVSCROLL only lets appended lines beyond the last visible one in.
    const DWORD border = m_painter.themed() ? WS_BORDER : 0;
    const DWORD clientEdge = m_painter.themed() ? 0 : WS_EX_CLIENTEDGE;
    HWND log = createControl(
        WC_EDITW, L"",
        WS_VISIBLE | WS_TABSTOP | border | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, clientEdge,
        parent, logical);
    SendMessageW(log, EM_SETLIMITTEXT, 0, 0);
    SetWindowSubclass(log, controlProcedure, 0, reinterpret_cast<DWORD_PTR>(this));
    return log;
}

HWND TfmPrincipal::createIndicator(HWND parent, const Picture& picture, RECT logical) {
    HWND indicator = createControl(WC_STATICW, L"", SS_OWNERDRAW, 0, parent, logical);
    SetWindowLongPtrW(indicator, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&picture));
    return indicator;
}

void TfmPrincipal::createControls() {
    m_toolTip =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, m_window, nullptr, instance(), nullptr);
    m_layout.keepToolTip(m_toolTip);
    if (m_painter.themed()) {
        withoutVisualStyles(m_toolTip);
        SendMessageW(m_toolTip, TTM_SETTIPBKCOLOR, m_painter.theme()->tipFace, 0);
        SendMessageW(m_toolTip, TTM_SETTIPTEXTCOLOR, m_painter.theme()->tipText, 0);
    }
    // The tool tip keeps a pointer to each hint: no reallocation once the first is added.
    const auto rows = MainForm::controls();
    m_hints.reserve(static_cast<std::size_t>(std::count_if(
        rows.begin(), rows.end(), [](const FormControl& row) { return !row.hint.empty(); })));

    m_controls.emplace(MainForm::kName, m_window);
    MainForm::forEachMember(*this, [this](auto& member, const FormControl& row) {
        using Member = std::remove_reference_t<decltype(member)>;
        if constexpr (std::is_same_v<Member, LabeledEdit>) {
            member = createEdit(m_controls.at(row.parent), toWide(row.caption),
                                logicalRect(row.rect), toWide(row.hint), row.readOnly);
            m_controls.emplace(row.name, member.edit);
            m_layout.keepLabel(member);
        } else if constexpr (std::is_same_v<Member, HWND>) {
            member = createFromRow(row);
            m_controls.emplace(row.name, member);
        }
    });

    const int front = MainForm::sheetIndex(MainForm::kFrontSheet);
    SendMessageW(PageControl1, TCM_SETCURSEL, front, 0);
    showSheet(front);
}

// Makes the control a row of the form describes, other than a labelled edit.
HWND TfmPrincipal::createFromRow(const FormControl& row) {
    const HWND parent = m_controls.at(row.parent);
    const RECT logical = logicalRect(row.rect);
    HWND control = nullptr;
    switch (row.kind) {
        case ControlKind::Container:
            control = createContainer(parent, logical, false);
            break;
        case ControlKind::TabControl:
            control = createControl(WC_TABCONTROLW, L"", WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS,
                                    0, parent, logical);
            if (m_painter.themed()) {
                SetWindowSubclass(control, controlProcedure, 0, reinterpret_cast<DWORD_PTR>(this));
            }
            break;
        case ControlKind::TabSheet: {
            std::wstring caption = toWide(row.caption);
            TCITEMW item{};
            item.mask = TCIF_TEXT;
            item.pszText = caption.data();
            SendMessageW(parent, TCM_INSERTITEMW, MainForm::sheetIndex(row.name),
                         reinterpret_cast<LPARAM>(&item));
            // The sheets lie over the tab control's display area, siblings above it, so that
            // the Tab key goes from the tab control into the sheet in front.
            const FormRect& tabs = MainForm::control(row.parent).rect;
            RECT over = logical;
            OffsetRect(&over, tabs.left, tabs.top);
            control = createContainer(GetParent(parent), over, false);
            break;
        }
        case ControlKind::BevelPanel:
            control = createContainer(parent, logical, true);
            break;
        case ControlKind::GroupBox:
            control = createGroupBox(parent, toWide(row.caption), logical);
            break;
        case ControlKind::Button:
            control = createButton(parent, toWide(row.caption), logical);
            break;
        case ControlKind::CheckBox:
            control = createCheckBox(parent, toWide(row.caption), logical);
            break;
        case ControlKind::LogBox:
            control = createLog(parent, logical);
            break;
        case ControlKind::GreenIndicator:
            control = createIndicator(parent, *m_green, logical);
            break;
        case ControlKind::RedIndicator:
            control = createIndicator(parent, *m_red, logical);
            break;
        case ControlKind::Component:
        case ControlKind::LabeledEdit:
            throw Error("Not a control of its own: " + std::string(row.name));
    }
    if (!row.enabled) {
        EnableWindow(control, FALSE);
    }
    return control;
}

// The tab order among the children of one parent is their order from the top of the Z order;
// each list is moved to the bottom in turn, so it ends up in that order.
void TfmPrincipal::setTabOrders() {
    const auto order = [](const std::vector<HWND>& controls) {
        for (HWND control : controls) {
            SetWindowPos(control, HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    };
    // The sheets above the tab control that they lie over.
    order({TabSheet1, TabSheet2, TabSheet3, PageControl1});
    for (const FormControl& row : MainForm::controls()) {
        if (row.kind == ControlKind::BevelPanel || row.kind == ControlKind::GroupBox) {
            std::vector<HWND> controls;
            for (const FormControl* child : MainForm::tabOrderOf(row.name)) {
                controls.push_back(m_controls.at(child->name));
            }
            order(controls);
        }
    }
}

void TfmPrincipal::updateDpi(UINT dpi) {
    m_layout.setDpi(dpi);
    m_painter.setMetrics(m_layout.font(), dpi);
}

bool TfmPrincipal::isLog(HWND control) const {
    return control == memoAPILog || control == memoWebLog || control == memoWhatsLog;
}

void TfmPrincipal::showSheet(int index) {
    const HWND sheets[] = {TabSheet1, TabSheet2, TabSheet3};
    for (int i = 0; i < 3; ++i) {
        ShowWindow(sheets[i], i == index ? SW_SHOWNA : SW_HIDE);
    }
}

void TfmPrincipal::show() {
    ShowWindow(m_window, SW_SHOW);
    if (m_window != nullptr) {
        UpdateWindow(m_window);
    }
}

int TfmPrincipal::exec() {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        dispatch(message);
    }
    return static_cast<int>(message.wParam);
}

void TfmPrincipal::dispatch(MSG& message) {
    HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    if (root != nullptr && fromHandle(root) != nullptr && IsDialogMessageW(root, &message)) {
        return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void TfmPrincipal::TestaPortas(std::wstring_view tipo) {
    // UTF-16 both: wchar_t is 16 bits wide on Windows.
    testaPortasUtf16(
        std::u16string_view(reinterpret_cast<const char16_t*>(tipo.data()), tipo.size()));
}

void TfmPrincipal::carregarConfig() {
    readApiTabSettings(
        [this](std::string_view field, const std::u16string& text) {
            SetWindowTextW(m_controls.at(field), reinterpret_cast<const wchar_t*>(text.c_str()));
        },
        [this](std::string_view box, bool checked) {
            SendMessageW(m_controls.at(box), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
        });
}

void TfmPrincipal::runTabCheck(CheckKind kind) {
    runTabCheckOnWorker(kind, *m_tabs.at(kind),
                        ServiceProfile{RESTClient1, RESTRequest1, RESTResponse1}, m_runSettings);
}

void TfmPrincipal::showBusy(bool busy) {
    SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

void TfmPrincipal::waitForRun(const std::atomic<bool>& ended) {
    bool quit = false;
    WPARAM quitCode = 0;
    MSG message{};
    while (!ended) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            // A quit asked for during the run ends the program's loop after it.
            quit = true;
            quitCode = message.wParam;
            continue;
        }
        if (got < 0 || isUserInput(message)) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (quit) {
        PostQuitMessage(static_cast<int>(quitCode));
    }
}

void TfmPrincipal::wakeFromRun() {
    PostMessageW(m_window, WM_NULL, 0, 0);
}

void TfmPrincipal::closeAfterRun() {
    SendMessageW(m_window, WM_CLOSE, 0, 0);
}

template <typename Handler>
void TfmPrincipal::handleEvent(Handler handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        EventErrorBox::show(m_window, error.what());
    }
}

TfmPrincipal* TfmPrincipal::fromHandle(HWND window) {
    if (window == nullptr || g_windowClass == 0 ||
        GetClassLongPtrW(window, GCW_ATOM) != static_cast<ULONG_PTR>(g_windowClass)) {
        return nullptr;
    }
    return reinterpret_cast<TfmPrincipal*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

LRESULT CALLBACK TfmPrincipal::windowProcedure(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<TfmPrincipal*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->m_window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TfmPrincipal*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->m_window = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->handleMessage(message, wParam, lParam);
}

LRESULT TfmPrincipal::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kInvokeMessage:
            (*reinterpret_cast<const std::function<void()>*>(lParam))();
            return 0;
        case WM_SHOWWINDOW:
            // The show event: raised whenever ShowWindow takes the window from hidden to shown
            // (lParam 0; the system's own shows, as of an owner being restored, carry a
            // reason), before the window is visible.
            if (wParam != FALSE && lParam == 0) {
                handleEvent([this] { FormShow(m_window); });
            }
            break;
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {
                const auto sender = reinterpret_cast<HWND>(lParam);
                if (sender == btnTestarPortasApi) {
                    handleEvent([this, sender] { btnTestarPortasApiClick(sender); });
                } else if (sender == btnTestarPortasWeb) {
                    handleEvent([this, sender] { btnTestarPortasWebClick(sender); });
                } else if (sender == btnTestarPortasWhats) {
                    handleEvent([this, sender] { btnTestarPortasWhatsClick(sender); });
                }
            }
            return 0;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->hwndFrom == PageControl1 && header->code == TCN_SELCHANGE) {
                showSheet(static_cast<int>(SendMessageW(PageControl1, TCM_GETCURSEL, 0, 0)));
            }
            return 0;
        }
        case WM_DRAWITEM: {
            const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item.CtlType == ODT_BUTTON) {
                m_painter.drawButton(item);
            } else if (item.CtlType == ODT_STATIC) {
                const auto* picture = reinterpret_cast<const Picture*>(
                    GetWindowLongPtrW(item.hwndItem, GWLP_USERDATA));
                if (picture != nullptr) {
                    picture->drawClipped(item.hDC, item.rcItem);
                }
            }
            return TRUE;
        }
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            if (m_painter.themed()) {
                const auto control = reinterpret_cast<HWND>(lParam);
                const HWND parent = GetParent(control);
                return m_painter.controlColour(
                    control, reinterpret_cast<HDC>(wParam), message, isLog(control),
                    parent == GroupBox1 || parent == GroupBox2 || parent == GroupBox3);
            }
            break;
        case WM_ERASEBKGND: {
            RECT client{};
            GetClientRect(m_window, &client);
            m_painter.fillFace(reinterpret_cast<HDC>(wParam), client);
            return TRUE;
        }
        case WM_NEXTDLGCTL: {
            // Sent by a multi-line edit on Tab; a window that is not a dialog moves the focus
            // itself.
            HWND next = lParam != 0 ? reinterpret_cast<HWND>(wParam)
                                    : GetNextDlgTabItem(m_window, GetFocus(), wParam != 0);
            if (next != nullptr) {
                SetFocus(next);
            }
            return 0;
        }
        case WM_SETCURSOR:
            if (isRunning()) {
                SetCursor(LoadCursorW(nullptr, IDC_WAIT));
                return TRUE;
            }
            break;
        case WM_DPICHANGED: {
            updateDpi(LOWORD(wParam));
            m_layout.layOut();
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(m_window, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            m_layout.resizeToClient(m_window, kClientWidth, kClientHeight);
            RedrawWindow(m_window, nullptr, nullptr,
                         RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
            return 0;
        }
        case WM_CLOSE:
            // A close asked for during a run is carried out once the run has ended.
            if (!mayCloseNow()) {
                return 0;
            }
            DestroyWindow(m_window);
            return 0;
        case WM_DESTROY:
            // Closing the main window ends the program; a window destroyed by its owner, as
            // the tests do, leaves the loop alone.
            if (!m_destroying) {
                PostQuitMessage(0);
            }
            return 0;
        default:
            break;
    }
    return DefWindowProcW(m_window, message, wParam, lParam);
}

namespace {

// Returns whether the message is one a control reports to its parent, which every container
// between a control and the main window hands on to the main window: commands, notifications,
// owner drawing, control colours and the focus move of a multi-line edit.
bool reportsToWindow(UINT message) {
    switch (message) {
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_DRAWITEM:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_NEXTDLGCTL:
            return true;
        default:
            return false;
    }
}

}  // namespace

// The containers hand what their controls report on to the main window, and draw their
// surface (and the sheets' panels their raised bevel).
LRESULT CALLBACK TfmPrincipal::containerProcedure(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
    TfmPrincipal* self = fromHandle(GetAncestor(window, GA_ROOT));
    if (self != nullptr && reportsToWindow(message)) {
        return SendMessageW(self->m_window, message, wParam, lParam);
    }
    switch (message) {
        case WM_ERASEBKGND:
            return TRUE;
        case WM_PAINT:
            if (self != nullptr) {
                PAINTSTRUCT paint{};
                HDC dc = BeginPaint(window, &paint);
                self->m_painter.paintContainer(window, dc,
                                               GetWindowLongPtrW(window, GWLP_USERDATA) == kBevel);
                EndPaint(window, &paint);
                return 0;
            }
            break;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK TfmPrincipal::controlProcedure(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam, UINT_PTR /*id*/, DWORD_PTR data) {
    auto* self = reinterpret_cast<TfmPrincipal*>(data);
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, controlProcedure, 0);
        return DefSubclassProc(window, message, wParam, lParam);
    }
    bool handled = false;
    const LRESULT result = self->handleControlMessage(window, message, wParam, lParam, handled);
    return handled ? result : DefSubclassProc(window, message, wParam, lParam);
}

LRESULT TfmPrincipal::handleControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                           bool& handled) {
    handled = true;
    const bool button = control == btnTestarPortasApi || control == btnTestarPortasWeb ||
                        control == btnTestarPortasWhats;
    const bool groupBox = control == GroupBox1 || control == GroupBox2 || control == GroupBox3;
    if (button) {
        switch (message) {
            case WM_LBUTTONDOWN:
            case WM_LBUTTONDBLCLK:
                SetCapture(control);
                SendMessageW(control, BM_SETSTATE, TRUE, 0);
                return 0;
            case WM_MOUSEMOVE:
                if (GetCapture() == control) {
                    RECT client{};
                    GetClientRect(control, &client);
                    const POINT at{static_cast<short>(LOWORD(lParam)),
                                   static_cast<short>(HIWORD(lParam))};
                    SendMessageW(control, BM_SETSTATE, PtInRect(&client, at), 0);
                }
                return 0;
            case WM_LBUTTONUP: {
                if (GetCapture() != control) {
                    return 0;
                }
                const bool pressed = (SendMessageW(control, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0;
                ReleaseCapture();
                SendMessageW(control, BM_SETSTATE, FALSE, 0);
                if (pressed) {
                    SendMessageW(GetParent(control), WM_COMMAND,
                                 MAKEWPARAM(GetDlgCtrlID(control), BN_CLICKED),
                                 reinterpret_cast<LPARAM>(control));
                }
                return 0;
            }
            case WM_CAPTURECHANGED:
                SendMessageW(control, BM_SETSTATE, FALSE, 0);
                return 0;
            case WM_KEYDOWN:
            case WM_KEYUP:
            case WM_CHAR:
                return 0;
            default:
                break;
        }
    } else if (groupBox) {
        if (reportsToWindow(message)) {
            return SendMessageW(m_window, message, wParam, lParam);
        }
        switch (message) {
            case WM_ERASEBKGND:
                if (m_painter.themed()) {
                    return TRUE;
                }
                break;
            case WM_PAINT:
                if (m_painter.themed()) {
                    PAINTSTRUCT paint{};
                    HDC dc = BeginPaint(control, &paint);
                    m_painter.paintGroupBox(control, dc);
                    EndPaint(control, &paint);
                    return 0;
                }
                break;
            default:
                break;
        }
    } else if (control == PageControl1 && m_painter.themed()) {
        if (message == WM_ERASEBKGND) {
            return TRUE;
        }
        if (message == WM_PAINT) {
            PAINTSTRUCT paint{};
            HDC dc = BeginPaint(control, &paint);
            m_painter.paintTabs(PageControl1, dc);
            EndPaint(control, &paint);
            return 0;
        }
    } else if (hasClass(control, WC_EDITW) && m_painter.themed()) {
        if (message == WM_NCPAINT) {
            m_painter.paintEditBorder(control, isLog(control));
            return 0;
        }
        if (message == WM_SETFOCUS || message == WM_KILLFOCUS) {
            DefSubclassProc(control, message, wParam, lParam);
            RedrawWindow(control, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
            return 0;
        }
    }
    handled = false;
    return 0;
}

}  // namespace quelvar
