// The Windows main window through its own controls, in process under Wine and Xvfb: control
// kinds, layout, texts, hints, tab order, states, the dispatch, the settings file read at the
// first show with its error box, the theme and its absence, DPI scaling, and runs clicked
// against loopback servers.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

#include "app/win32/EventErrorBox.h"
#include "app/win32/Startup.h"
#include "app/win32/TfmPrincipal.h"
#include "app/win32/Theme.h"
#include "app/win32/WindowCheckTab.h"
#include "form/MainForm.h"
#include "settings/SettingsFile.h"
#include "tests/app/win32/BoxCatcher.h"
#include "tests/checks/HttpMessages.h"
#include "tests/fixtures/Certificates.h"
#include "tests/fixtures/HeldFile.h"
#include "tests/fixtures/LoopbackSocket.h"
#include "tests/fixtures/ScriptedServer.h"
#include "tests/fixtures/TestFiles.h"
#include "tests/fixtures/Wine.h"
#include "tests/form/ConfigFile.h"
#include "tests/form/RunScenarios.h"
#include "tests/form/TabCycle.h"
#include "text/win32/WideText.h"

namespace quelvar {
namespace {

using namespace std::chrono_literals;
using test::BoxCatcher;
using test::CaughtBox;
using test::configPath;
using test::Exchange;
using test::httpReply;
using test::removeConfig;
using test::responseReply;
using test::ScriptedServer;
using test::textReply;
using test::writeConfig;

const std::wstring kExternalStart = toWide(test::kExternalStart);
const std::wstring kSeparatorAndInternalStart = toWide(test::kSeparatorAndInternalStart);

bool isIndicator(const FormControl& row) {
    return row.kind == ControlKind::GreenIndicator || row.kind == ControlKind::RedIndicator;
}

// Each control of the window by its member's name (the field of a labelled edit), and the
// window by its own.
std::map<std::string_view, HWND> controlsByName(TfmPrincipal& w) {
    std::map<std::string_view, HWND> controls{{MainForm::kName, w.handle()}};
    MainForm::forEachMember(w, [&controls](auto& member, const FormControl& row) {
        using Member = std::remove_cvref_t<decltype(member)>;
        if constexpr (std::is_same_v<Member, HWND>) {
            controls.emplace(row.name, member);
        } else if constexpr (std::is_same_v<Member, LabeledEdit>) {
            controls.emplace(row.name, member.edit);
        }
    });
    return controls;
}

// The window class of the control the window makes for a kind.
std::wstring classOfKind(ControlKind kind) {
    switch (kind) {
        case ControlKind::Container:
        case ControlKind::TabSheet:
        case ControlKind::BevelPanel:
            return L"QuelvarPanel";
        case ControlKind::TabControl:
            return WC_TABCONTROLW;
        case ControlKind::GroupBox:
        case ControlKind::Button:
        case ControlKind::CheckBox:
            return L"Button";
        case ControlKind::LabeledEdit:
        case ControlKind::LogBox:
            return L"Edit";
        case ControlKind::GreenIndicator:
        case ControlKind::RedIndicator:
            return L"Static";
        case ControlKind::Component:
            break;
    }
    return {};
}

RECT rectOf(const FormRect& rect) {
    return {rect.left, rect.top, rect.left + rect.width, rect.top + rect.height};
}

// Lets the thread's windows handle what is queued for the given time, as the program's loop
// does; a quit posted by a closed window is dropped.
void pump(DWORD milliseconds = 50) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    do {
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT) {
                TfmPrincipal::dispatch(message);
            }
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount64() < end);
}

CheckRunSettings quickSettings(const std::string& statusEndpoint = {}) {
    CheckRunSettings settings;
    settings.statusEndpoint =
        statusEndpoint.empty()
            ? "http://127.0.0.1:" + std::to_string(test::refusingPort()) + "/v1/status"
            : statusEndpoint;
    settings.pause = 0ms;
    settings.directTimeouts.connect = 5000ms;
    settings.directTimeouts.read = 5000ms;
    return settings;
}

std::optional<Theme> rubyGraphite() {
    return ThemeRegistry().find(L"Ruby Graphite");
}

std::wstring classOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

LONG_PTR styleOf(HWND window) {
    return GetWindowLongPtrW(window, GWL_STYLE);
}

// Whether the control itself is shown, whatever its sheet.
bool shown(HWND window) {
    return (styleOf(window) & WS_VISIBLE) != 0;
}

RECT rectInParent(HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::string describe(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " +
           std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top);
}

// Shows the window as the program does and returns the boxes its show raised.
std::vector<CaughtBox> showWindow(TfmPrincipal& window) {
    BoxCatcher catcher;
    window.show();
    pump(100);
    return catcher.boxes();
}

// The system's text for an error in a message box: trimmed, and the box's full stop.
std::wstring cannotOpenBox(DWORD error) {
    return L"Cannot open file \"" + configPath().native() + L"\". " + toWide(systemMessage(error)) +
           L".";
}

class WindowWinTest : public testing::Test {
protected:
    // Every window reads config.js at its show; an empty one changes nothing.
    void SetUp() override { writeConfig(""); }
    void TearDown() override {
        pump(20);
        removeConfig();
    }
};

