#include "app/win32/EventErrorBox.h"

#include "settings/win32/ExecutablePath.h"
#include "text/win32/WideText.h"

namespace quelvar {

std::wstring EventErrorBox::applicationTitle(std::wstring_view path) {
    const std::size_t separator = path.find_last_of(L"\\/:");
    std::wstring name(separator == std::wstring_view::npos ? path : path.substr(separator + 1));
    const std::size_t dot = name.find(L'.');
    if (dot != std::wstring::npos) {
        name.resize(dot);
    }
    if (name.size() > 1) {
        CharLowerBuffW(name.data() + 1, static_cast<DWORD>(name.size() - 1));
    }
    return name;
}

std::wstring EventErrorBox::applicationTitle() {
    return applicationTitle(executablePath());
}

std::wstring EventErrorBox::boxText(std::wstring_view message) {
    std::wstring text(message);
    if (!text.empty() && text.back() > L'.') {
        text += L'.';
    }
    return text;
}

void EventErrorBox::show(HWND owner, std::string_view message) {
    MessageBoxW(owner, boxText(toWide(message)).c_str(), applicationTitle().c_str(),
                MB_OK | MB_ICONERROR);
}

}  // namespace quelvar
