#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <string>

#include "app/win32/WindowMessages.h"
#include "form/WindowThreadTab.h"

namespace quelvar {

// One tab of the window as a check run sees it: the Win32 half of WindowThreadTab, whose tasks
// reach the window's thread as a message sent to the window.
class WindowCheckTab : public WindowThreadTab {
public:
    // The tab's controls; the indicators in the order of Indicator.
    struct Controls {
        HWND external;
        HWND internal;
        HWND https;
        HWND log;
        std::array<HWND, 4> indicators;
    };

    // Makes the tab of the controls, whose calls are carried out on the window's thread.
    WindowCheckTab(HWND window, Controls controls);

    const Controls& controls() const { return m_controls; }

private:
    // The hand-over: a message sent to the window, whose procedure carries the task out.
    bool onWindowThreadNow() const override;
    void runOnWindowThread(const std::function<void()>& task) override;

    std::string fieldText(Half half) override;
    bool readHttps() override;
    void emptyLog() override;
    void addLogLine(const std::string& line) override;
    void showIndicator(Indicator indicator, bool visible) override;

    HWND m_window;
    Controls m_controls;
};

// Returns the whole text of a control.
std::wstring windowText(HWND control);

}  // namespace quelvar