TEST_F(WindowWinTest, FrameFontAndServiceProfileMembers) {
    TfmPrincipal w(quickSettings(), rubyGraphite());
    const HWND window = w.handle();
    EXPECT_EQ(classOf(window), toWide(MainForm::kClassName));
    EXPECT_EQ(windowText(window), toWide(MainForm::kCaption));
    EXPECT_FALSE(IsWindowVisible(window));
    const LONG_PTR style = styleOf(window);
    const LONG_PTR extended = GetWindowLongPtrW(window, GWL_EXSTYLE);
    EXPECT_TRUE(extended & WS_EX_TOOLWINDOW);
    EXPECT_TRUE(extended & WS_EX_APPWINDOW);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_POPUP));
    EXPECT_FALSE(extended & WS_EX_CONTEXTHELP);
    EXPECT_EQ(GetParent(window), nullptr);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(describe(client), "0,0 645x309");
    EXPECT_EQ(w.dpi(), 96u);

    // Tahoma 8 points (11 pixels at 96 DPI) on every control.
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(w.edtWebExterno, WM_GETFONT, 0, 0)),
               sizeof(font), &font);
    EXPECT_EQ(font.lfHeight, -11);
    EXPECT_EQ(std::wstring(font.lfFaceName), L"Tahoma");
    // The font drawn is Tahoma itself, not a stand-in of another width.
    HDC dc = GetDC(window);
    SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(w.cbWebHttps, WM_GETFONT, 0, 0)));
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    ReleaseDC(window, dc);
    EXPECT_EQ(std::wstring(face), L"Tahoma");
    for (HWND control : {w.memoWhatsLog, w.btnTestarPortasApi, w.GroupBox2, w.cbWebHttps,
                         w.edtApiExterno.label, w.PageControl1}) {
        EXPECT_EQ(SendMessageW(control, WM_GETFONT, 0, 0),
                  SendMessageW(w.edtWebExterno, WM_GETFONT, 0, 0));
    }

    // The run settings by default, and the service-profile members as the window makes them.
    TfmPrincipal defaults;
    EXPECT_EQ(defaults.runSettings().pause, 1000ms);
    EXPECT_EQ(defaults.runSettings().statusEndpoint, std::string(QUELVAR_STATUS_URL));
    EXPECT_EQ(w.RESTClient1.accept(), "application/json, text/plain; q=0.9, text/html;q=0.8,");
    EXPECT_EQ(w.RESTClient1.acceptCharset(), "UTF-8, *;q=0.8");
    EXPECT_EQ(w.RESTClient1.contentType(), "application/json");
    EXPECT_FALSE(w.RESTClient1.raiseExceptionOn500());
    EXPECT_TRUE(w.RESTClient1.baseURL().ends_with("/v1/status"));
    EXPECT_EQ(w.RESTRequest1.method(), RestMethod::Post);
    EXPECT_TRUE(w.RESTRequest1.parameters().empty());
    EXPECT_EQ(&w.RESTRequest1.client(), &w.RESTClient1);
    EXPECT_EQ(&w.RESTRequest1.response(), &w.RESTResponse1);
}

TEST_F(WindowWinTest, ControlsKindsAndGeometry) {
    TfmPrincipal w(quickSettings(), rubyGraphite());
    const auto controls = controlsByName(w);
    std::size_t members = 0;
    MainForm::forEachMember(w, [&members](auto&, const FormControl&) { ++members; });
    EXPECT_EQ(members, MainForm::controls().size());
    for (const FormControl& row : MainForm::controls()) {
        if (row.kind == ControlKind::Component) {
            continue;
        }
        SCOPED_TRACE(std::string(row.name));
        const HWND control = controls.at(row.name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(classOf(control), classOfKind(row.kind));
        RECT rect = rectOf(row.rect);
        if (row.kind == ControlKind::TabSheet) {
            // The sheets lie over the tab control's display area, its siblings.
            const HWND tabs = controls.at(row.parent);
            EXPECT_EQ(GetParent(control), GetParent(tabs));
            const RECT over = rectInParent(tabs);
            OffsetRect(&rect, over.left, over.top);
        } else {
            EXPECT_EQ(GetParent(control), controls.at(row.parent));
        }
        EXPECT_EQ(describe(rectInParent(control)), describe(rect));

        // The kinds within the classes: group boxes, check boxes, buttons that draw themselves
        // in the theme, indicators drawing their pictures, multi-line read-only logs without
        // scroll bars that wrap (no ES_AUTOHSCROLL); and the captions.
        const LONG_PTR style = styleOf(control);
        switch (row.kind) {
            case ControlKind::GroupBox:
                EXPECT_EQ(style & BS_TYPEMASK, BS_GROUPBOX);
                break;
            case ControlKind::CheckBox:
                EXPECT_EQ(style & BS_TYPEMASK, BS_AUTOCHECKBOX);
                break;
            case ControlKind::Button:
                EXPECT_EQ(style & BS_TYPEMASK, BS_OWNERDRAW);
                break;
            case ControlKind::LogBox:
                EXPECT_TRUE(style & ES_MULTILINE);
                EXPECT_TRUE(style & ES_READONLY);
                EXPECT_FALSE(style & (ES_AUTOHSCROLL | WS_HSCROLL | WS_VSCROLL));
                break;
            case ControlKind::GreenIndicator:
            case ControlKind::RedIndicator:
                EXPECT_EQ(style & SS_TYPEMASK, SS_OWNERDRAW);
                break;
            default:
                break;
        }
        if (row.kind == ControlKind::GroupBox || row.kind == ControlKind::CheckBox ||
            row.kind == ControlKind::Button) {
            EXPECT_EQ(windowText(control), toWide(row.caption));
        }
    }
    // Tabs in order, without icons.
    const std::vector<const FormControl*> sheets = MainForm::childrenOf("PageControl1");
    ASSERT_EQ(SendMessageW(w.PageControl1, TCM_GETITEMCOUNT, 0, 0),
              static_cast<LRESULT>(sheets.size()));
    for (const FormControl* sheet : sheets) {
        wchar_t text[32] = {};
        TCITEMW item{};
        item.mask = TCIF_TEXT | TCIF_IMAGE;
        item.pszText = text;
        item.cchTextMax = 32;
        SendMessageW(w.PageControl1, TCM_GETITEMW, MainForm::sheetIndex(sheet->name),
                     reinterpret_cast<LPARAM>(&item));
        EXPECT_EQ(std::wstring(text), toWide(sheet->caption));
        EXPECT_EQ(item.iImage, -1);
    }
}

TEST_F(WindowWinTest, LabelsSitLeftOfTheirFields) {
    TfmPrincipal w(quickSettings(), rubyGraphite());
    std::vector<std::pair<const LabeledEdit*, std::wstring>> edits;
    MainForm::forEachMember(w, [&edits](auto& member, const FormControl& row) {
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(member)>, LabeledEdit>) {
            edits.emplace_back(&member, toWide(row.caption));
        }
    });
    ASSERT_EQ(edits.size(), 6u);
    HDC dc = GetDC(w.handle());
    SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(w.edtWebExterno, WM_GETFONT, 0, 0)));
    for (const auto& [edit, text] : edits) {
        SCOPED_TRACE(fromWide(text));
        EXPECT_EQ(windowText(edit->label), text);
        EXPECT_EQ(classOf(edit->label), L"Static");
        EXPECT_EQ(GetParent(edit->label), GetParent(edit->edit));
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        const RECT label = rectInParent(edit->label);
        const RECT field = rectInParent(edit->edit);
        EXPECT_EQ(label.right - label.left, size.cx);
        EXPECT_EQ(label.right, field.left - MainForm::kLabelSpacing);
        const int labelMiddle = (label.top + label.bottom) / 2;
        const int fieldMiddle = (field.top + field.bottom) / 2;
        EXPECT_LE(std::abs(labelMiddle - fieldMiddle), 1);
    }
    ReleaseDC(w.handle(), dc);
}

