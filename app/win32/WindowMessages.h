#pragma once

#include <windows.h>

namespace quelvar {

// Carries a call over to the window's thread: lParam points to a std::function<void()> that
// the window procedure calls; SendMessageW returns once it has run.
constexpr UINT kInvokeMessage = WM_APP + 1;

}  // namespace quelvar
