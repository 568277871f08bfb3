#pragma once

#include <windows.h>

#include <array>
#include <string>

#include "form/WindowThreadTab.h"

namespace quelvar {

// One tab of the window as a check run sees it: what each call does with the Win32 controls.
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

    // Makes the tab of the controls, which live on the window's thread.
    WindowCheckTab(WindowThread& thread, Controls controls)
        : WindowThreadTab(thread), m_controls(controls) {}

    const Controls& controls() const { return m_controls; }

private:
    std::string fieldText(Half half) override;
    bool readHttps() override;
    void emptyLog() override;
    void addLogLine(const std::string& line) override;
    void showIndicator(Indicator indicator, bool visible) override;

    Controls m_controls;
};

// Returns the whole text of a control.
std::wstring windowText(HWND control);

}  // namespace quelvar
