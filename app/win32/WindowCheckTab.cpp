#include "app/win32/WindowCheckTab.h"

#include <string>

#include "text/win32/WideText.h"

namespace quelvar {

std::wstring windowText(HWND control) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    const int length = GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

std::string Win32TabCalls::text(HWND field) {
    return fromWide(windowText(field));
}

bool Win32TabCalls::checked(HWND box) {
    return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32TabCalls::clear(HWND log) {
    SetWindowTextW(log, L"");
}

void Win32TabCalls::append(HWND log, const std::string& line) {
    const std::wstring text = toWide(line) + L"\r\n";
    const auto end = static_cast<WPARAM>(GetWindowTextLengthW(log));
    SendMessageW(log, EM_SETSEL, end, static_cast<LPARAM>(end));
    SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

void Win32TabCalls::show(HWND indicator, bool visible) {
    ShowWindow(indicator, visible ? SW_SHOWNA : SW_HIDE);
}

}  // namespace quelvar
