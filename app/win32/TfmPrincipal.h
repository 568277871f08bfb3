#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "app/win32/DpiLayout.h"
#include "app/win32/LabeledEdit.h"
#include "app/win32/Picture.h"
#include "app/win32/Theme.h"
#include "app/win32/ThemePainter.h"
#include "checks/CheckRun.h"
#include "form/MainFormEvents.h"
#include "form/WindowRun.h"
#include "http/RestClient.h"
#include "http/RestRequest.h"
#include "http/RestResponse.h"

namespace quelvar {

struct FormControl;
class MessageCourier;
class WindowCheckTab;

// The main window in Win32 and the common controls: three tabs, one per product, each with its
// address fields, HTTPS box, "Testar Portas" button, indicators and log box; the service-profile
// members that every run shares; the dispatch from the buttons to the check runs; and the
// reading of the settings file when the window is first shown. Every control is a child
// window of the window, destroyed with it. The event handlers and check runs are the form's
// (MainFormEvents).
class TfmPrincipal : public MainFormEvents<TfmPrincipal, HWND>, private WindowRun {
public:
    // Makes the window, hidden, with every control in its initial state, drawn in the theme or,
    // without one, in the standard look. The run settings give the status service's endpoint
    // (the base URL of RESTClient1), the pause before each internal probe and the direct
    // profile's time-outs. Throws Error when the window cannot be made.
    explicit TfmPrincipal(CheckRunSettings runSettings = {},
                          std::optional<Theme> theme = std::nullopt);
    // Destroys the window and every control on it.
    ~TfmPrincipal();
    TfmPrincipal(const TfmPrincipal&) = delete;
    TfmPrincipal& operator=(const TfmPrincipal&) = delete;

    RestClient RESTClient1;
    RestRequest RESTRequest1;
    RestResponse RESTResponse1;
    HWND Panel1 = nullptr;
    HWND PageControl1 = nullptr;
    HWND TabSheet1 = nullptr;
    HWND TabSheet2 = nullptr;
    HWND TabSheet3 = nullptr;
    HWND Panel2 = nullptr;
    HWND Panel3 = nullptr;
    HWND Panel4 = nullptr;
    HWND GroupBox1 = nullptr;
    HWND btnTestarPortasApi = nullptr;
    LabeledEdit edtApiInterno;
    LabeledEdit edtApiExterno;
    HWND cbApiHttps = nullptr;
    HWND memoAPILog = nullptr;
    HWND GroupBox2 = nullptr;
    HWND btnTestarPortasWeb = nullptr;
    LabeledEdit edtWebExterno;
    LabeledEdit edtWebInterno;
    HWND cbWebHttps = nullptr;
    HWND memoWebLog = nullptr;
    HWND memoWhatsLog = nullptr;
    HWND GroupBox3 = nullptr;
    HWND btnTestarPortasWhats = nullptr;
    LabeledEdit edtWhatsExterno;
    LabeledEdit edtWhatsInterno;
    HWND cbWhatsHttps = nullptr;
    HWND imgApiExtGreen = nullptr;
    HWND imgApiExtRed = nullptr;
    HWND imgApiIntRed = nullptr;
    HWND imgApiIntGreen = nullptr;
    HWND imgWebIntGreen = nullptr;
    HWND imgWebExtRed = nullptr;
    HWND imgWebExtGreen = nullptr;
    HWND imgWebIntRed = nullptr;
    HWND imgWhatsIntRed = nullptr;
    HWND imgWhatsExtGreen = nullptr;
    HWND imgWhatsExtRed = nullptr;
    HWND imgWhatsIntGreen = nullptr;

    // Starts the check run of the kind, compared exactly: "api", "web", and any other text the
    // WhatsApp run; returns when the run has ended. A call while a run is in progress starts
    // nothing.
    void TestaPortas(std::wstring_view tipo);
    // Fills the API tab's fields and HTTPS box from config.js beside the executable; throws
    // Error with the reader's message when the file cannot be opened or decoded.
    void carregarConfig();

