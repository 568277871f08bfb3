#pragma once

#include <functional>

namespace quelvar {

// The thread a window's controls live on, as a run on a thread of its own reaches it. Each
// window gives its own way there: an event in Qt, a sent message in Win32.
class WindowThread {
public:
    virtual ~WindowThread() = default;

    // Returns whether the caller is on the window's thread.
    virtual bool isCurrent() const = 0;
    // Has the task carried out on the window's thread and waits until it has been. The task
    // throws nothing.
    virtual void carryOut(const std::function<void()>& task) = 0;
};

}  // namespace quelvar
