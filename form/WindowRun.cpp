#include "form/WindowRun.h"

#include <exception>

namespace quelvar {

void WindowRun::runTabCheckOnWorker(CheckKind kind, CheckTab& tab, ServiceProfile profile,
                                    const CheckRunSettings& settings) {
    runOnWorker(
        [kind, &tab, profile, &settings] { runCheck(product(kind), tab, profile, settings); });
}

void WindowRun::runOnWorker(const std::function<void()>& body) {
    if (m_running) {
        return;
    }
    m_running = true;
    showBusy(true);

    std::exception_ptr failure;
    std::atomic<bool> ended = false;
    std::thread worker;
    try {
        worker = m_startWorker([&] {
            try {
                body();
            } catch (...) {
                failure = std::current_exception();
            }
            ended = true;
            wakeFromRun();
        });
    } catch (...) {
        // No run has begun: the window takes input again, and the failure goes to the
        // caller's error box.
        m_running = false;
        showBusy(false);
        throw;
    }
    waitForRun(ended);
    worker.join();

    m_running = false;
    showBusy(false);
    if (m_closeRequested) {
        m_closeRequested = false;
        closeAfterRun();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

bool WindowRun::mayCloseNow() {
    if (m_running) {
        m_closeRequested = true;
        return false;
    }
    return true;
}

}  // namespace quelvar
