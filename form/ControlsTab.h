#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "form/WindowThreadTab.h"

namespace quelvar {

// The controls of one tab as a window has them: the two address fields, the HTTPS box, the
// log box and the indicators in the order of Indicator.
template <typename Field, typename Box, typename Log, typename Picture>
struct TabControls {
    Field external;
    Field internal;
    Box https;
    Log log;
    std::array<Picture, 4> indicators;
};

// One tab of a window as a check run sees it, over its controls. Calls is the window's own:
// static text(field), checked(box), clear(log), append(log, line) and show(picture, visible),
// each called on the window's thread.
template <typename ControlSet, typename Calls>
class ControlsTab : public WindowThreadTab {
public:
    using Controls = ControlSet;

    // Makes the tab of the controls, which live on the window's thread.
    ControlsTab(WindowThread& thread, Controls controls)
        : WindowThreadTab(thread), m_controls(controls) {}

    const Controls& controls() const { return m_controls; }

private:
    std::string fieldText(Half half) override {
        return Calls::text(half == Half::External ? m_controls.external : m_controls.internal);
    }
    bool readHttps() override { return Calls::checked(m_controls.https); }
    void emptyLog() override { Calls::clear(m_controls.log); }
    void addLogLine(const std::string& line) override { Calls::append(m_controls.log, line); }
    void showIndicator(Indicator indicator, bool visible) override {
        Calls::show(m_controls.indicators.at(static_cast<std::size_t>(indicator)), visible);
    }

    Controls m_controls;
};

}  // namespace quelvar
