#include <objbase.h>
#include <windows.h>

#include <exception>
#include <optional>

#include "app/win32/EventErrorBox.h"
#include "app/win32/Startup.h"
#include "app/win32/SystemFunction.h"
#include "app/win32/TfmPrincipal.h"
#include "app/win32/Theme.h"
#include "settings/ClientIni.h"

// The program reads no command line.
int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
    // DLLs loaded from now on come from the system directory only, never from the program's
    // folder, where a planted DLL of a system name would otherwise be found first.
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    if (const auto setDefaultDllDirectories =
            quelvar::loadedSystemFunction<SetDefaultDllDirectoriesFunction>(
                L"kernel32.dll", "SetDefaultDllDirectories")) {
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    // The imaging component that decodes the indicators' pictures is a COM object.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // The main window carries WS_EX_APPWINDOW, so it is the task-bar entry itself.
    const std::optional<quelvar::Theme> theme = quelvar::ThemeRegistry().select(L"Ruby Graphite");
    try {
        // The status service's host comes from quelvar.ini beside the program, read once
        // before the window.
        quelvar::TfmPrincipal fmPrincipal(
            quelvar::startupRunSettings(quelvar::ClientIni::searchPath), theme);
        fmPrincipal.show();
        return quelvar::TfmPrincipal::exec();
    } catch (const std::exception& error) {
        quelvar::EventErrorBox::show(nullptr, error.what());
        return 1;
    }
}
