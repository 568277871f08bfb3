#include "app/win32/Theme.h"

#include <commctrl.h>

#include <utility>

#include "app/win32/EventErrorBox.h"
#include "app/win32/SystemFunction.h"
#include "base/Error.h"
#include "text/win32/WideText.h"

namespace quelvar {

namespace {

constexpr const wchar_t* kThemeResourceType = L"QUELVARTHEME";

bool sameName(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

BOOL CALLBACK collectTheme(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR context) {
    auto& themes = *reinterpret_cast<std::vector<Theme>*>(context);
    HRSRC resource = FindResourceW(module, name, type);
    HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
    const char* bytes =
        loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (bytes != nullptr) {
        try {
            themes.push_back(Theme::parse({bytes, SizeofResource(module, resource)}));
        } catch (const Error&) {
            // A carried theme that cannot be read is not offered.
        }
    }
    return TRUE;
}

// A TaskDialogIndirect of the common controls 6, looked up in the already loaded comctl32 so
// that a program without the common controls 6 still starts (and falls back to a plain box).
using TaskDialogIndirectFunction = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

void showStyleNotFound(const std::wstring& text) {
    const std::wstring title = EventErrorBox::applicationTitle();
    const auto taskDialog =
        loadedSystemFunction<TaskDialogIndirectFunction>(L"comctl32.dll", "TaskDialogIndirect");
    if (taskDialog != nullptr) {
        TASKDIALOGCONFIG config{};
        config.cbSize = sizeof(config);
        config.dwCommonButtons = TDCBF_CLOSE_BUTTON;
        config.pszWindowTitle = title.c_str();
        config.pszMainIcon = TD_ERROR_ICON;
        config.pszContent = text.c_str();
        if (SUCCEEDED(taskDialog(&config, nullptr, nullptr, nullptr))) {
            return;
        }
    }
    MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace

Theme Theme::parse(std::string_view description) {
    Theme theme;
    theme.name = toWide(theme.read(description, [](std::uint32_t rgb) -> COLORREF {
        return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
    }));
    return theme;
}

ThemeRegistry::ThemeRegistry(HMODULE carrier) {
    if (carrier != nullptr) {
        EnumResourceNamesW(carrier, kThemeResourceType, collectTheme,
                           reinterpret_cast<LONG_PTR>(&m_carried));
    }
}

void ThemeRegistry::addLoaded(Theme theme) {
    m_loaded.push_back(std::move(theme));
}

std::optional<Theme> ThemeRegistry::find(std::wstring_view name) const {
    for (const std::vector<Theme>* themes : {&m_loaded, &m_carried}) {
        for (const Theme& theme : *themes) {
            if (sameName(theme.name, name)) {
                return theme;
            }
        }
    }
    return std::nullopt;
}

std::optional<Theme> ThemeRegistry::select(std::wstring_view name) const {
    std::optional<Theme> theme = find(name);
    if (!theme) {
        showStyleNotFound(L"Style '" + std::wstring(name) + L"' not found");
    }
    return theme;
}

}  // namespace quelvar
