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

std::string WindowCheckTab::fieldText(Half half) {
    return fromWide(windowText(half == Half::External ? m_controls.external : m_controls.internal));
}

bool WindowCheckTab::readHttps() {
    return SendMessageW(m_controls.https, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void WindowCheckTab::emptyLog() {
    SetWindowTextW(m_controls.log, L"");
}

void WindowCheckTab::addLogLine(const std::string& line) {
    const std::wstring text = toWide(line) + L"\r\n";
    const auto end = static_cast<WPARAM>(GetWindowTextLengthW(m_controls.log));
    SendMessageW(m_controls.log, EM_SETSEL, end, static_cast<LPARAM>(end));
    SendMessageW(m_controls.log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

void WindowCheckTab::showIndicator(Indicator indicator, bool visible) {
    ShowWindow(m_controls.indicators.at(static_cast<std::size_t>(indicator)),
               visible ? SW_SHOWNA : SW_HIDE);
}

}  // namespace quelvar
