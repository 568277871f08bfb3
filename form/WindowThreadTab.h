#pragma once

#include <functional>
#include <string>

#include "checks/CheckTab.h"
#include "form/WindowThread.h"

namespace quelvar {

// One tab of a window as a check run sees it. A run works on a thread of its own while the
// window keeps drawing; every call is carried out on the window's thread, and a call from the
// run's thread waits until it has been carried out there, what it threw rethrown on the run's
// thread. Each window gives what each call does with its controls.
class WindowThreadTab : public CheckTab {
public:
    // Makes the tab whose calls reach the controls through the window's thread, which outlives
    // the tab.
    explicit WindowThreadTab(WindowThread& thread) : m_thread(thread) {}

    std::string externalText() final;
    std::string internalText() final;
    bool httpsChecked() final;
    void clearLog() final;
    void appendLine(const std::string& line) final;
    void setIndicatorVisible(Indicator indicator, bool visible) final;

protected:
    // What each call does with the controls, on the window's thread. Texts are UTF-8.
    // Returns the text of the half's address field.
    virtual std::string fieldText(Half half) = 0;
    virtual bool readHttps() = 0;
    virtual void emptyLog() = 0;
    // Appends the line followed by CR LF.
    virtual void addLogLine(const std::string& line) = 0;
    virtual void showIndicator(Indicator indicator, bool visible) = 0;

private:
    // Carries the call out on the window's thread: at once when the caller is on it.
    void onWindowThread(const std::function<void()>& call);

    WindowThread& m_thread;
};

}  // namespace quelvar
