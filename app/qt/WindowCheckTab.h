#pragma once

#include <array>
#include <string>

#include "form/WindowThreadTab.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace quelvar {

class LogBox;

// One tab of the window as a check run sees it: what each call does with the Qt controls.
class WindowCheckTab : public WindowThreadTab {
public:
    // The tab's controls; the indicators in the order of Indicator.
    struct Controls {
        QLineEdit* external;
        QLineEdit* internal;
        QCheckBox* https;
        LogBox* log;
        std::array<QLabel*, 4> indicators;
    };

    // Makes the tab of the controls, which live on the window's thread.
    WindowCheckTab(WindowThread& thread, Controls controls)
        : WindowThreadTab(thread), m_controls(controls) {}

    const Controls& controls() const { return m_controls; }

private:
    std::string fieldText(Half half) override;
    bool readHttps() override;
    void emptyLog() override;
    void addLogLine(const std::string& line) override;
    void showIndicator(Indicator indicator, bool visible) override;

    Controls m_controls;
};

}  // namespace quelvar
