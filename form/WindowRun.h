#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "checks/CheckRun.h"

namespace quelvar {

// A window's check run: the run works on a thread of its own while the window's thread goes
// on drawing the window with user input held back, and a close asked for during the run is
// carried out once it has ended. Each window gives its own half: the busy cursor, the wait in
// its own event loop, the wake-up from the run's thread, and the close.
class WindowRun {
public:
    // Starts the thread a check run works on; throws std::system_error when it cannot.
    using WorkerStart = std::function<std::thread(std::function<void()>)>;

    virtual ~WindowRun() = default;

    // Returns whether a check run is in progress.
    bool isRunning() const { return m_running; }
    // Replaces how a run's thread is started (by default a std::thread of its own), so that a
    // start that fails can be shown.
    void setWorkerStart(WorkerStart start) { m_startWorker = std::move(start); }

protected:
    // Performs the check run of the tab's product with the window's service profile and
    // settings, on a thread of its own, as runOnWorker does. Every call of the run on its tab
    // is carried out on the window's thread (WindowThreadTab), so the controls are only
    // touched from there.
    void runTabCheckOnWorker(CheckKind kind, CheckTab& tab, ServiceProfile profile,
                             const CheckRunSettings& settings);
    // Runs the body on a thread of its own and returns when it has ended, rethrowing what it
    // threw; a call during a run starts nothing. When the thread cannot start, the window
    // takes input again and the failure is thrown.
    void runOnWorker(const std::function<void()>& body);
    // Returns whether the window may close now; during a run the close is remembered and
    // carried out (closeAfterRun) once the run has ended.
    bool mayCloseNow();

    // Shows the busy cursor, or the normal one again.
    virtual void showBusy(bool busy) = 0;
    // Handles the window's events, user input held back, until ended is set; the run's thread
    // calls wakeFromRun after setting it.
    virtual void waitForRun(const std::atomic<bool>& ended) = 0;
    // Wakes waitForRun; called on the run's thread.
    virtual void wakeFromRun() = 0;
    // Closes the window, as a close asked for during the run would have.
    virtual void closeAfterRun() = 0;

private:
    WorkerStart m_startWorker = [](std::function<void()> body) {
        return std::thread(std::move(body));
    };
    bool m_running = false;
    bool m_closeRequested = false;
};

}  // namespace quelvar
