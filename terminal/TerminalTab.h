#pragma once

#include <array>
#include <ostream>
#include <string>

#include "checks/CheckTab.h"

namespace quelvar {

// A check tab on a terminal: its fields and HTTPS box are given up front, every line the run
// appends is printed at once, and the indicators are remembered to be printed at the end.
// Given a stream for causes, it prints each half's cause there as one line.
class TerminalTab : public CheckTab {
public:
    enum class Colour { Off, On };
    // What one pair of indicators shows.
    enum class PairState { None, Green, Red };

    // Prints the log and the indicators on out and, when causes is given, each half's cause on
    // it.
    TerminalTab(std::ostream& out, Colour colour, std::ostream* causes = nullptr);

    void setExternalText(std::string text) { m_externalText = std::move(text); }
    void setInternalText(std::string text) { m_internalText = std::move(text); }
    void setHttpsChecked(bool checked) { m_https = checked; }

    std::string externalText() override { return m_externalText; }
    std::string internalText() override { return m_internalText; }
    bool httpsChecked() override { return m_https; }
    // Starts a new log; what was printed stays printed.
    void clearLog() override {}
    // Prints each line of the log box that the appended text completes, so the CR LF line
    // prints as two empty lines, just as the box shows it.
    void appendLine(const std::string& line) override;
    void setIndicatorVisible(Indicator indicator, bool visible) override;
    // Prints "external: " or "internal: " and the cause, its line breaks turned into blanks so
    // that it stays one line.
    void reportCause(Half half, const std::string& cause) override;

    // Returns what the external indicators show.
    PairState externalState() const;
    // Returns what the internal indicators show.
    PairState internalState() const;
    // Prints "[external] " and "[internal] " lines with the state of each pair; log lines
    // never begin with "[".
    void printIndicators();

private:
    PairState pairState(Indicator green, Indicator red) const;
    void printState(const char* half, PairState state);

    std::ostream& m_out;
    Colour m_colour;
    std::ostream* m_causes;
    std::string m_externalText;
    std::string m_internalText;
    bool m_https = false;
    std::array<bool, 4> m_visible{};
};

}  // namespace quelvar
