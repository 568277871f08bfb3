#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <type_traits>

#include "app/win32/WindowMessages.h"
#include "checks/CheckTab.h"

namespace quelvar {

// One tab of the window as a check run sees it. A run works on a thread of its own while the
// window keeps drawing; every call is carried out on the window's thread, and a call from the
// run's thread waits until it has been carried out there.
class WindowCheckTab : public CheckTab {
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

    std::string externalText() override;
    std::string internalText() override;
    bool httpsChecked() override;
    void clearLog() override;
    void appendLine(const std::string& line) override;
    void setIndicatorVisible(Indicator indicator, bool visible) override;

    const Controls& controls() const { return m_controls; }

private:
    template <typename Function>
    auto onWindowThread(Function function) -> std::invoke_result_t<Function> {
        using Result = std::invoke_result_t<Function>;
        if (GetWindowThreadProcessId(m_window, nullptr) == GetCurrentThreadId()) {
            return function();
        }
        if constexpr (std::is_void_v<Result>) {
            std::function<void()> call = function;
            SendMessageW(m_window, kInvokeMessage, 0, reinterpret_cast<LPARAM>(&call));
        } else {
            Result result{};
            std::function<void()> call = [&result, &function] { result = function(); };
            SendMessageW(m_window, kInvokeMessage, 0, reinterpret_cast<LPARAM>(&call));
            return result;
        }
    }

    HWND m_window;
    Controls m_controls;
};

// Returns the whole text of a control.
std::wstring windowText(HWND control);

}  // namespace quelvar
