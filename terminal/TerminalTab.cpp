#include "terminal/TerminalTab.h"

#include <string_view>

namespace quelvar {

TerminalTab::TerminalTab(std::ostream& out, Colour colour, std::ostream* causes)
    : m_out(out), m_colour(colour), m_causes(causes) {}

void TerminalTab::clearLog() {
    m_external = {};
    m_internal = {};
    m_halfStart.reset();
    m_lastLine.reset();
}

void TerminalTab::appendLine(const std::string& line) {
    // The run's first line starts the external half; each line after a half's start may be its
    // verdict, and the last one before the half's cause is.
    if (!m_halfStart) {
        m_halfStart = Clock::now();
    } else {
        m_lastLine = line;
    }
    // The log box holds the line followed by CR LF; every CR LF in that text ends one line
    // on the terminal.
    const std::string text = line + "\r\n";
    std::string_view rest = text;
    for (auto end = rest.find("\r\n"); end != std::string_view::npos; end = rest.find("\r\n")) {
        m_out << rest.substr(0, end) << '\n';
        rest.remove_prefix(end + 2);
    }
    m_out << std::flush;
}

void TerminalTab::setIndicatorVisible(Indicator indicator, bool visible) {
    m_visible[static_cast<std::size_t>(indicator)] = visible;
}

void TerminalTab::markPauseEnd() {
    m_halfStart = Clock::now();
    m_lastLine.reset();
}

void TerminalTab::reportCause(Half half, const std::string& cause) {
    const Clock::time_point now = Clock::now();
    HalfRecord& record = half == Half::External ? m_external : m_internal;
    record.line = m_lastLine;
    record.cause = oneLine(cause);
    record.duration =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - m_halfStart.value_or(now));
    // The internal half's time starts at the end of the pause (markPauseEnd); until then it
    // runs from here.
    m_halfStart = now;
    m_lastLine.reset();
    if (m_causes != nullptr) {
        *m_causes << (half == Half::External ? "external: " : "internal: ") << record.cause
                  << std::endl;
    }
}

std::string TerminalTab::oneLine(const std::string& cause) {
    // System texts come with CR LF inside them (the socket errors, Windows messages); every
    // run of line breaks becomes one blank, and none is left at the end.
    std::string line;
    line.reserve(cause.size());
    bool inBreak = false;
    for (const char c : cause) {
        if (c == '\r' || c == '\n') {
            inBreak = true;
            continue;
        }
        if (inBreak && !line.empty()) {
            line += ' ';
        }
        inBreak = false;
        line += c;
    }
    return line;
}

TerminalTab::PairState TerminalTab::externalState() const {
    return pairState(Indicator::ExternalGreen, Indicator::ExternalRed);
}

TerminalTab::PairState TerminalTab::internalState() const {
    return pairState(Indicator::InternalGreen, Indicator::InternalRed);
}

TerminalTab::PairState TerminalTab::pairState(Indicator green, Indicator red) const {
    if (m_visible[static_cast<std::size_t>(green)]) {
        return PairState::Green;
    }
    if (m_visible[static_cast<std::size_t>(red)]) {
        return PairState::Red;
    }
    return PairState::None;
}

void TerminalTab::printIndicators() {
    printState("external", externalState());
    printState("internal", internalState());
    m_out << std::flush;
}

void TerminalTab::printState(const char* half, PairState state) {
    std::string_view word = "none";
    std::string_view colour;
    switch (state) {
        case PairState::Green:
            word = "green";
            colour = "\033[32m";
            break;
        case PairState::Red:
            word = "red";
            colour = "\033[31m";
            break;
        case PairState::None:
            break;
    }
    m_out << '[' << half << "] ";
    if (m_colour == Colour::On && !colour.empty()) {
        m_out << colour << word << "\033[0m";
    } else {
        m_out << word;
    }
    m_out << '\n';
}

}  // namespace quelvar