TEST_F(WindowWinTest, HintsAreShownByTheirFields) {
    TfmPrincipal w(quickSettings(), rubyGraphite());
    const auto controls = controlsByName(w);
    std::vector<std::pair<HWND, std::wstring>> hints;
    for (const FormControl& row : MainForm::controls()) {
        if (!row.hint.empty()) {
            hints.emplace_back(controls.at(row.name), toWide(row.hint));
        }
    }
    EXPECT_EQ(SendMessageW(w.toolTip(), TTM_GETTOOLCOUNT, 0, 0),
              static_cast<LRESULT>(hints.size()));
    for (const auto& [field, hint] : hints) {
        SCOPED_TRACE(fromWide(hint));
        wchar_t text[512] = {};
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.hwnd = GetParent(field);
        tool.uId = reinterpret_cast<UINT_PTR>(field);
        tool.lpszText = text;
        ASSERT_TRUE(
            SendMessageW(w.toolTip(), TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool)));
        // The field itself is the tool, watched for the mouse resting on it.
        EXPECT_EQ(tool.uFlags & (TTF_IDISHWND | TTF_SUBCLASS), TTF_IDISHWND | TTF_SUBCLASS);
        tool.lpszText = text;
        SendMessageW(w.toolTip(), TTM_GETTEXTW, std::size(text), reinterpret_cast<LPARAM>(&tool));
        EXPECT_EQ(std::wstring(text), hint);
    }
    // A maximum width lets the tool tip break the hints at their CR LF.
    EXPECT_GT(SendMessageW(w.toolTip(), TTM_GETMAXTIPWIDTH, 0, 0), 0);
}

// The tab-ordered children of a parent (tab stops and containers), top of the Z order first.
std::vector<HWND> tabOrder(HWND parent) {
    std::vector<HWND> order;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if ((styleOf(child) & WS_TABSTOP) != 0 ||
            (GetWindowLongPtrW(child, GWL_EXSTYLE) & WS_EX_CONTROLPARENT) != 0) {
            order.push_back(child);
        }
    }
    return order;
}