    // Returns the window's handle.
    HWND handle() const { return m_window; }
    // Returns the tool tip control that shows the fields' hints.
    HWND toolTip() const { return m_toolTip; }
    // Returns the settings every run is given.
    const CheckRunSettings& runSettings() const { return m_runSettings; }
    // Returns the theme the window is drawn in, or none for the standard look.
    const std::optional<Theme>& theme() const { return m_painter.theme(); }
    using WindowRun::isRunning;
    // Returns the DPI the window is laid out for.
    UINT dpi() const { return m_layout.dpi(); }

    using WindowRun::setWorkerStart;

    // Shows the window: a show from hidden reads the settings file first (FormShow), and shows
    // an error that escapes it in the event error box before the window comes on screen.
    void show();

    // Runs the message loop until the window is closed; returns the exit code.
    static int exec();
    // Hands one message of the loop on: the Tab key of a main window moves the focus among
    // its controls as in a dialog, everything else goes to its window procedure.
    static void dispatch(MSG& message);

private:
    friend class MainFormEvents<TfmPrincipal, HWND>;

    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    static LRESULT CALLBACK containerProcedure(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam);
    static LRESULT CALLBACK controlProcedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam, UINT_PTR id, DWORD_PTR data);
    static TfmPrincipal* fromHandle(HWND window);

    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs an event handler of the form and shows an error that escapes it in the event error
    // box, so that no exception crosses the window procedure.
    template <typename Handler>
    void handleEvent(Handler handler);
    LRESULT handleControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                 bool& handled);
    void createControls();
    HWND createControl(const wchar_t* windowClass, const wchar_t* text, DWORD style,
                       DWORD extendedStyle, HWND parent, RECT logical);
    HWND createContainer(HWND parent, RECT logical, bool bevel);
    HWND createFromRow(const FormControl& row);
    HWND createGroupBox(HWND parent, const std::wstring& caption, RECT logical);
    HWND createButton(HWND parent, const std::wstring& caption, RECT logical);
    LabeledEdit createEdit(HWND parent, const std::wstring& label, RECT logical,
                           const std::wstring& hint, bool readOnly);
    HWND createCheckBox(HWND parent, const std::wstring& caption, RECT logical);
    HWND createLog(HWND parent, RECT logical);
    HWND createIndicator(HWND parent, const Picture& picture, RECT logical);
    void setTabOrders();
    // Lays the window out for the DPI from now on, its font and painting with it.
    void updateDpi(UINT dpi);
    void showSheet(int index);
    int scale(int value) const;
    // Performs the check run of the kind's tab.
    void runTabCheck(CheckKind kind);
    // A run's time in Win32: the wait cursor, a message loop of its own that drops user input
    // and keeps a quit for after the run, a posted WM_NULL to wake it, and WM_CLOSE.
    void showBusy(bool busy) override;
    void waitForRun(const std::atomic<bool>& ended) override;
    void wakeFromRun() override;
    void closeAfterRun() override;

    // Returns whether the control is one of the log boxes.
    bool isLog(HWND control) const;

    CheckRunSettings m_runSettings;
    ThemePainter m_painter;
    HWND m_window = nullptr;
    HWND m_toolTip = nullptr;
    DpiLayout m_layout;
    std::unique_ptr<Picture> m_green;
    std::unique_ptr<Picture> m_red;
    // Each control (the field of a labelled edit) by its member's name, the window by its own.
    std::map<std::string_view, HWND> m_controls;
    std::vector<std::wstring> m_hints;
    // How the runs' calls reach this thread; made before the tabs and gone after them.
    std::unique_ptr<MessageCourier> m_courier;
    // The check runs' view of each tab.
    std::map<CheckKind, std::unique_ptr<WindowCheckTab>> m_tabs;
    bool m_destroying = false;
};

}  // namespace quelvar
