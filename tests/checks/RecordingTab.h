#pragma once

#include <array>
#include <string>
#include <vector>

#include "checks/CheckTab.h"

namespace quelvar::test {

// A check tab that holds its fields as given, keeps the log box text as the window's box
// would, and records every call in order, so tests see what a run did and when.
class RecordingTab : public CheckTab {
public:
    RecordingTab(std::string externalText, std::string internalText, bool https);

    std::string externalText() override;
    std::string internalText() override;
    bool httpsChecked() override;
    void clearLog() override;
    void appendLine(const std::string& line) override;
    void setIndicatorVisible(Indicator indicator, bool visible) override;
    void reportCause(Half half, const std::string& cause) override;

    // Records an event of the test's own (such as the pause) among the tab's.
    void note(const std::string& event) { m_events.push_back(event); }

    // Returns the log box's text: every appended line followed by CR LF.
    const std::string& log() const { return m_log; }
    // Returns the calls in order: "clear", "line:<text>", "show:<indicator>",
    // "hide:<indicator>", and the notes.
    const std::vector<std::string>& events() const { return m_events; }
    // Returns the causes reported, as "external: <cause>" and "internal: <cause>", each
    // followed by the event that came last before it.
    const std::vector<std::string>& causes() const { return m_causes; }
    bool visible(Indicator indicator) const { return m_visible[static_cast<int>(indicator)]; }
    int externalReads() const { return m_externalReads; }
    int internalReads() const { return m_internalReads; }
    int httpsReads() const { return m_httpsReads; }

private:
    std::string m_externalText;
    std::string m_internalText;
    bool m_https;
    std::string m_log;
    std::vector<std::string> m_events;
    std::vector<std::string> m_causes;
    std::array<bool, 4> m_visible{};
    int m_externalReads = 0;
    int m_internalReads = 0;
    int m_httpsReads = 0;
};

// Returns the indicator's name as the events spell it ("ExternalGreen" ...).
std::string indicatorName(Indicator indicator);

}  // namespace quelvar::test
