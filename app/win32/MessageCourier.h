#pragma once

#include <windows.h>

#include <functional>

#include "form/WindowThread.h"

namespace quelvar {

// The window's thread in Win32: a task from another thread is sent to the window as
// kInvokeMessage, which its window procedure carries out.
class MessageCourier : public WindowThread {
public:
    explicit MessageCourier(HWND window) : m_window(window) {}

    bool isCurrent() const override;
    void carryOut(const std::function<void()>& task) override;

private:
    HWND m_window;
};

}  // namespace quelvar
