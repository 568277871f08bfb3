#pragma once

#include <windows.h>

#include <string>

#include "form/ControlsTab.h"

namespace quelvar {

// What each call of a check run does with the Win32 controls of a tab.
struct Win32TabCalls {
    static std::string text(HWND field);
    static bool checked(HWND box);
    static void clear(HWND log);
    static void append(HWND log, const std::string& line);
    static void show(HWND indicator, bool visible);
};

// One tab of the window as a check run sees it.
class WindowCheckTab final
    : public ControlsTab<TabControls<HWND, HWND, HWND, HWND>, Win32TabCalls> {
public:
    using ControlsTab::ControlsTab;
};

// Returns the whole text of a control.
std::wstring windowText(HWND control);

}  // namespace quelvar
