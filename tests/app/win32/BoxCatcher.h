#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quelvar::test {

// A modal box as it was on screen: caption, texts of its static controls, its buttons and
// whether its owner was visible meanwhile.
struct CaughtBox {
    std::wstring title;
    std::vector<std::wstring> texts;
    std::vector<std::wstring> buttons;
    bool hasIcon = false;
    bool ownerVisible = false;
};

// Watches, from a thread of its own, for the modal boxes (dialog class "#32770") that a thread
// shows, records each and closes it with its first button, so that no test waits for a person.
class BoxCatcher {
public:
    // Watches the boxes of the calling thread.
    BoxCatcher();
    // Watches the boxes of another process.
    explicit BoxCatcher(DWORD process);
    ~BoxCatcher();
    BoxCatcher(const BoxCatcher&) = delete;
    BoxCatcher& operator=(const BoxCatcher&) = delete;

    // Returns the boxes caught so far.
    std::vector<CaughtBox> boxes() const;

private:
    void watch();

    DWORD m_thread = 0;
    DWORD m_process = 0;
    std::atomic<bool> m_stop = false;
    mutable std::mutex m_mutex;
    std::vector<CaughtBox> m_boxes;
    std::vector<HWND> m_closed;
    std::thread m_watcher;
};

}  // namespace quelvar::test
