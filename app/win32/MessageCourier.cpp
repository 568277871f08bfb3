#include "app/win32/MessageCourier.h"

#include "app/win32/WindowMessages.h"

namespace quelvar {

bool MessageCourier::isCurrent() const {
    return GetWindowThreadProcessId(m_window, nullptr) == GetCurrentThreadId();
}

void MessageCourier::carryOut(const std::function<void()>& task) {
    SendMessageW(m_window, kInvokeMessage, 0, reinterpret_cast<LPARAM>(&task));
}

}  // namespace quelvar
