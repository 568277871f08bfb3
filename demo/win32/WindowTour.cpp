// Starts the Windows window as quelvar.exe does, clicks each tab and its "Testar Portas"
// button with mouse messages, saves a picture of the window's client area for each tab as a
// 24-bit BMP into the folder given as the only argument, and prints each tab's log.
#include <objbase.h>
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/win32/TfmPrincipal.h"
#include "app/win32/Theme.h"
#include "app/win32/WindowCheckTab.h"
#include "text/win32/WideText.h"

namespace {

// Lets the window handle what is queued for the given time.
void pump(DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (GetTickCount64() < end) {
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// Clicks the middle of a rectangle of a control, as the mouse does.
void click(HWND control, const RECT& rect) {
    const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(control, WM_LBUTTONUP, 0, at);
}

// Writes the client area of the window, as it is on screen, to a bottom-up 24-bit BMP.
bool saveClientArea(HWND window, const std::wstring& path) {
    RECT client{};
    GetClientRect(window, &client);
    const int width = client.right;
    const int height = client.bottom;
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    header.bfSize = header.bfOffBits + imageSize;
    std::ofstream file(std::filesystem::path(path), std::ios::binary);
    file.write(reinterpret_cast<const char*>(&header), sizeof(header));
    file.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(info.bmiHeader));
    file.write(static_cast<const char*>(pixels), imageSize);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return file.good();
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quelvar-window-tour SCREENSHOT-FOLDER\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::optional<quelvar::Theme> theme = quelvar::ThemeRegistry().select(L"Ruby Graphite");
    quelvar::TfmPrincipal window({}, theme);
    window.show();
    pump(300);

    // The demo's status service answers its own /healthcheck on 127.0.0.1:8080.
    for (HWND field : {window.edtWebExterno.edit, window.edtWebInterno.edit,
                       window.edtWhatsExterno.edit, window.edtWhatsInterno.edit}) {
        SetWindowTextW(field, L"127.0.0.1:8080");
    }

    struct Stop {
        int tab;
        HWND button;
        HWND log;
        const wchar_t* file;
    };
    const Stop stops[] = {
        {0, window.btnTestarPortasApi, window.memoAPILog, L"quelvar-windows-api-web.bmp"},
        {1, window.btnTestarPortasWeb, window.memoWebLog, L"quelvar-windows-lumora-web.bmp"},
        {2, window.btnTestarPortasWhats, window.memoWhatsLog, L"quelvar-windows-whatsapp.bmp"},
    };
    int failures = 0;
    for (const Stop& stop : stops) {
        RECT tab{};
        SendMessageW(window.PageControl1, TCM_GETITEMRECT, stop.tab,
                     reinterpret_cast<LPARAM>(&tab));
        click(window.PageControl1, tab);
        pump(200);
        // The click returns when the run has ended.
        RECT button{};
        GetClientRect(stop.button, &button);
        click(stop.button, button);
        pump(300);
        const std::wstring path = folder + L"\\" + stop.file;
        if (!saveClientArea(window.handle(), path)) {
            ++failures;
        }
        std::wstring log = quelvar::windowText(stop.log);
        for (std::size_t at = log.find(L"\r\n"); at != std::wstring::npos;
             at = log.find(L"\r\n", at)) {
            log.erase(at, 1);
        }
        std::printf("%s\n%s\n", quelvar::fromWide(path).c_str(), quelvar::fromWide(log).c_str());
    }
    return failures == 0 ? 0 : 1;
}
