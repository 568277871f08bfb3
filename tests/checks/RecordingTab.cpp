#include "tests/checks/RecordingTab.h"

namespace quelvar::test {

RecordingTab::RecordingTab(std::string externalText, std::string internalText, bool https)
    : m_externalText(std::move(externalText)),
      m_internalText(std::move(internalText)),
      m_https(https) {}

std::string RecordingTab::externalText() {
    ++m_externalReads;
    return m_externalText;
}

std::string RecordingTab::internalText() {
    ++m_internalReads;
    return m_internalText;
}

bool RecordingTab::httpsChecked() {
    ++m_httpsReads;
    return m_https;
}

void RecordingTab::clearLog() {
    m_log.clear();
    m_events.push_back("clear");
}

void RecordingTab::appendLine(const std::string& line) {
    m_log += line;
    m_log += "\r\n";
    m_events.push_back("line:" + line);
}

void RecordingTab::reportCause(Half half, const std::string& cause) {
    m_causes.push_back((half == Half::External ? "external: " : "internal: ") + cause);
    m_causes.push_back(m_events.empty() ? "" : "after " + m_events.back());
}

void RecordingTab::setIndicatorVisible(Indicator indicator, bool visible) {
    m_visible[static_cast<int>(indicator)] = visible;
    m_events.push_back((visible ? "show:" : "hide:") + indicatorName(indicator));
}

std::string indicatorName(Indicator indicator) {
    switch (indicator) {
        case Indicator::ExternalGreen:
            return "ExternalGreen";
        case Indicator::ExternalRed:
            return "ExternalRed";
        case Indicator::InternalGreen:
            return "InternalGreen";
        case Indicator::InternalRed:
            return "InternalRed";
    }
    return "?";
}

}  // namespace quelvar::test
