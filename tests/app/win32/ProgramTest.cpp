// quelvar.exe itself, started as a process: its declarations (manifest, version record,
// icon) and its start without config.js: the error box titled by the executable's name first,
// then the window with the "Whatsapp" tab in front.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/win32/WindowCheckTab.h"
#include "tests/app/win32/BoxCatcher.h"
#include "tests/fixtures/TestFiles.h"
#include "text/win32/WideText.h"

namespace quelvar {
namespace {

using test::BoxCatcher;
using test::CaughtBox;

// The built quelvar.exe, found from this test's own place in the build tree.
std::wstring programPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory = path;
    directory.resize(directory.find_last_of(L'\\') + 1);
    std::wstring relative = toWide(QUELVAR_PROGRAM_RELATIVE_PATH);
    for (wchar_t& c : relative) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return directory + relative;
}

std::wstring backslashed(std::string path) {
    std::wstring wide = toWide(path);
    for (wchar_t& c : wide) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return wide;
}

TEST(Program, DeclaresDpiAwarenessCommonControlsVersionAndIcon) {
    const std::wstring program = programPath();
    HMODULE module = LoadLibraryExW(program.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << fromWide(program);
    HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(manifest, nullptr);
    const std::string text(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                           SizeofResource(module, manifest));
    for (const char* declaration :
         {"<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
          "PerMonitorV2, PerMonitor</dpiAwareness>",
          ">true/pm</dpiAware>", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
          "level=\"asInvoker\""}) {
        EXPECT_NE(text.find(declaration), std::string::npos) << declaration;
    }
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14)), nullptr)
        << "no application icon";
    FreeLibrary(module);

    DWORD ignored = 0;
    std::vector<char> version(GetFileVersionInfoSizeW(program.c_str(), &ignored));
    ASSERT_FALSE(version.empty());
    ASSERT_TRUE(GetFileVersionInfoW(program.c_str(), 0, static_cast<DWORD>(version.size()),
                                    version.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(version.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    for (const wchar_t* name : {L"FileDescription", L"ProductName"}) {
        wchar_t* value = nullptr;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\041604B0\\") + name;
        ASSERT_TRUE(
            VerQueryValueW(version.data(), key.c_str(), reinterpret_cast<void**>(&value), &size));
        EXPECT_EQ(std::wstring(value), L"Quelvar") << fromWide(name);
    }
}

struct Found {
    DWORD process;
    HWND window = nullptr;
};

BOOL CALLBACK findMainWindow(HWND window, LPARAM context) {
    auto& found = *reinterpret_cast<Found*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    if (process == found.process && std::wstring_view(name) == L"TfmPrincipal" &&
        IsWindowVisible(window)) {
        found.window = window;
        return FALSE;
    }
    return TRUE;
}

// Without config.js beside it, the program's first show raises the error box, titled by the
// executable's name; the window follows once it is closed, and closing the window ends it.
TEST(Program, StartsWithTheErrorBoxThenTheWindow) {
    const std::pair<const wchar_t*, const wchar_t*> names[] = {
        {L"quelvar.exe", L"quelvar"},
        {L"Quelvar.Tool.exe", L"Quelvar"},
    };
    for (const auto& [file, title] : names) {
        SCOPED_TRACE(fromWide(file));
        test::TempDir directory;
        const std::wstring folder = backslashed(directory.path());
        const std::wstring copy = folder + L"\\" + file;
        ASSERT_TRUE(CopyFileW(programPath().c_str(), copy.c_str(), FALSE));
        std::wstring command = L"\"" + copy + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(CreateProcessW(copy.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                                   nullptr, folder.c_str(), &startup, &process));
        std::vector<CaughtBox> boxes;
        Found found{process.dwProcessId};
        {
            BoxCatcher catcher(process.dwProcessId);
            for (int i = 0; i < 1500 && found.window == nullptr; ++i) {
                EnumWindows(findMainWindow, reinterpret_cast<LPARAM>(&found));
                Sleep(20);
            }
            boxes = catcher.boxes();
        }
        ASSERT_NE(found.window, nullptr) << "no window came";
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].title, title);
        EXPECT_EQ(boxes[0].texts,
                  std::vector<std::wstring>{L"Cannot open file \"" + folder + L"\\config.js\". " +
                                            toWide(systemMessage(ERROR_FILE_NOT_FOUND)) + L"."});
        EXPECT_EQ(boxes[0].buttons, std::vector<std::wstring>{L"OK"});
        EXPECT_FALSE(boxes[0].ownerVisible);

        EXPECT_EQ(windowText(found.window), L"Quelvar - WEB");
        HWND tabs = nullptr;
        EnumChildWindows(
            found.window,
            [](HWND child, LPARAM context) -> BOOL {
                wchar_t name[32] = {};
                GetClassNameW(child, name, 32);
                if (std::wstring_view(name) == WC_TABCONTROLW) {
                    *reinterpret_cast<HWND*>(context) = child;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&tabs));
        ASSERT_NE(tabs, nullptr);
        EXPECT_EQ(SendMessageW(tabs, TCM_GETCURSEL, 0, 0), 2);

        PostMessageW(found.window, WM_CLOSE, 0, 0);
        EXPECT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
        DWORD exitCode = 1;
        GetExitCodeProcess(process.hProcess, &exitCode);
        EXPECT_EQ(exitCode, 0u);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
}

}  // namespace
}  // namespace quelvar
