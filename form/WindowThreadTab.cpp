#include "form/WindowThreadTab.h"

#include <exception>

namespace quelvar {

void WindowThreadTab::onWindowThread(const std::function<void()>& call) {
    if (m_thread.isCurrent()) {
        call();
        return;
    }
    // Nothing thrown may cross the window system's dispatch of the task: it is caught there
    // and thrown again here, on the run's thread.
    std::exception_ptr failure;
    m_thread.carryOut([&call, &failure] {
        try {
            call();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    if (failure) {
        std::rethrow_exception(failure);
    }
}

std::string WindowThreadTab::externalText() {
    std::string text;
    onWindowThread([this, &text] { text = fieldText(Half::External); });
    return text;
}

std::string WindowThreadTab::internalText() {
    std::string text;
    onWindowThread([this, &text] { text = fieldText(Half::Internal); });
    return text;
}

bool WindowThreadTab::httpsChecked() {
    bool checked = false;
    onWindowThread([this, &checked] { checked = readHttps(); });
    return checked;
}

void WindowThreadTab::clearLog() {
    onWindowThread([this] { emptyLog(); });
}

void WindowThreadTab::appendLine(const std::string& line) {
    onWindowThread([this, &line] { addLogLine(line); });
}

void WindowThreadTab::setIndicatorVisible(Indicator indicator, bool visible) {
    onWindowThread([this, indicator, visible] { showIndicator(indicator, visible); });
}

}  // namespace quelvar
