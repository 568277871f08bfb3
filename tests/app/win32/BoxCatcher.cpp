#include "tests/app/win32/BoxCatcher.h"

#include <algorithm>

#include "app/win32/WindowCheckTab.h"

namespace quelvar::test {

namespace {

struct Search {
    DWORD thread;
    DWORD process;
    std::vector<HWND> found;
};

BOOL CALLBACK collectBox(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<Search*>(context);
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    DWORD process = 0;
    const DWORD thread = GetWindowThreadProcessId(window, &process);
    const bool watched = search.thread != 0 ? thread == search.thread : process == search.process;
    if (watched && std::wstring_view(name) == L"#32770" && IsWindowVisible(window)) {
        search.found.push_back(window);
    }
    return TRUE;
}

BOOL CALLBACK collectChild(HWND child, LPARAM context) {
    reinterpret_cast<std::vector<HWND>*>(context)->push_back(child);
    return TRUE;
}

}  // namespace

BoxCatcher::BoxCatcher() : m_thread(GetCurrentThreadId()), m_watcher([this] { watch(); }) {}

BoxCatcher::BoxCatcher(DWORD process) : m_process(process), m_watcher([this] { watch(); }) {}

BoxCatcher::~BoxCatcher() {
    m_stop = true;
    m_watcher.join();
}

std::vector<CaughtBox> BoxCatcher::boxes() const {
    std::lock_guard lock(m_mutex);
    return m_boxes;
}

void BoxCatcher::watch() {
    while (!m_stop) {
        Search search{m_thread, m_process, {}};
        EnumWindows(collectBox, reinterpret_cast<LPARAM>(&search));
        for (HWND box : search.found) {
            if (std::find(m_closed.begin(), m_closed.end(), box) != m_closed.end()) {
                continue;
            }
            // Lets the box finish laying out its texts.
            Sleep(100);
            CaughtBox caught;
            caught.title = windowText(box);
            HWND owner = GetWindow(box, GW_OWNER);
            caught.ownerVisible = owner != nullptr && IsWindowVisible(owner);
            std::vector<HWND> children;
            EnumChildWindows(box, collectChild, reinterpret_cast<LPARAM>(&children));
            HWND firstButton = nullptr;
            for (HWND child : children) {
                wchar_t name[32] = {};
                GetClassNameW(child, name, 32);
                const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
                if (std::wstring_view(name) == L"Button") {
                    // The text as shown, without the mnemonic's "&".
                    std::wstring text = windowText(child);
                    std::erase(text, L'&');
                    caught.buttons.push_back(text);
                    if (firstButton == nullptr) {
                        firstButton = child;
                    }
                } else if (std::wstring_view(name) == L"Static") {
                    if ((style & SS_TYPEMASK) == SS_ICON) {
                        caught.hasIcon = true;
                    } else if (!windowText(child).empty()) {
                        caught.texts.push_back(windowText(child));
                    }
                }
            }
            {
                std::lock_guard lock(m_mutex);
                m_boxes.push_back(caught);
            }
            m_closed.push_back(box);
            if (firstButton != nullptr) {
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(firstButton), BN_CLICKED),
                             reinterpret_cast<LPARAM>(firstButton));
            } else {
                PostMessageW(box, WM_CLOSE, 0, 0);
            }
        }
        Sleep(20);
    }
}

}  // namespace quelvar::test