TEST_F(WindowWinTest, TabOrdersAndButtonsOutsideThem) {
    TfmPrincipal w(quickSettings(), rubyGraphite());
    using List = std::vector<HWND>;
    const auto controls = controlsByName(w);
    const auto handles = [&controls](const std::vector<std::string_view>& names) {
        List list;
        for (std::string_view name : names) {
            list.push_back(controls.at(name));
        }
        return list;
    };
    for (const FormControl& row : MainForm::controls()) {
        SCOPED_TRACE(std::string(row.name));
        if (row.kind == ControlKind::BevelPanel || row.kind == ControlKind::GroupBox) {
            std::vector<std::string_view> ordered;
            for (const FormControl* child : MainForm::tabOrderOf(row.name)) {
                ordered.push_back(child->name);
            }
            EXPECT_EQ(tabOrder(controls.at(row.name)), handles(ordered));
        }
        if (row.kind == ControlKind::Button) {
            EXPECT_FALSE(styleOf(controls.at(row.name)) & WS_TABSTOP);
        }
    }
    showWindow(w);

    // The Tab key, through the program's loop, on each tab: the sheets behind are skipped, and
    // so is the disabled HTTPS box of the API tab.
    const auto cycle = [&](int tab) {
        RECT item{};
        SendMessageW(w.PageControl1, TCM_GETITEMRECT, tab, reinterpret_cast<LPARAM>(&item));
        const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
        SendMessageW(w.PageControl1, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(w.PageControl1, WM_LBUTTONUP, 0, at);
        pump(20);
        SetFocus(w.PageControl1);
        List seen;
        for (int i = 0; i < 6; ++i) {
            MSG tabKey{GetFocus(), WM_KEYDOWN, VK_TAB, 0x000F0001, 0, {}};
            TfmPrincipal::dispatch(tabKey);
            pump(10);
            seen.push_back(GetFocus());
            if (GetFocus() == w.PageControl1) {
                break;
            }
        }
        return seen;
    };
    // The sheet in front first, as the window opens.
    std::vector<const FormControl*> sheets = MainForm::childrenOf("PageControl1");
    std::stable_partition(sheets.begin(), sheets.end(), [](const FormControl* sheet) {
        return sheet->name == MainForm::kFrontSheet;
    });
    for (const FormControl* sheet : sheets) {
        SCOPED_TRACE(std::string(sheet->name));
        List expected = handles(test::tabCycle(sheet->name));
        expected.push_back(w.PageControl1);
        EXPECT_EQ(cycle(MainForm::sheetIndex(sheet->name)), expected);
    }

    // A click on a button leaves the focus where it was.
    SetFocus(w.edtWebExterno);
    SendMessageW(w.btnTestarPortasWeb, BM_CLICK, 0, 0);
    EXPECT_EQ(GetFocus(), w.edtWebExterno.edit);
}

TEST_F(WindowWinTest, InitialStateAndWhatTheUserCanChange) {
    TfmPrincipal w(quickSettings(), rubyGraphite());
    const auto controls = controlsByName(w);
    std::vector<HWND> indicators;
    for (const FormControl& row : MainForm::controls()) {
        if (isIndicator(row)) {
            indicators.push_back(controls.at(row.name));
        }
    }
    ASSERT_EQ(indicators.size(), 12u);
    for (HWND indicator : indicators) {
        EXPECT_FALSE(shown(indicator));
    }
    EXPECT_TRUE(showWindow(w).empty());
    EXPECT_TRUE(IsWindowVisible(w.handle()));
    // "Whatsapp" in front; each control shown or hidden, enabled or not, editable or not as
    // the form has it.
    EXPECT_EQ(SendMessageW(w.PageControl1, TCM_GETCURSEL, 0, 0),
              MainForm::sheetIndex(MainForm::kFrontSheet));
    for (const FormControl& row : MainForm::controls()) {
        if (row.kind == ControlKind::Component) {
            continue;
        }
        SCOPED_TRACE(std::string(row.name));
        const HWND control = controls.at(row.name);
        EXPECT_EQ(shown(control), row.visible);
        EXPECT_EQ(IsWindowEnabled(control) != FALSE, row.enabled);
        if (row.kind == ControlKind::LabeledEdit) {
            EXPECT_EQ((styleOf(control) & ES_READONLY) != 0, row.readOnly);
        }
    }
    EXPECT_TRUE(IsWindowVisible(w.TabSheet3));
    EXPECT_FALSE(IsWindowVisible(w.TabSheet1));
    EXPECT_FALSE(IsWindowVisible(w.TabSheet2));
    for (HWND text : {w.memoAPILog, w.memoWebLog, w.memoWhatsLog, w.edtApiExterno.edit,
                      w.edtApiInterno.edit, w.edtWebExterno.edit, w.edtWebInterno.edit,
                      w.edtWhatsExterno.edit, w.edtWhatsInterno.edit}) {
        EXPECT_TRUE(windowText(text).empty());
    }
    for (HWND box : {w.cbApiHttps, w.cbWebHttps, w.cbWhatsHttps}) {
        EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    }
    EXPECT_FALSE(w.isRunning());

    // Typing reaches the editable fields and boxes only.
    const auto type = [](HWND field, const wchar_t* text) {
        SetFocus(field);
        for (const wchar_t* c = text; *c != 0; ++c) {
            SendMessageW(field, WM_CHAR, *c, 1);
        }
    };
    type(w.edtApiExterno, L"typed");
    type(w.edtWebExterno, L"typed");
    EXPECT_TRUE(windowText(w.edtApiExterno).empty());
    EXPECT_EQ(windowText(w.edtWebExterno), L"typed");
    SendMessageW(w.cbWebHttps, BM_CLICK, 0, 0);
    EXPECT_EQ(SendMessageW(w.cbWebHttps, BM_GETCHECK, 0, 0), BST_CHECKED);
    // The log box's text can be selected and copied, not edited.
    SendMessageW(w.memoWhatsLog, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L"linha\r\n"));
    type(w.memoWhatsLog, L"x");
    EXPECT_EQ(windowText(w.memoWhatsLog), L"linha\r\n");
    SendMessageW(w.memoWhatsLog, EM_SETSEL, 0, 5);
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(w.memoWhatsLog, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(end - start, 5u);
}

TEST_F(WindowWinTest, IndicatorsDrawTheirPicturesFromTheTopLeft) {
    TfmPrincipal w(quickSettings(), rubyGraphite());
    showWindow(w);
    SendMessageW(w.PageControl1, TCM_SETCURSEL, 1, 0);
    NMHDR change{w.PageControl1, 0, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(w.handle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&change));
    ShowWindow(w.imgWebExtRed, SW_SHOW);
    ShowWindow(w.imgWebIntGreen, SW_SHOW);
    UpdateWindow(w.handle());
    pump(100);
    const auto colourAt = [](HWND indicator, int x, int y) {
        HDC dc = GetDC(indicator);
        const COLORREF colour = GetPixel(dc, x, y);
        ReleaseDC(indicator, dc);
        return colour;
    };
    for (const POINT at : {POINT{0, 0}, POINT{18, 20}, POINT{9, 10}}) {
        EXPECT_EQ(colourAt(w.imgWebExtRed, at.x, at.y), RGB(246, 0, 1));
    }
    for (const POINT at : {POINT{0, 0}, POINT{19, 20}}) {
        EXPECT_EQ(colourAt(w.imgWebIntGreen, at.x, at.y), RGB(60, 213, 63));
    }
}

class WindowFullRunTest : public WindowWinTest,
                          public testing::WithParamInterface<test::RunScenario> {};

// The tab's controls, found in the form by the product's part of their names.
struct TabControls {
    HWND externo = nullptr;
    HWND interno = nullptr;
    HWND https = nullptr;
    HWND log = nullptr;
    HWND button = nullptr;
    int index = 0;
    std::map<std::string, HWND> indicators;
};

TabControls controlsOf(TfmPrincipal& w, const std::wstring& tab) {
    const auto controls = controlsByName(w);
    const FormTab* found = nullptr;
    for (const CheckKind kind : {CheckKind::Api, CheckKind::Web, CheckKind::Whats}) {
        if (MainForm::tab(kind).button == "btnTestarPortas" + fromWide(tab)) {
            found = &MainForm::tab(kind);
        }
    }
    TabControls c;
    c.externo = controls.at(found->externo);
    c.interno = controls.at(found->interno);
    c.https = controls.at(found->https);
    c.log = controls.at(found->log);
    c.button = controls.at(found->button);
    c.index = MainForm::sheetIndex(found->sheet);
    for (std::string_view indicator : found->indicators) {
        c.indicators.emplace(indicator, controls.at(indicator));
    }
    return c;
}

// What a run may change on a tab.
std::wstring stateOf(TfmPrincipal& w, const std::wstring& tab) {
    TabControls c = controlsOf(w, tab);
    std::wstring state = windowText(c.externo) + L"|" + windowText(c.interno) + L"|" +
                         std::to_wstring(SendMessageW(c.https, BM_GETCHECK, 0, 0)) + L"|" +
                         windowText(c.log);
    for (const auto& [name, indicator] : c.indicators) {
        state += shown(indicator) ? L"|" + toWide(name) : L"";
    }
    return state;
}

// Returns the names of the tab's indicators that are shown, in the order of their names.
std::vector<std::string> shownIndicators(const TabControls& tab) {
    std::vector<std::string> names;
    for (const auto& [name, indicator] : tab.indicators) {
        if (shown(indicator)) {
            names.emplace_back(name);
        }
    }
    return names;
}

std::vector<std::string> sortedNames(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

TEST_P(WindowFullRunTest, ClickRunsTheTabsCheck) {
    const test::RunScenario& c = GetParam();
    ScriptedServer status;
    status.add(Exchange{c.statusReply});
    ScriptedServer internal;
    internal.add(Exchange{c.internalReply});
    const std::string externalAddress = "servidor.invalid:10446";
    const std::string internalAddress = internal.authority();
    const std::wstring tab = toWide(test::tabOfKind(c.tipo));
    if (tab == L"Api") {
        writeConfig(test::apiTabConfig(externalAddress, internalAddress, c.https));
    }
    test::RecordedPauses pauses;
    CheckRunSettings settings = quickSettings(status.url("/v1/status"));
    pauses.recordInto(settings);
    TfmPrincipal w(settings, rubyGraphite());
    ASSERT_TRUE(showWindow(w).empty());
    TabControls mine = controlsOf(w, tab);
    SendMessageW(w.PageControl1, TCM_SETCURSEL, mine.index, 0);
    NMHDR change{w.PageControl1, 0, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(w.handle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&change));
    if (tab != L"Api") {
        SetWindowTextW(mine.externo, toWide(externalAddress).c_str());
        SetWindowTextW(mine.interno, toWide(internalAddress).c_str());
    }
    // The other tabs hold values and an earlier result that the run must leave alone.
    std::map<std::wstring, std::wstring> others;
    for (const std::wstring each : {L"Api", L"Web", L"Whats"}) {
        if (each == tab) {
            continue;
        }
        TabControls other = controlsOf(w, each);
        if (each != L"Api") {
            SetWindowTextW(other.externo, L"outro:1");
            SendMessageW(other.https, BM_SETCHECK, BST_CHECKED, 0);
        }
        SendMessageW(other.log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L"anterior\r\n"));
        ShowWindow(other.indicators.begin()->second, SW_SHOW);
        others[each] = stateOf(w, each);
    }
    // A result of an earlier run on this tab is cleared.
    for (const auto& [name, indicator] : mine.indicators) {
        if (std::string(name).ends_with("IntRed")) {
            ShowWindow(indicator, SW_SHOW);
        }
    }

    // The click returns when the run has ended.
    SendMessageW(mine.button, BM_CLICK, 0, 0);

    EXPECT_FALSE(w.isRunning());
    EXPECT_EQ(windowText(mine.log), toWide(c.log));
    EXPECT_EQ(shownIndicators(mine), sortedNames(c.visible));
    for (const auto& [each, state] : others) {
        EXPECT_EQ(stateOf(w, each), state) << fromWide(each);
    }
    EXPECT_EQ(pauses.count.load(), 1);
    EXPECT_EQ(pauses.lastMilliseconds.load(), 1234);

    // The fields fed the run: the status service was asked about the external URL, and the
    // internal address got the internal GET.
    const auto statusRequests = status.requests();
    ASSERT_EQ(statusRequests.size(), 1u);
    EXPECT_TRUE(statusRequests[0].starts_with("POST /v1/status")) << statusRequests[0];
    const std::string scheme = c.https ? "https://" : "http://";
    const std::string body = "{\"requestUrl\":\"" + scheme + externalAddress + c.path + "\"}";
    EXPECT_TRUE(statusRequests[0].ends_with(body)) << statusRequests[0];
    const auto internalRequests = internal.requests();
    ASSERT_EQ(internalRequests.size(), 1u);
    EXPECT_TRUE(internalRequests[0].starts_with("GET " + c.internalPath + " HTTP/1.1\r\n"))
        << internalRequests[0];
}

INSTANTIATE_TEST_SUITE_P(Cases, WindowFullRunTest, testing::ValuesIn(test::runScenarios()),
                         [](const testing::TestParamInfo<test::RunScenario>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(WindowWinTest, TestaPortasComparesTheKindExactly) {
    TfmPrincipal w(quickSettings(), rubyGraphite());
    showWindow(w);
    for (const wchar_t* tipo : {L"API", L"Web", L"WEB", L"", L"whats"}) {
        SCOPED_TRACE(fromWide(tipo));
        SetWindowTextW(w.memoWhatsLog, L"");
        w.TestaPortas(tipo);
        EXPECT_TRUE(windowText(w.memoWhatsLog).starts_with(kExternalStart));
        EXPECT_TRUE(windowText(w.memoAPILog).empty());
        EXPECT_TRUE(windowText(w.memoWebLog).empty());
    }
    w.TestaPortas(L"web");
    EXPECT_TRUE(windowText(w.memoWebLog).starts_with(kExternalStart));
    EXPECT_TRUE(windowText(w.memoAPILog).empty());
    w.TestaPortas(L"api");
    EXPECT_TRUE(windowText(w.memoAPILog).starts_with(kExternalStart));
    // A second run starts clean.
    const std::wstring first = windowText(w.memoWebLog);
    w.TestaPortas(L"web");
    EXPECT_EQ(windowText(w.memoWebLog), first);
    EXPECT_TRUE(shown(w.imgWebExtRed) && shown(w.imgWebIntRed));
    EXPECT_FALSE(shown(w.imgWebExtGreen) || shown(w.imgWebIntGreen));
}

// Work a test does at set times during a run, outside the window's own code, by its timer.
std::map<UINT_PTR, std::function<void()>> g_timed;

void CALLBACK onTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    const auto found = g_timed.find(id);
    if (found != g_timed.end()) {
        const std::function<void()> work = std::move(found->second);
        g_timed.erase(found);
        work();
    }
}

// Does the work once after the time, on this thread's message loop (the run's own, while a run
// lasts); the work of every timer still waiting is dropped when the guard goes.
struct TimedWork {
    void after(UINT milliseconds, std::function<void()> work) {
        g_timed[SetTimer(nullptr, 0, milliseconds, onTimer)] = std::move(work);
    }
    ~TimedWork() {
        for (const auto& [id, work] : g_timed) {
            KillTimer(nullptr, id);
        }
        g_timed.clear();
    }
};

TEST_F(WindowWinTest, RunKeepsTheWindowServedAndDefersTheClose) {
    ScriptedServer status;
    Exchange slow{responseReply(R"({"chain":[{"statusCode":"200"}]})")};
    slow.delay = 600ms;
    status.add(slow);
    TfmPrincipal w(quickSettings(status.url("/v1/status")), rubyGraphite());
    showWindow(w);
    const HWND window = w.handle();

    struct Seen {
        bool fired = false;
        bool running = false;
        bool hung = true;
        std::wstring log;
        std::wstring webLog;
        bool waitCursor = false;
        bool existsAfterClose = false;
    } seen;
    TimedWork timed;
    timed.after(300, [&] {
        seen.fired = true;
        seen.running = w.isRunning();
        seen.hung = IsHungAppWindow(window) != FALSE;
        seen.log = windowText(w.memoWhatsLog);
        seen.waitCursor = GetCursor() == LoadCursorW(nullptr, IDC_WAIT);
        // A second run asked for meanwhile does not start; a click is input and is dropped.
        w.TestaPortas(L"web");
        PostMessageW(w.btnTestarPortasWeb, WM_LBUTTONDOWN, MK_LBUTTON, 0);
        PostMessageW(w.btnTestarPortasWeb, WM_LBUTTONUP, 0, 0);
        seen.webLog = windowText(w.memoWebLog);
        SendMessageW(window, WM_CLOSE, 0, 0);
        seen.existsAfterClose = IsWindow(window) != FALSE;
    });
    const auto started = std::chrono::steady_clock::now();
    w.TestaPortas(L"whats");
    EXPECT_GE(std::chrono::steady_clock::now() - started, 500ms);

    EXPECT_TRUE(seen.fired);
    EXPECT_TRUE(seen.running);
    EXPECT_FALSE(seen.hung);
    EXPECT_EQ(seen.log, kExternalStart);
    EXPECT_TRUE(seen.waitCursor);
    EXPECT_TRUE(seen.webLog.empty());
    EXPECT_TRUE(seen.existsAfterClose);
    // After the run: the close carried out, the window and its controls gone.
    EXPECT_FALSE(w.isRunning());
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(w.handle(), nullptr);
    EXPECT_FALSE(IsWindow(w.memoWhatsLog));
}

// Returns the centre of the caption's close button in screen coordinates, as the window's own
// hit test places it.
POINT closeButtonOf(HWND window) {
    RECT frame{};
    GetWindowRect(window, &frame);
    for (int y = frame.top; y < frame.top + 40; ++y) {
        for (int x = frame.right - 1; x > frame.right - 60; --x) {
            if (SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE) {
                // A few pixels inside the button's edge.
                return POINT{x - 4, y + 4};
            }
        }
    }
    return POINT{-1, -1};
}

// Clicks the left mouse button at a screen point as a person would, through the system's input.
void clickAt(POINT point) {
    SetCursorPos(point.x, point.y);
    INPUT inputs[2] = {};
    for (INPUT& input : inputs) {
        input.type = INPUT_MOUSE;
    }
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, inputs, sizeof(INPUT));
}

// Presses Alt+F4 on the control with the focus, as the keyboard delivers it.
void pressAltF4(HWND window) {
    HWND target = GetFocus() != nullptr ? GetFocus() : window;
    const LPARAM altDown =
        1 | (static_cast<LPARAM>(MapVirtualKeyW(VK_F4, MAPVK_VK_TO_VSC)) << 16) | (1 << 29);
    PostMessageW(target, WM_SYSKEYDOWN, VK_F4, altDown);
}

// Both ways of closing the window during a run, Alt+F4 and the caption's close button, are
// carried out when the run has ended, not before and not never.
TEST_F(WindowWinTest, BothWaysOfClosingWaitForTheRun) {
    struct Case {
        const char* name;
        std::function<void(HWND)> close;
    };
    const Case cases[] = {
        {"Alt+F4", pressAltF4},
        {"caption button",
         [](HWND window) {
             const POINT button = closeButtonOf(window);
             ASSERT_GE(button.x, 0) << "no close button found";
             clickAt(button);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer status;
        Exchange slow{responseReply(R"({"chain":[{"statusCode":"200"}]})")};
        slow.delay = 900ms;
        status.add(slow);
        TfmPrincipal w(quickSettings(status.url("/v1/status")), rubyGraphite());
        showWindow(w);
        const HWND window = w.handle();
        SetForegroundWindow(window);
        SetFocus(w.edtWhatsExterno);
        pump(50);

        bool closeAsked = false;
        bool openWhileRunning = false;
        TimedWork timed;
        timed.after(200, [&] {
            c.close(window);
            closeAsked = true;
        });
        timed.after(600, [&] { openWhileRunning = w.isRunning() && IsWindow(window); });
        w.TestaPortas(L"whats");
        pump(50);

        EXPECT_TRUE(closeAsked);
        EXPECT_TRUE(openWhileRunning);
        EXPECT_FALSE(IsWindow(window));
        EXPECT_EQ(w.handle(), nullptr);
    }
}

// A run whose thread cannot be started is reported in the error box; the window is not left
// running: the next press runs, and the window closes.
TEST_F(WindowWinTest, ARunThatCannotStartIsReportedAndLeavesTheWindowUsable) {
    ScriptedServer status;
    status.add(Exchange{responseReply(R"({"chain":[{"statusCode":"200"}]})")});
    TfmPrincipal w(quickSettings(status.url("/v1/status")), rubyGraphite());
    showWindow(w);
    const HWND window = w.handle();
    const std::system_error refused(
        std::make_error_code(std::errc::resource_unavailable_try_again));
    int starts = 0;
    w.setWorkerStart([&](std::function<void()> body) {
        if (starts++ == 0) {
            throw refused;
        }
        return std::thread(std::move(body));
    });

    std::vector<CaughtBox> boxes;
    {
        BoxCatcher catcher;
        SendMessageW(w.btnTestarPortasWhats, BM_CLICK, 0, 0);
        pump(50);
        boxes = catcher.boxes();
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, L"app_win32_window_test");
    EXPECT_NE(std::find(boxes[0].texts.begin(), boxes[0].texts.end(),
                        EventErrorBox::boxText(toWide(refused.what()))),
              boxes[0].texts.end());
    EXPECT_FALSE(w.isRunning());
    EXPECT_TRUE(windowText(w.memoWhatsLog).empty());

    SendMessageW(w.btnTestarPortasWhats, BM_CLICK, 0, 0);
    EXPECT_EQ(starts, 2);
    EXPECT_FALSE(w.isRunning());
    EXPECT_EQ(windowText(w.memoWhatsLog).rfind(kExternalStart, 0), 0u);

    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
}

// The box of an error that escapes the show event comes before the window.
TEST_F(WindowWinTest, SettingsErrorsComeInABoxBeforeTheWindow) {
    struct Case {
        const char* name;
        std::function<void()> setup;
        std::wstring text;
    };
    std::optional<test::HeldFile> holder;
    const auto holdElsewhere = [&] {
        writeConfig("const IP_EXTERNO = 'x';\n");
        holder.emplace(configPath());
        ASSERT_TRUE(holder->held());
    };
    const Case cases[] = {
        {"missing", [] { removeConfig(); }, cannotOpenBox(ERROR_FILE_NOT_FOUND)},
        {"held by another open", holdElsewhere, cannotOpenBox(ERROR_SHARING_VIOLATION)},
        {"not UTF-8",
         [] { writeConfig("const IP_EXTERNO = 'S\xE3o';\nconst IP_INTERNO = 'b';\n"); },
         L"No mapping for the Unicode character exists in the target multi-byte code page."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.setup();
        TfmPrincipal w(quickSettings(), rubyGraphite());
        const std::vector<CaughtBox> boxes = showWindow(w);
        holder.reset();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].title, L"app_win32_window_test");
        EXPECT_EQ(boxes[0].texts, std::vector<std::wstring>{c.text});
        EXPECT_EQ(boxes[0].buttons, std::vector<std::wstring>{L"OK"});
        EXPECT_TRUE(boxes[0].hasIcon);
        // The window comes on screen once the box is closed, and works.
        EXPECT_FALSE(boxes[0].ownerVisible);
        EXPECT_TRUE(IsWindowVisible(w.handle()));
        EXPECT_TRUE(windowText(w.edtApiExterno).empty());
        EXPECT_EQ(SendMessageW(w.PageControl1, TCM_GETCURSEL, 0, 0), 2);
        w.TestaPortas(L"whats");
        EXPECT_TRUE(windowText(w.memoWhatsLog).starts_with(kExternalStart));
    }
}

// A wrong quelvar.ini is shown in the event error box before the window, which then opens:
// every external check fails with the file's message, and the internal probe works.
TEST_F(WindowWinTest, QuelvarIniErrorsComeInABoxBeforeTheWindow) {
    struct Case {
        const char* name;
        std::string bytes;  // empty: a directory of that name
        std::wstring message;
    };
    const Case cases[] = {
        {"scheme and path", "[status]\nhost = https://x/\n",
         L"%, line 2: \"https://x/\" is not a host; write only the host and an optional port."},
        {"host twice, no full stop after a parenthesis",
         "[status]\r\nhost = a.example\r\nhost = b.example\r\n",
         L"%, line 3: host given twice (first on line 2)"},
        {"not UTF-8", "[status]\n; S\xE3o Paulo\nhost = a.example\n",
         L"%, line 2: not UTF-8 text."},
        {"a directory", "",
         L"Cannot open file \"%\". " + toWide(systemMessage(ERROR_ACCESS_DENIED)) + L"."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempDir dir;
        const std::filesystem::path ini =
            std::filesystem::path(dir.path()).make_preferred() / "quelvar.ini";
        if (c.bytes.empty()) {
            std::filesystem::create_directory(ini);
        } else {
            dir.write("quelvar.ini", c.bytes);
        }
        std::wstring expected = c.message;
        expected.replace(expected.find(L'%'), 1, ini.native());

        std::vector<CaughtBox> boxes;
        CheckRunSettings settings;
        {
            BoxCatcher catcher;
            settings = startupRunSettings([&] { return std::vector<std::filesystem::path>{ini}; });
            pump(20);
            boxes = catcher.boxes();
        }
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].title, L"app_win32_window_test");
        EXPECT_EQ(boxes[0].texts, std::vector<std::wstring>{expected});
        EXPECT_EQ(boxes[0].buttons, std::vector<std::wstring>{L"OK"});
        EXPECT_TRUE(boxes[0].hasIcon);
        EXPECT_EQ(settings.statusEndpoint, std::string(QUELVAR_STATUS_URL));

        // A status service stands ready and is never asked.
        const test::RunScenario& run = test::statusEndpointFaultScenario();
        test::ScenarioServers servers(run);
        CheckRunSettings quick = quickSettings(servers.status.url("/v1/status"));
        quick.statusEndpointFault = settings.statusEndpointFault;
        TfmPrincipal w(quick, rubyGraphite());
        EXPECT_TRUE(showWindow(w).empty());
        const TabControls tab = controlsOf(w, toWide(test::tabOfKind(run.tipo)));
        SetWindowTextW(tab.interno, toWide(servers.internal.authority()).c_str());
        w.TestaPortas(toWide(run.tipo));
        EXPECT_EQ(windowText(tab.log), toWide(run.log));
        EXPECT_EQ(shownIndicators(tab), sortedNames(run.visible));
        EXPECT_TRUE(servers.status.requests().empty());
    }
}

// Returns the Unix path of a Windows path under Wine (its kernel32 exports
// wine_get_unix_file_name), or an empty text.
std::string unixPath(const std::filesystem::path& path) {
    using Function = char*(CDECL*)(LPCWSTR);
    const auto toUnix = reinterpret_cast<Function>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (toUnix == nullptr) {
        return {};
    }
    char* unix = toUnix(path.c_str());
    if (unix == nullptr) {
        return {};
    }
    std::string text = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return text;
}

// Runs a Unix shell command and waits for it: Wine's CreateProcessW starts a Unix program by
// its Unix path. Returns whether it could be started.
bool runUnixShell(const std::string& command, DWORD waitMs) {
    std::wstring line = L"/bin/sh -c \"" + toWide(command) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(L"/bin/sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    WaitForSingleObject(process.hProcess, waitMs);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return true;
}

// The Linux quelvar-status, started from under Wine on a free loopback port with a generated
// certificate. Its output goes nowhere, so that it holds none of the test's; it is stopped by
// its process number, and timeout(1) bounds it should the test die first.
class UnixStatusService {
public:
    UnixStatusService(const test::TempDir& dir, std::uint16_t port) : m_port(port) {
        const test::Certificate certificate = test::makeCertificate();
        const std::string cert = unixPath(dir.write("status.crt", certificate.certPem));
        const std::string key = unixPath(dir.write("status.key", certificate.keyPem));
        m_pidFile = unixPath(std::filesystem::path(dir.path()) / "status.pid");
        // In the background, its number (that of timeout(1), which hands a signal on) kept.
        m_started =
            runUnixShell("/usr/bin/timeout 120 '" + std::string(QUELVAR_LINUX_STATUS_PROGRAM) +
                             "' --listen 127.0.0.1:" + std::to_string(port) + " --tls-cert '" +
                             cert + "' --tls-key '" + key +
                             "' --allow-private --rate-per-minute 0 "
                             "</dev/null >/dev/null 2>&1 & echo $! >'" +
                             m_pidFile + "'",
                         10000);
    }
    ~UnixStatusService() {
        if (m_started) {
            runUnixShell("kill $(cat '" + m_pidFile + "')", 10000);
        }
    }
    UnixStatusService(const UnixStatusService&) = delete;
    UnixStatusService& operator=(const UnixStatusService&) = delete;

    // Returns whether the service accepts connections within the wait.
    bool waitUntilListening(std::chrono::milliseconds wait) const {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (m_started && std::chrono::steady_clock::now() < deadline) {
            try {
                test::LoopbackSocket::connectTo("127.0.0.1", m_port);
                return true;
            } catch (const std::exception&) {
                Sleep(50);
            }
        }
        return false;
    }

private:
    std::uint16_t m_port;
    std::string m_pidFile;
    bool m_started = false;
};

// A quelvar.ini that names a real quelvar-status on a port of its own: the window asks it over
// HTTPS with the service's own certificate, and the external indicator turns green.
TEST_F(WindowWinTest, QuelvarIniPointsTheWindowAtARealStatusService) {
    if (!test::runsUnderWine()) {
        GTEST_SKIP() << "the Linux quelvar-status is started through Wine";
    }
    // Wine's drive Z: is the Unix root.
    ASSERT_NE(GetFileAttributesW(toWide(std::string("Z:") + QUELVAR_LINUX_STATUS_PROGRAM).c_str()),
              INVALID_FILE_ATTRIBUTES)
        << "no Linux quelvar-status at " << QUELVAR_LINUX_STATUS_PROGRAM
        << " (build it with the ci preset first, or set QUELVAR_LINUX_STATUS_PROGRAM)";
    const test::TempDir dir;
    const std::uint16_t port = test::unusedPort();
    ASSERT_NE(port, 8443);
    const UnixStatusService service(dir, port);
    ASSERT_TRUE(service.waitUntilListening(10s));
    const std::filesystem::path ini = std::filesystem::path(
        dir.write("quelvar.ini", "[status]\r\nhost = 127.0.0.1:" + std::to_string(port) + "\r\n"));

    CheckRunSettings settings;
    {
        BoxCatcher catcher;
        settings = startupRunSettings([&] { return std::vector<std::filesystem::path>{ini}; });
        pump(20);
        EXPECT_TRUE(catcher.boxes().empty());
    }
    EXPECT_EQ(settings.statusEndpoint, "https://127.0.0.1:" + std::to_string(port) + "/v1/status");
    EXPECT_TRUE(settings.statusEndpointFault.empty());

    const test::RunScenario& run = test::realStatusServiceScenario();
    ScriptedServer external;
    external.addReply(run.internalReply);
    ScriptedServer internal;
    internal.addReply(run.internalReply);
    settings.pause = 0ms;
    TfmPrincipal w(settings, rubyGraphite());
    EXPECT_EQ(w.RESTClient1.baseURL(), settings.statusEndpoint);
    EXPECT_TRUE(showWindow(w).empty());
    const TabControls tab = controlsOf(w, toWide(test::tabOfKind(run.tipo)));
    SetWindowTextW(tab.externo, toWide(external.authority()).c_str());
    SetWindowTextW(tab.interno, toWide(internal.authority()).c_str());
    w.TestaPortas(toWide(run.tipo));
    EXPECT_EQ(windowText(tab.log), toWide(run.log));
    EXPECT_EQ(shownIndicators(tab), sortedNames(run.visible));
    ASSERT_EQ(external.requests().size(), 1u);
    EXPECT_TRUE(external.requests()[0].starts_with("GET " + run.path + " HTTP/1.1\r\n"));
}

// The settings file is read by the show event only: at the show from hidden, not when tabs
// change or runs take place.
TEST_F(WindowWinTest, SettingsFileIsReadAtEachShowOnly) {
    // A config.js in the working directory is never read.
    std::ofstream("config.js") << "const IP_INTERNO = 'working directory';\n";
    writeConfig("const IP_EXTERNO = 'primeiro';\nconst USA_HTTPS = true;\n");
    TfmPrincipal w(quickSettings(), rubyGraphite());
    EXPECT_TRUE(windowText(w.edtApiExterno).empty());
    showWindow(w);
    std::filesystem::remove("config.js");
    EXPECT_EQ(windowText(w.edtApiExterno), L"primeiro");
    EXPECT_TRUE(windowText(w.edtApiInterno).empty());
    EXPECT_EQ(SendMessageW(w.cbApiHttps, BM_GETCHECK, 0, 0), BST_CHECKED);
    writeConfig("const IP_EXTERNO = 'segundo';\n");
    SendMessageW(w.PageControl1, TCM_SETCURSEL, 0, 0);
    NMHDR change{w.PageControl1, 0, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(w.handle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&change));
    w.TestaPortas(L"api");
    EXPECT_EQ(windowText(w.edtApiExterno), L"primeiro");
    // A show of the window while it is on screen is no show event; one from hidden is.
    w.show();
    EXPECT_EQ(windowText(w.edtApiExterno), L"primeiro");
    ShowWindow(w.handle(), SW_HIDE);
    EXPECT_TRUE(showWindow(w).empty());
    EXPECT_EQ(windowText(w.edtApiExterno), L"segundo");
    EXPECT_EQ(SendMessageW(w.cbApiHttps, BM_GETCHECK, 0, 0), BST_CHECKED);
}

TEST_F(WindowWinTest, ThemeFoundOrTheStandardLookAfterItsBox) {
    const std::optional<Theme> found = ThemeRegistry().find(L"ruby GRAPHITE");
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->name, L"Ruby Graphite");
    EXPECT_EQ(found->face, RGB(0x2f, 0x32, 0x37));
    EXPECT_EQ(found->accent, RGB(0xa8, 0x22, 0x3b));
    ThemeRegistry loaded(nullptr);
    Theme mine = *found;
    mine.name = L"Mine";
    loaded.addLoaded(mine);
    EXPECT_TRUE(loaded.find(L"MINE").has_value());

    // Without a carried theme: the box, then the standard look. The box is a task dialog;
    // Wine builds its content from static controls, which the catcher reads (Windows draws a
    // task dialog's texts itself, without such controls).
    std::optional<Theme> selected;
    std::vector<CaughtBox> boxes;
    {
        BoxCatcher catcher;
        selected = ThemeRegistry(nullptr).select(L"Ruby Graphite");
        boxes = catcher.boxes();
    }
    EXPECT_FALSE(selected.has_value());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, L"app_win32_window_test");
    EXPECT_NE(
        std::find(boxes[0].texts.begin(), boxes[0].texts.end(), L"Style 'Ruby Graphite' not found"),
        boxes[0].texts.end());
    EXPECT_EQ(boxes[0].buttons, std::vector<std::wstring>{L"Close"});
    TfmPrincipal standard(quickSettings(), selected);
    EXPECT_EQ(styleOf(standard.btnTestarPortasApi) & BS_TYPEMASK, BS_PUSHBUTTON);
    EXPECT_TRUE(GetWindowLongPtrW(standard.edtWebExterno, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    EXPECT_TRUE(showWindow(standard).empty());
}

TEST_F(WindowWinTest, ApplicationTitleAndFullStopRules) {
    const std::pair<const wchar_t*, const wchar_t*> titles[] = {
        {L"C:\\Lumora\\quelvar.exe", L"quelvar"}, {L"C:\\Lumora\\Quelvar.Tool.exe", L"Quelvar"},
        {L"C:\\Lumora\\QUELVAR.EXE", L"Quelvar"}, {L"D:quelvar.exe", L"quelvar"},
        {L"C:\\\u00c1GUA.exe", L"\u00c1gua"},
    };
    for (const auto& [path, title] : titles) {
        EXPECT_EQ(EventErrorBox::applicationTitle(path), title) << fromWide(path);
    }
    EXPECT_EQ(EventErrorBox::boxText(L"Erro"), L"Erro.");
    EXPECT_EQ(EventErrorBox::boxText(L"Erro."), L"Erro.");
    EXPECT_EQ(EventErrorBox::boxText(L"(1)"), L"(1)");
    EXPECT_EQ(EventErrorBox::boxText(L"x 9"), L"x 9.");
    EXPECT_EQ(EventErrorBox::boxText(L""), L"");
}

TEST_F(WindowWinTest, DpiChangeScalesTheWindow) {
    TfmPrincipal w(quickSettings(), rubyGraphite());
    RECT frame{};
    GetWindowRect(w.handle(), &frame);
    frame.right = frame.left + 1000;
    frame.bottom = frame.top + 500;
    SendMessageW(w.handle(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&frame));
    EXPECT_EQ(w.dpi(), 144u);
    RECT client{};
    GetClientRect(w.handle(), &client);
    EXPECT_EQ(describe(client), "0,0 968x464");
    EXPECT_EQ(describe(rectInParent(w.GroupBox1)), "18,0 591x225");
    EXPECT_EQ(describe(rectInParent(w.imgWebExtRed)), "548,30 29x32");
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(w.memoAPILog, WM_GETFONT, 0, 0)), sizeof(font),
               &font);
    EXPECT_EQ(font.lfHeight, -16);
    EXPECT_EQ(rectInParent(w.edtWebExterno.label).right, rectInParent(w.edtWebExterno).left - 5);
}

}  // namespace
}  // namespace quelvar
